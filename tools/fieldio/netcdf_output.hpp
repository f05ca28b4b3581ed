// fieldtool to-netcdf: one record pair of a result becomes a NetCDF variable.
#pragma once

#include <cstdint>

struct NetcdfOutputOptions {
    int32_t record = 1;              // which record pair, 1-based
    const char* like_path = nullptr; // template file and variable, or null
    const char* like_var = nullptr;
    const char* name = nullptr;      // variable name, or null for the default
};

// Points holding MISSING_VALUE are written as the variable's _FillValue
// (netCDF's default float fill, NC_FILL_FLOAT); NaN and infinities stay as they are.
void write_result_netcdf(const char* record_path, const char* nc_path, const NetcdfOutputOptions& opt);
