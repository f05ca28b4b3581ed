#include "png_output.hpp"

#include <cmath>
#include <png.h>
#include <string>
#include <vector>

#include "map_picture.hpp"
#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"

namespace {

AxisKind axis_kind(Geography g)
{
    return g == Geography::latitude ? AxisKind::latitude : g == Geography::longitude ? AxisKind::longitude : AxisKind::plain;
}

// With a template, row 0 goes on top when the row coordinate (latitude, say)
// falls from first to last: the grid then runs north to south. The template's
// coordinates also label the map's edges.
// The coordinates are read into storage the caller keeps while the style is used.
bool row0_on_top_like(const PngOptions& opt, const RecordHeader& h, MapStyle& style,
                      std::vector<double>& row_coordinates, std::vector<double>& column_coordinates)
{
    const TimeVariable tv = open_time_variable(opt.like_path, opt.like_var);
    if (tv.points != h.w4 || tv.columns != h.w2 || tv.rows != h.w3)
        fail(opt.like_path, "the grid of \"" + opt.like_var + "\" (" + dimension_list(tv) + ") is not the record's " +
                                std::to_string(h.w3) + " rows × " + std::to_string(h.w2) + " columns");
    row_coordinates.resize(size_t(h.w3));
    column_coordinates.resize(size_t(h.w2));
    const bool top = tv.rank >= 3 && coordinate_decreases(tv.ncid, tv.dimids[tv.rank - 2], opt.like_path);
    if (tv.rank >= 3 &&
        read_coordinate(tv.ncid, tv.dimids[tv.rank - 2], opt.like_path, row_coordinates.data(), size_t(h.w3))) {
        style.row_coordinates = row_coordinates.data();
        style.row_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[tv.rank - 2]));
    }
    if (tv.rank >= 2 &&
        read_coordinate(tv.ncid, tv.dimids[tv.rank - 1], opt.like_path, column_coordinates.data(), size_t(h.w2))) {
        style.column_coordinates = column_coordinates.data();
        style.column_kind = axis_kind(coordinate_geography(tv.ncid, tv.dimids[tv.rank - 1]));
    }
    return top;
}

} // namespace

void write_record_png(const std::string& record_path, const std::string& png_path, const PngOptions& opt)
{
    const std::string inputs[] = {record_path, opt.like_path};
    refuse_output_over_inputs(png_path, inputs, 2);
    RecordInput in;
    std::vector<float> values(MAX_POINTS);
    RecordHeader h;
    open_record_input(in, record_path);
    read_pair_number(in, opt.record, h, values.data());
    if (h.w2 <= 0 || h.w3 <= 0 || int64_t(h.w2) * h.w3 != h.w4)
        fail(record_path, "record pair " + std::to_string(opt.record) + " has W2 × W3 = " + std::to_string(h.w2) +
                              " × " + std::to_string(h.w3) + ", not its W4 = " + std::to_string(h.w4) +
                              " values, so it holds no grid to draw");
    MapStyle style = opt.style;
    std::vector<double> row_coordinates, column_coordinates;
    style.row0_on_top = !opt.like_path.empty()
                            ? row0_on_top_like(opt, h, style, row_coordinates, column_coordinates)
                            : opt.flip;
    write_map_png(png_path, values.data(), h.w2, h.w3, style);
}

void write_map_png(const std::string& png_path, const float* values, int32_t columns, int32_t rows,
                   const MapStyle& style)
{
    OutputFile out;
    begin_output_file(out, png_path);
    write_map_png(out, values, columns, rows, style);
    commit_output_file(out);
}

void write_map_png(OutputFile& out, const float* values, int32_t columns, int32_t rows, const MapStyle& style)
{
    const std::string& png_path = out.path;
    if (columns < 1 || rows < 1 || columns > MAX_MAP_SIDE || rows > MAX_MAP_SIDE ||
        int64_t(columns) * rows > MAX_MAP_CELLS) {
        fail(png_path, "a grid of " + std::to_string(rows) + " rows × " + std::to_string(columns) +
                           " columns cannot be drawn (1 … " + std::to_string(MAX_MAP_SIDE) + " each, at most " +
                           std::to_string(MAX_MAP_CELLS) + " cells)");
    }
    if (style.fixed_range && !(style.lo < style.hi && std::isfinite(style.lo) && std::isfinite(style.hi)))
        fail(png_path, "the colour range LO:HI needs finite numbers with LO below HI");
    const MapLayout m = plan_map(columns, rows, style);
    std::vector<unsigned char> rgb(size_t(m.width) * size_t(m.height) * 3);
    draw_map(values, columns, rows, style, m, rgb.data());

    // Encoded in memory and written by output_file: libpng's own file writer
    // removes the output path when it fails, whatever that path was.
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(m.width);
    image.height = png_uint_32(m.height);
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(image, size, 0, rgb.data(), 0, nullptr)) fail(png_path, image.message);
    std::vector<unsigned char> encoded(size);
    if (!png_image_write_to_memory(&image, encoded.data(), &size, 0, rgb.data(), 0, nullptr))
        fail(png_path, image.message);
    write_output_file(out, encoded.data(), size);
}
