#include "netcdf_time_axis.hpp"

#include <cmath>
#include <netcdf.h>
#include <vector>

#include "cf_time.hpp"
#include "netcdf_common.hpp"
#include "run_error.hpp"

TimeAxis read_netcdf_time_axis(int ncid, int dimid, const std::string& path)
{
    TimeAxis axis;
    char name[NC_MAX_NAME + 1];
    size_t steps;
    nc_check(nc_inq_dim(ncid, dimid, name, &steps), path, "time dimension");
    int varid, ndims, dim;
    if (nc_inq_varid(ncid, name, &varid) != NC_NOERR || nc_inq_varndims(ncid, varid, &ndims) != NC_NOERR ||
        ndims != 1 || nc_inq_vardimid(ncid, varid, &dim) != NC_NOERR || dim != dimid) {
        axis.origin = std::string("dimension \"") + name + "\", which has no coordinate variable";
        return axis;
    }
    const std::string origin = std::string("the coordinate variable \"") + name + "\"";
    nc_type type;
    nc_check(nc_inq_vartype(ncid, varid, &type), path, name);
    const std::string units = text_attribute(ncid, varid, "units");
    if (units.empty()) {
        axis.origin = origin + ", which has no units";
        return axis;
    }
    if (!is_numeric(type)) {
        axis.origin = origin;
        axis.problem = origin + " does not hold numbers";
        return axis;
    }
    std::vector<double> values(steps);
    if (steps > 0) nc_check(nc_get_var_double(ncid, varid, values.data()), path, "reading the time coordinate");
    double fill;
    const bool has_fill = nc_get_att_double(ncid, varid, "_FillValue", &fill) == NC_NOERR;
    for (size_t i = 0; i < steps; ++i)
        if (std::isnan(values[i]) || (has_fill && values[i] == fill)) {
            axis.origin = origin;
            axis.problem = "step " + std::to_string(i + 1) + " of " + origin + " has no value";
            return axis;
        }
    return cf_time_axis(values.data(), steps, units, text_attribute(ncid, varid, "calendar"), origin);
}
