#include "map_output.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netcdf.h>
#include <netcdf_mem.h>

#include "netcdf_output.hpp"
#include "output_file.hpp"
#include "png_output.hpp"
#include "run_frame.hpp"

namespace {

void text_attribute(int nc, int var, const char* name, const std::string& value, const char* path)
{
    nc_check(nc_put_att_text(nc, var, name, value.size(), value.c_str()), path, name);
}

void number_attribute(int nc, int var, const char* name, double value, const char* path)
{
    nc_check(nc_put_att_double(nc, var, name, NC_DOUBLE, 1, &value), path, name);
}

void count_attribute(int nc, const char* name, int64_t value, const char* path)
{
    const long long v = value;
    nc_check(nc_put_att_longlong(nc, NC_GLOBAL, name, NC_INT64, 1, &v), path, name);
}

int define_float(int nc, const OutputGrid& g, const char* name, const char* long_name, const char* path)
{
    int var;
    nc_check(nc_def_var(nc, name, NC_FLOAT, g.rank, g.dimids, &var), path, name);
    const float fill = NC_FILL_FLOAT;
    nc_check(nc_put_att_float(nc, var, "_FillValue", NC_FLOAT, 1, &fill), path, "_FillValue");
    text_attribute(nc, var, "long_name", long_name, path);
    text_attribute(nc, var, "units", "1", path);
    return var;
}

int define_mask(int nc, const OutputGrid& g, const char* name, const std::string& long_name, const char* path)
{
    int var;
    nc_check(nc_def_var(nc, name, NC_BYTE, g.rank, g.dimids, &var), path, name);
    const signed char fill = MASK_FILL, flags[2] = {0, 1};
    nc_check(nc_put_att_schar(nc, var, "_FillValue", NC_BYTE, 1, &fill), path, "_FillValue");
    text_attribute(nc, var, "long_name", long_name, path);
    text_attribute(nc, var, "units", "1", path);
    nc_check(nc_put_att_schar(nc, var, "flag_values", NC_BYTE, 2, flags), path, "flag_values");
    text_attribute(nc, var, "flag_meanings", "not_significant significant", path);
    return var;
}

// NaN (not tested, no value) and the chain's missing marker become the fill.
void put_floats(int nc, int var, const double* d, const float* f, int64_t n, const char* path)
{
    auto* v = static_cast<float*>(std::malloc(sizeof(float) * size_t(n)));
    if (!v) fatal(path, "cannot reserve memory for the output");
    for (int64_t i = 0; i < n; ++i) {
        const float x = d ? float(d[i]) : f[i];
        v[i] = (d && std::isnan(d[i])) || x == MISSING_VALUE ? NC_FILL_FLOAT : x;
    }
    nc_check(nc_put_var_float(nc, var, v), path, "writing the values");
    std::free(v);
}

std::string fixed(double v, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

AxisKind axis_kind(Geography g)
{
    return g == Geography::latitude ? AxisKind::latitude : g == Geography::longitude ? AxisKind::longitude
                                                                                       : AxisKind::plain;
}

} // namespace

void write_map_netcdf(const char* path, const FieldSource& field, const PointResults& res, const SignificanceMap& sig,
                      const TestSettings& test, const MapDescription& d)
{
    // Built in memory and written by output_file only when complete: a failed run
    // leaves no partial map and an older one as it was.
    int out;
    nc_check(nc_create_mem(path, NC_NETCDF4, 1 << 20, &out), path, "cannot create");
    OutputGrid g;
    define_grid_like(field.tv, field.path, out, path, g);

    const std::string method = neff_method_name(test.method);
    const int r = define_float(out, g, "r", "Pearson correlation with the series", path);
    const int neff = define_float(out, g, "neff", "effective sample size of the correlation with the series", path);
    text_attribute(out, neff, "comment", "nstar's value from the autocorrelations up to the critical lags", path);
    const int lag1 = define_float(out, g, "neff_lag1", "lag-1 effective sample size N(1 - a1 b1)/(1 + a1 b1)", path);
    const int dof = define_float(out, g, "dof", "degrees of freedom of the test, min(neff, N) - 2", path);
    text_attribute(out, dof, "neff_method", method, path);
    int p;
    nc_check(nc_def_var(out, "p", NC_DOUBLE, g.rank, g.dimids, &p), path, "p");
    const double pfill = NC_FILL_DOUBLE;
    nc_check(nc_put_att_double(out, p, "_FillValue", NC_DOUBLE, 1, &pfill), path, "_FillValue");
    text_attribute(out, p, "long_name", "two-sided p-value of r under Student's t with dof degrees of freedom", path);
    text_attribute(out, p, "units", "1", path);
    const int local = define_mask(out, g, "sig_local", "p < alpha (" + fixed(test.alpha, 3) + ")", path);
    const int fdr = define_mask(out, g, "sig_fdr",
                                "significant after Benjamini-Hochberg at q = " + fixed(test.q, 3) + " (p <= p_FDR)",
                                path);

    text_attribute(out, NC_GLOBAL, "Conventions", "CF-1.8", path);
    text_attribute(out, NC_GLOBAL, "history", d.history, path);
    text_attribute(out, NC_GLOBAL, "field", d.field_source, path);
    text_attribute(out, NC_GLOBAL, "field_steps", d.field_steps, path);
    text_attribute(out, NC_GLOBAL, "series", d.series_source, path);
    text_attribute(out, NC_GLOBAL, "series_steps", d.series_steps, path);
    count_attribute(out, "steps", d.steps, path);
    text_attribute(out, NC_GLOBAL, "neff_method", method, path);
    number_attribute(out, NC_GLOBAL, "alpha", test.alpha, path);
    number_attribute(out, NC_GLOBAL, "q", test.q, path);
    number_attribute(out, NC_GLOBAL, "p_FDR", sig.p_fdr, path);
    count_attribute(out, "points_tested", sig.tested, path);
    count_attribute(out, "points_significant_local", sig.local, path);
    count_attribute(out, "points_significant_fdr", sig.fdr, path);
    count_attribute(out, "points_dof_capped", sig.capped, path);
    nc_check(nc_enddef(out), path, "ending definitions");

    copy_grid_coordinates(field.tv, field.path, g, out, path);
    put_floats(out, r, res.r, nullptr, res.points, path);
    put_floats(out, neff, nullptr, res.neff, res.points, path);
    put_floats(out, lag1, sig.neff_lag1, nullptr, res.points, path);
    put_floats(out, dof, sig.dof, nullptr, res.points, path);
    auto* pv = static_cast<double*>(std::malloc(sizeof(double) * size_t(res.points)));
    if (!pv) fatal(path, "cannot reserve memory for the output");
    for (int64_t i = 0; i < res.points; ++i) pv[i] = std::isnan(sig.p[i]) ? pfill : sig.p[i];
    nc_check(nc_put_var_double(out, p, pv), path, "writing p");
    std::free(pv);
    nc_check(nc_put_var_schar(out, local, sig.sig_local), path, "writing sig_local");
    nc_check(nc_put_var_schar(out, fdr, sig.sig_fdr), path, "writing sig_fdr");
    NC_memio image{};
    nc_check(nc_close_memio(out, &image), path, "closing");
    static OutputFile file;
    begin_output_file(file, path);
    write_output_file(file, image.memory, image.size);
    commit_output_file(file);
    std::free(image.memory);
}

bool grid_is_drawable(const FieldSource& field)
{
    const TimeVariable& tv = field.tv;
    return tv.rank <= 3 && tv.columns <= MAX_MAP_SIDE && tv.rows <= MAX_MAP_SIDE &&
           int64_t(tv.columns) * tv.rows <= MAX_MAP_CELLS;
}

void draw_result_png(const char* path, const FieldSource& field, const PointResults& res, const SignificanceMap& sig,
                     const RunOptions& opt, int32_t steps)
{
    const TimeVariable& tv = field.tv;
    const size_t n = size_t(res.points);
    auto* values = static_cast<float*>(std::malloc(sizeof(float) * n));
    auto* dots = static_cast<unsigned char*>(std::malloc(n));
    auto* rows = static_cast<double*>(std::malloc(sizeof(double) * size_t(tv.rows)));
    auto* columns = static_cast<double*>(std::malloc(sizeof(double) * size_t(tv.columns)));
    if (!values || !dots || !rows || !columns) fatal(path, "cannot reserve memory for the picture");
    const char* name = opt.png_var == PictureVariable::r ? "r" : opt.png_var == PictureVariable::neff ? "neff" : "p";
    for (size_t i = 0; i < n; ++i) {
        values[i] = opt.png_var == PictureVariable::r      ? float(res.r[i])
                    : opt.png_var == PictureVariable::neff ? res.neff[i]
                                                           : float(sig.p[i]);
        dots[i] = sig.sig_fdr[i] == 1;
    }
    MapStyle style;
    style.scale = opt.png_var == PictureVariable::r ? ColourScale::diverging : ColourScale::sequential;
    style.fixed_range = opt.fixed_range;
    style.lo = opt.range_lo;
    style.hi = opt.range_hi;
    style.stipple = dots;
    if (tv.rank == 3) {
        style.row0_on_top = coordinate_decreases(tv.ncid, tv.dimids[1], field.path);
        if (read_coordinate(tv.ncid, tv.dimids[1], field.path, rows, size_t(tv.rows))) {
            style.row_coordinates = rows;
            style.row_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[1]));
        }
    }
    if (tv.rank >= 2 && read_coordinate(tv.ncid, tv.dimids[tv.rank - 1], field.path, columns, size_t(tv.columns))) {
        style.column_coordinates = columns;
        style.column_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[tv.rank - 1]));
    }
    // The series by its file name alone: a long path would widen the picture.
    const std::string series = opt.series.substr(opt.series.rfind('/') + 1);
    const std::string title = std::string(name) + " with " + series + ", N = " + std::to_string(steps) +
                              ", alpha = " + fixed(opt.alpha, 3) + ", q = " + fixed(opt.q, 3) + ": " +
                              std::to_string(sig.fdr) + " points significant after FDR (dotted)";
    style.title = title.c_str();
    write_map_png(path, values, tv.columns, tv.rows, style);
    std::free(values);
    std::free(dots);
    std::free(rows);
    std::free(columns);
}
