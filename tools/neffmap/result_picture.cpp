#include "result_picture.hpp"

#include <cstdio>

#include "png_output.hpp"

namespace {

AxisKind axis_kind(Geography g)
{
    return g == Geography::latitude ? AxisKind::latitude : g == Geography::longitude ? AxisKind::longitude
                                                                                       : AxisKind::plain;
}

std::string fixed(double v, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

} // namespace

bool grid_is_drawable(const FieldSource& field)
{
    const TimeVariable& tv = field.tv;
    return tv.rank <= 3 && tv.columns <= MAX_MAP_SIDE && tv.rows <= MAX_MAP_SIDE &&
           int64_t(tv.columns) * tv.rows <= MAX_MAP_CELLS;
}

void draw_result_png(OutputFile& out, const FieldSource& field, const std::vector<float>& values,
                     const std::vector<unsigned char>& dots, const MapTest& test, const RunOptions& opt)
{
    const TimeVariable& tv = field.tv;
    std::vector<double> rows(size_t(tv.rows)), columns(size_t(tv.columns));
    const char* name = opt.png_var == PictureVariable::r ? "r" : opt.png_var == PictureVariable::neff ? "neff" : "p";
    MapStyle style;
    style.scale = opt.png_var == PictureVariable::r ? ColourScale::diverging : ColourScale::sequential;
    style.fixed_range = opt.fixed_range;
    style.lo = opt.range.lo;
    style.hi = opt.range.hi;
    style.stipple = dots.data();
    if (tv.rank == 3) {
        style.row0_on_top = coordinate_decreases(tv.ncid, tv.dimids[1], field.path);
        if (read_coordinate(tv.ncid, tv.dimids[1], field.path, rows.data(), size_t(tv.rows))) {
            style.row_coordinates = rows.data();
            style.row_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[1]));
        }
    }
    if (tv.rank >= 2 &&
        read_coordinate(tv.ncid, tv.dimids[tv.rank - 1], field.path, columns.data(), size_t(tv.columns))) {
        style.column_coordinates = columns.data();
        style.column_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[tv.rank - 1]));
    }
    // The series by its file name alone: a long path would widen the picture.
    const std::string series = opt.series.substr(opt.series.rfind('/') + 1);
    const std::string title = std::string(name) + " with " + series + ", N = " + std::to_string(field.steps) +
                              ", alpha = " + fixed(opt.alpha, 3) + ", q = " + fixed(opt.q, 3) + ": " +
                              std::to_string(test.fdr) + " points significant after FDR (dotted)";
    style.title = title.c_str();
    write_map_png(out, values.data(), tv.columns, tv.rows, style);
}
