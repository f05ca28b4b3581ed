// sampledata netcdf: a NetCDF field of AR(1) points on a latitude-longitude grid
// (optionally with levels), an AR(1) index as a 1-D variable of the same file and
// as a CSV column, a planted region correlated with the index, and optional
// missing points and gaps.
#pragma once

#include <string>

struct NetcdfSample {
    int lon = 144, lat = 73, levels = 0; // levels = 0: no level dimension
    int steps = 240;
    double series_phi = 0.6, field_phi = 0.6;
    double region_r = 0;  // correlation planted in the region; 0 plants nothing
    int missing = 0;      // points missing at every step
    int gaps = 0;         // points missing at one step only
    unsigned seed = 1;
    std::string field_path, csv_path;
};

// Writes the files; errors end the run naming the file.
void write_netcdf_sample(const NetcdfSample& s);

// How many points of the planted region a neffmap map marks significant after
// FDR (sig_fdr), and how many outside it.
void report_planted(const std::string& field_path, const std::string& map_path);
