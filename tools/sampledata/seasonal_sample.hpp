// sampledata seasonal: raw monthly data as users download them. A NetCDF field
// with its seasonal cycle and a CF time axis (hours since 1800, standard
// calendar, stamped mid-month), and an index as a table of one row per year
// and twelve month columns, which may start later and cover a longer period
// than the field. In a planted region the field's anomalies are
// r × the index's standardised anomaly of the same month + the rest of their
// own noise, so pairing the right months gives correlation r there and any
// other pairing none.
#pragma once

#include <string>

struct SeasonalSample {
    int lon = 144, lat = 73;
    int start_year = 1980, years = 11;             // the field's months
    int index_start_year = 1982, index_years = 20; // the table's rows
    double region_r = 0.6;
    unsigned seed = 1;
    std::string field_path, table_path;
};

// Writes both files; throws RunError naming the file on failure.
void write_seasonal_sample(const SeasonalSample& s);
