// The index series as a driver takes it: FILE[:COLUMN] or FILE:VAR, recognised
// by what the file holds, not by its name: a NetCDF file (a 1-D variable along
// time, with its own time coordinate), a record file of one point per pair (no
// dates), or else CSV text (a plain column, a column beside a date column, or a
// table of one row per year and twelve month columns).
#pragma once

#include <string>
#include <vector>

#include "time_axis.hpp"

enum class SeriesFormat { csv, year_table, netcdf, records };

struct SeriesSource {
    std::string file;             // the file, for messages
    SeriesFormat format = SeriesFormat::csv;
    std::string name;             // the column's header or the variable's name; "" when there is none
    std::string long_name, units; // as the file gives them; "" when it does not
    std::vector<float> values;    // one per step, MISSING_VALUE where missing
    TimeAxis axis;                // has_dates is false when the file gives no dates
    std::string description;      // "column 2 (\"nino34\") of a CSV file", for the summary
};

struct SeriesReadOptions {
    // --missing-value X: a value equal to X is missing (CSV cells as written,
    // NetCDF and record values as read).
    bool has_missing_value = false;
    double missing_value = 0;
};

// FILE and the part after it: the longest prefix of the argument that names an
// existing file, and what follows its ':' (a column may hold ':' itself,
// "x.csv:nino3:4"). With no such prefix, the file is the part before the first
// ':' and the run fails there with the system's "No such file or directory".
struct SeriesArgument {
    std::string file, selector;
};
SeriesArgument split_series_argument(const std::string& argument);

// Reads the whole series; every problem throws RunError naming the file.
// More than MAX_STEPS steps are fine: the pairing selects.
SeriesSource read_series(const std::string& argument, const SeriesReadOptions& options);

// A series file's text, read to its end (at most 1 GiB), or only its first bytes
// when they show that it is not text (a NetCDF or record file).
std::string read_series_text(const std::string& path);
