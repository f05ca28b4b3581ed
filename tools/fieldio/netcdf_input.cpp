#include "netcdf_input.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <netcdf.h>
#include <string>
#include <vector>

#include "missing_points.hpp"
#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"

namespace {

// A numeric attribute of the variable, as doubles; returns how many were read
// (0 when the attribute is absent).
int number_attribute(const std::string& path, int ncid, int varid, const char* name, double* dest, int capacity)
{
    nc_type t;
    size_t len;
    if (nc_inq_att(ncid, varid, name, &t, &len) != NC_NOERR) return 0;
    if (t == NC_CHAR || t == NC_STRING || len == 0 || len > size_t(capacity))
        fail(path, std::string("attribute ") + name + " is not a short list of numbers");
    nc_check(nc_get_att_double(ncid, varid, name, dest), path, name);
    return int(len);
}

// netCDF's own fill for a type, which unwritten cells hold when the variable
// names none. Bytes have no such default by the usual conventions.
bool default_fill(nc_type t, double& fill)
{
    switch (t) {
    case NC_SHORT: fill = NC_FILL_SHORT; return true;
    case NC_USHORT: fill = NC_FILL_USHORT; return true;
    case NC_INT: fill = NC_FILL_INT; return true;
    case NC_UINT: fill = NC_FILL_UINT; return true;
    case NC_INT64: fill = double(NC_FILL_INT64); return true;
    case NC_UINT64: fill = double(NC_FILL_UINT64); return true;
    case NC_FLOAT: fill = double(NC_FILL_FLOAT); return true;
    case NC_DOUBLE: fill = NC_FILL_DOUBLE; return true;
    default: return false;
    }
}

} // namespace

Unpacking read_unpacking(const std::string& path, const TimeVariable& tv)
{
    Unpacking u;
    double one[1];
    if (number_attribute(path, tv.ncid, tv.varid, "_FillValue", one, 1) == 1) {
        u.fill = one[0];
        u.has_fill = true;
    } else {
        u.has_fill = default_fill(tv.type, u.fill);
    }
    u.missing_count = number_attribute(path, tv.ncid, tv.varid, "missing_value", u.missing, 8);
    if (number_attribute(path, tv.ncid, tv.varid, "scale_factor", one, 1) == 1) u.scale = one[0];
    if (number_attribute(path, tv.ncid, tv.varid, "add_offset", one, 1) == 1) u.offset = one[0];
    return u;
}


void convert_netcdf(const std::string& nc_path, const std::string& var, const std::string& out_path)
{
    const std::string inputs[] = {nc_path};
    refuse_output_over_inputs(out_path, inputs, 1);
    const TimeVariable tv = open_time_variable(nc_path, var);
    const size_t steps = tv.sizes[0];
    const std::string what = "variable \"" + var + "\" (" + dimension_list(tv) + ")";
    if (steps == 0) fail(nc_path, what + " has no time steps");
    if (tv.points == 0) fail(nc_path, what + " has no grid points");
    if (steps > size_t(MAX_STEPS))
        fail(nc_path, what + " has " + std::to_string(steps) +
                          " time steps; at most 2000 fit, so take a shorter period first, for example "
                          "ncks -d " + tv.dim_names[0] + ",0,1999 IN.nc OUT.nc");
    if (tv.points > MAX_POINTS) {
        std::string example = "ncks";
        for (int d = 1; d < tv.rank; ++d) example += std::string(" -d ") + tv.dim_names[d] + ",FIRST,LAST";
        fail(nc_path, what + " has " + std::to_string(tv.points) +
                          " grid points; at most 10000 fit, so take a smaller region or a coarser grid "
                          "first, for example " + example + " IN.nc OUT.nc");
    }
    const Unpacking u = read_unpacking(nc_path, tv);

    // The whole field is read before the output is opened: the gap rule needs
    // every step of a point before step 2 can be written.
    const auto n = int32_t(tv.points);
    std::vector<double> stored(static_cast<size_t>(n));
    std::vector<float> field(steps * size_t(n));
    size_t start[NC_MAX_RANK] = {}, count[NC_MAX_RANK];
    for (int d = 0; d < tv.rank; ++d) count[d] = tv.sizes[d];
    count[0] = 1;
    for (size_t t = 0; t < steps; ++t) {
        start[0] = t;
        nc_check(nc_get_vara_double(tv.ncid, tv.varid, start, count, stored.data()), nc_path, "reading a time step");
        float* row = field.data() + t * size_t(n);
        for (int32_t p = 0; p < n; ++p) row[p] = unpack_value(u, stored[size_t(p)]);
    }

    const int32_t gappy = mark_points_with_gaps(field.data(), int32_t(steps), n);
    if (gappy > 0 && steps >= 2)
        std::fprintf(stderr,
                     "fieldtool: %s: note: %d of %d points miss at least one time step and are marked missing "
                     "(at step 2), so the chain leaves them out\n",
                     nc_path.c_str(), gappy, n);

    RecordOutput out;
    open_record_output(out, out_path);
    for (size_t t = 0; t < steps; ++t)
        write_pair(out, RecordHeader{int32_t(t + 1), tv.columns, tv.rows, n}, field.data() + t * size_t(n));
    close_record_output(out);
}
