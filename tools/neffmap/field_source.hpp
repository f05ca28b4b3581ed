// The field: its variable in the NetCDF file, held open for the run, with the
// steps that are paired with the series.
#pragma once

#include <cstdint>
#include <string>

#include "netcdf_common.hpp"
#include "netcdf_input.hpp"
#include "time_axis.hpp"

struct FieldSource {
    std::string path, var;
    TimeVariable tv;
    Unpacking unpack;
    TimeAxis axis;          // the dates of the time coordinate, when it has them
    std::string units;      // VAR's units attribute, or ""
    int64_t first_step = 1; // 1-based: the first paired step
    int32_t steps = 0;      // the paired steps
};

// Opens the field with every step selected; throws on a variable without
// steps or points. The pairing narrows first_step and steps.
FieldSource open_field(const std::string& path, const std::string& var);
