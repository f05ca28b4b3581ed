// fieldtool to-netcdf: one record pair of a result becomes a NetCDF variable.
#pragma once

#include <cstdint>

#include "netcdf_common.hpp"

struct NetcdfOutputOptions {
    int32_t record = 1;              // which record pair, 1-based
    const char* like_path = nullptr; // template file and variable, or null
    const char* like_var = nullptr;
    const char* name = nullptr;      // variable name, or null for the default
};

// Points holding MISSING_VALUE are written as the variable's _FillValue
// (netCDF's default float fill, NC_FILL_FLOAT); NaN and infinities stay as they are.
void write_result_netcdf(const char* record_path, const char* nc_path, const NetcdfOutputOptions& opt);

// The grid dimensions after time of a time-first variable, and their coordinate
// variables with every attribute, defined in an output in define mode; the
// coordinates' values are copied once the output has left define mode.
struct OutputGrid {
    int rank = 0;
    int dimids[NC_MAX_RANK] = {};
    int coord_from[NC_MAX_RANK] = {}; // template coordinate variable, or -1
    int coord_to[NC_MAX_RANK] = {};
};
void define_grid_like(const TimeVariable& tv, const char* like_path, int out, const char* out_path, OutputGrid& g);
void copy_grid_coordinates(const TimeVariable& tv, const char* like_path, const OutputGrid& g, int out,
                           const char* out_path);
