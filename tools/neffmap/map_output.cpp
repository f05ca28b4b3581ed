#include "map_output.hpp"

#include <cstdlib>
#include <cstring>
#include <netcdf.h>

#include "netcdf_output.hpp"
#include "png_output.hpp"
#include "run_frame.hpp"

namespace {

void text_attribute(int nc, int var, const char* name, const std::string& value, const char* path)
{
    nc_check(nc_put_att_text(nc, var, name, value.size(), value.c_str()), path, name);
}

// The chain's missing marker becomes the variable's _FillValue.
float* neff_for_output(const PointResults& res, float fill, const char* path)
{
    auto* v = static_cast<float*>(std::malloc(sizeof(float) * size_t(res.points)));
    if (!v) fatal(path, "cannot reserve memory for the output");
    for (int64_t p = 0; p < res.points; ++p) v[p] = res.neff[p] == MISSING_VALUE ? fill : res.neff[p];
    return v;
}

} // namespace

void write_map_netcdf(const char* path, const FieldSource& field, const PointResults& res, const MapDescription& d)
{
    int out;
    nc_check(nc_create(path, NC_CLOBBER | NC_NETCDF4, &out), path, "cannot create");
    OutputGrid g;
    define_grid_like(field.tv, field.path, out, path, g);

    int neff;
    nc_check(nc_def_var(out, "neff", NC_FLOAT, g.rank, g.dimids, &neff), path, "defining neff");
    const float fill = NC_FILL_FLOAT;
    nc_check(nc_put_att_float(out, neff, "_FillValue", NC_FLOAT, 1, &fill), path, "_FillValue");
    text_attribute(out, neff, "long_name", "effective sample size of the correlation with the series", path);
    text_attribute(out, neff, "units", "1", path);

    text_attribute(out, NC_GLOBAL, "Conventions", "CF-1.8", path);
    text_attribute(out, NC_GLOBAL, "history", d.history, path);
    text_attribute(out, NC_GLOBAL, "field", d.field_source, path);
    text_attribute(out, NC_GLOBAL, "field_steps", d.field_steps, path);
    text_attribute(out, NC_GLOBAL, "series", d.series_source, path);
    text_attribute(out, NC_GLOBAL, "series_steps", d.series_steps, path);
    nc_check(nc_enddef(out), path, "ending definitions");

    copy_grid_coordinates(field.tv, field.path, g, out, path);
    float* v = neff_for_output(res, fill, path);
    nc_check(nc_put_var_float(out, neff, v), path, "writing neff");
    std::free(v);
    nc_check(nc_close(out), path, "closing");
}

bool grid_is_drawable(const FieldSource& field) { return field.tv.rank <= 3; }

void draw_result_png(const char* path, const FieldSource& field, const PointResults& res)
{
    const TimeVariable& tv = field.tv;
    MapStyle style;
    style.row0_on_top = tv.rank == 3 && coordinate_decreases(tv.ncid, tv.dimids[1], field.path);
    write_map_png(path, res.neff, tv.columns, tv.rows, style);
}
