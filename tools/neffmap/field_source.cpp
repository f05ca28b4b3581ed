#include "field_source.hpp"

#include <algorithm>

#include "netcdf_time_axis.hpp"
#include "run_error.hpp"

FieldSource open_field(const std::string& path, const std::string& var)
{
    FieldSource f;
    f.path = path;
    f.var = var;
    f.tv = open_time_variable(path, var);
    const std::string what = "variable \"" + var + "\" (" + dimension_list(f.tv) + ")";
    if (f.tv.sizes[0] == 0) fail(path, what + " has no time steps");
    if (f.tv.points == 0) fail(path, what + " has no grid points");
    f.steps = int32_t(std::min<size_t>(f.tv.sizes[0], INT32_MAX));
    f.unpack = read_unpacking(path, f.tv);
    f.axis = read_netcdf_time_axis(f.tv.ncid, f.tv.dimids[0], path);
    f.units = text_attribute(f.tv.ncid, f.tv.varid, "units");
    return f;
}
