// The dates of a NetCDF dimension's steps, from its coordinate variable.
#pragma once

#include <string>

#include "time_axis.hpp"

// The coordinate variable of dimension `dimid` of the open file `ncid` (the
// 1-D variable of the dimension's name along it), decoded with its `units`
// and `calendar` attributes. A dimension without one, or a coordinate without
// units, gives an axis without dates; a coordinate that is not numeric, misses
// a value, or has units or a calendar that cannot be read gives an axis whose
// problem says so. netCDF errors throw RunError naming `path`.
TimeAxis read_netcdf_time_axis(int ncid, int dimid, const std::string& path);
