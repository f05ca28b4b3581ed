#include <algorithm>
#include <cmath>
#include <memory>
#include <sys/stat.h>

#include <cairo-pdf.h>
#include <cairo-svg.h>
#include <cairo.h>

#include "cairo_text.hpp"
#include "coastlines.hpp"
#include "map_layout.hpp"
#include "map_picture.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

// Vector pictures carry the cells as an image of about this many pixels per
// point (or one per cell, if finer), at most IMAGE_SIDE_MAX a side.
constexpr double VECTOR_IMAGE_DENSITY = 4;
constexpr int32_t IMAGE_SIDE_MAX = 16384;
constexpr int64_t IMAGE_PIXELS_MAX = int64_t(1) << 25;
// Below this many picture units a cell gets no dot of its own: one dot stands for
// every block of about DOT_BLOCK units that holds a stippled cell.
constexpr double DOT_CELL_MIN = 6;
constexpr double DOT_BLOCK = 8;

constexpr double INK[3] = {0, 0, 0};
constexpr double COAST[3] = {0.1, 0.1, 0.1};

void set_colour(cairo_t* cr, const double (&c)[3]) { cairo_set_source_rgb(cr, c[0], c[1], c[2]); }
void set_colour(cairo_t* cr, Rgb c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length)
{
    auto* out = static_cast<std::vector<unsigned char>*>(closure);
    out->insert(out->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

void check(cairo_status_t status, const std::string& path)
{
    if (status != CAIRO_STATUS_SUCCESS) fail(path, std::string("drawing the picture: ") + cairo_status_to_string(status));
}


// The cells, one image pixel at a time: each pixel takes the cell under its centre.
void draw_cells(cairo_t* cr, const MapPicture& map, const MapLayout& m, PictureFormat format, const std::string& path)
{
    int32_t nx = int32_t(m.map_w), ny = int32_t(m.map_h);
    if (format != PictureFormat::png) {
        nx = int32_t(std::min<double>(IMAGE_SIDE_MAX, std::max(std::ceil(VECTOR_IMAGE_DENSITY * m.map_w), double(map.columns))));
        ny = int32_t(std::min<double>(IMAGE_SIDE_MAX, std::max(std::ceil(VECTOR_IMAGE_DENSITY * m.map_h), double(map.rows))));
        while (int64_t(nx) * ny > IMAGE_PIXELS_MAX) nx = (nx + 1) / 2, ny = (ny + 1) / 2;
    }
    Surface image(cairo_image_surface_create(CAIRO_FORMAT_RGB24, nx, ny), cairo_surface_destroy);
    check(cairo_surface_status(image.get()), path);
    const std::vector<int32_t> column = cell_of_pixels(m.columns, m.x, nx);
    const std::vector<int32_t> row = cell_of_pixels(m.rows, m.y, ny);
    cairo_surface_flush(image.get());
    unsigned char* data = cairo_image_surface_get_data(image.get());
    const int stride = cairo_image_surface_get_stride(image.get());
    for (int32_t j = 0; j < ny; ++j) {
        auto* line = reinterpret_cast<uint32_t*>(data + size_t(j) * size_t(stride));
        const float* values = map.values + size_t(row[j]) * size_t(map.columns);
        for (int32_t i = 0; i < nx; ++i) {
            const float v = values[column[i]];
            const Rgb c = has_value(v) ? value_colour(v, m.range, map.scale) : MISSING_GREY;
            line[i] = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
        }
    }
    cairo_surface_mark_dirty(image.get());
    cairo_save(cr);
    cairo_translate(cr, m.map_x, m.map_y);
    cairo_scale(cr, m.map_w / nx, m.map_h / ny);
    cairo_set_source_surface(cr, image.get(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, nx, ny);
    cairo_fill(cr);
    cairo_restore(cr);
}

// Coastlines when the map is geographic and asked for them; a note when their
// data cannot be found.
void draw_coast(cairo_t* cr, const MapPicture& map, const MapLayout& m, std::vector<std::string>& notes)
{
    if (!map.coastlines || !m.geographic) return;
    const double dpu = std::min(std::fabs(m.x.to - m.x.from) / m.map_w, std::fabs(m.y.to - m.y.from) / m.map_h);
    const char wanted = coast_resolution(dpu);
    // The finest file at or below the wanted detail; failing that, a finer one.
    const char order[3] = {'c', 'l', 'i'};
    const int at = wanted == 'c' ? 0 : wanted == 'l' ? 1 : 2;
    std::string file;
    struct stat st;
    for (int k = 0; k < 3 && file.empty(); ++k) {
        const int i = k <= at ? at - k : k;
        const std::string f = gshhg_file(map.coast_directory, order[i]);
        if (stat(f.c_str(), &st) == 0) file = f;
    }
    if (file.empty()) {
        notes.push_back("no coastlines drawn: " + gshhg_file(map.coast_directory, wanted) +
                        " not found (Debian package gmt-gshhg-low)");
        return;
    }
    const CoastData coast = read_gshhg(file);
    const CoastLines lines = coast_in_box(coast, std::min(m.x.from, m.x.to), std::max(m.x.from, m.x.to),
                                          std::min(m.y.from, m.y.to), std::max(m.y.from, m.y.to));
    cairo_save(cr);
    cairo_rectangle(cr, m.map_x, m.map_y, m.map_w, m.map_h);
    cairo_clip(cr);
    for (size_t s = 0; s + 1 < lines.starts.size(); ++s) {
        for (size_t p = lines.starts[s]; p < lines.starts[s + 1]; ++p) {
            const double x = to_picture(m.x, lines.points[p].lon), y = to_picture(m.y, lines.points[p].lat);
            if (p == lines.starts[s]) cairo_move_to(cr, x, y);
            else cairo_line_to(cr, x, y);
        }
    }
    // A faint pale edge keeps the dark line readable on the dark ends of a scale.
    const double width = std::max(0.6, 0.075 * m.base);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_set_line_width(cr, 2.2 * width);
    cairo_stroke_preserve(cr);
    set_colour(cr, COAST);
    cairo_set_line_width(cr, width);
    cairo_stroke(cr);
    cairo_restore(cr);
}

// A dot: black core in a white rim, so that it reads on the dark ends of a scale
// and on its pale middle alike. Small dots on a PNG are whole-pixel squares,
// where a disc would be a grey smudge.
void dot(cairo_t* cr, double x, double y, double core, double rim, bool pixels)
{
    if (pixels && core < 4.5) {
        const double c = std::round(core), left = std::round(x - c / 2), top = std::round(y - c / 2);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_rectangle(cr, left - 1, top - 1, c + 2, c + 2);
        cairo_fill(cr);
        set_colour(cr, INK);
        cairo_rectangle(cr, left, top, c, c);
        cairo_fill(cr);
        return;
    }
    cairo_new_sub_path(cr);
    cairo_arc(cr, x, y, core / 2 + rim, 0, 2 * M_PI);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    cairo_arc(cr, x, y, core / 2, 0, 2 * M_PI);
    set_colour(cr, INK);
    cairo_fill(cr);
}

void draw_stipple(cairo_t* cr, const MapPicture& map, const MapLayout& m, PictureFormat format)
{
    if (!map.stipple) return;
    const double cell = std::min(m.map_w / map.columns, m.map_h / map.rows);
    const bool pixels = format == PictureFormat::png;
    cairo_save(cr);
    cairo_rectangle(cr, m.map_x, m.map_y, m.map_w, m.map_h);
    cairo_clip(cr);
    if (pixels) cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    const auto centre = [&](int32_t r, int32_t c, double& x, double& y) {
        x = to_picture(m.x, 0.5 * (m.columns.edges[c] + m.columns.edges[c + 1]));
        y = to_picture(m.y, 0.5 * (m.rows.edges[r] + m.rows.edges[r + 1]));
    };
    if (cell >= DOT_CELL_MIN) {
        const double core = std::clamp(cell / 4.5, 2.0, 0.55 * m.base), rim = std::max(1.0, 0.2 * core);
        if (!pixels) cairo_set_antialias(cr, CAIRO_ANTIALIAS_DEFAULT);
        for (int32_t r = 0; r < map.rows; ++r)
            for (int32_t c = 0; c < map.columns; ++c)
                if (map.stipple[size_t(r) * size_t(map.columns) + size_t(c)]) {
                    double x, y;
                    centre(r, c, x, y);
                    dot(cr, x, y, core, rim, pixels);
                }
    } else {
        // One dot per block that holds any stippled cell, at the mean of their
        // centres, so a lone significant point still shows where it is.
        const int32_t bx = std::max(1, int32_t(std::ceil(m.map_w / DOT_BLOCK)));
        const int32_t by = std::max(1, int32_t(std::ceil(m.map_h / DOT_BLOCK)));
        std::vector<double> sx(size_t(bx) * by), sy(size_t(bx) * by);
        std::vector<int64_t> count(size_t(bx) * by);
        for (int32_t r = 0; r < map.rows; ++r)
            for (int32_t c = 0; c < map.columns; ++c)
                if (map.stipple[size_t(r) * size_t(map.columns) + size_t(c)]) {
                    double x, y;
                    centre(r, c, x, y);
                    const int32_t i = std::clamp(int32_t((x - m.map_x) / DOT_BLOCK), 0, bx - 1);
                    const int32_t j = std::clamp(int32_t((y - m.map_y) / DOT_BLOCK), 0, by - 1);
                    const size_t k = size_t(j) * bx + i;
                    sx[k] += x, sy[k] += y, ++count[k];
                }
        for (size_t k = 0; k < count.size(); ++k)
            if (count[k]) dot(cr, sx[k] / count[k], sy[k] / count[k], 2.4, 1, pixels);
    }
    cairo_restore(cr);
}

void draw_axes(cairo_t* cr, const MapLayout& m)
{
    set_colour(cr, INK);
    cairo_set_line_width(cr, std::max(0.8, 0.07 * m.base));
    cairo_rectangle(cr, m.map_x, m.map_y, m.map_w, m.map_h);
    cairo_stroke(cr);
    const double tick = 0.3 * m.base;
    for (const AxisTick& t : m.column_ticks) {
        const double x = to_picture(m.x, t.world);
        cairo_move_to(cr, x, m.map_y + m.map_h);
        cairo_line_to(cr, x, m.map_y + m.map_h + tick);
        cairo_stroke(cr);
        draw_text(cr, t.label, x, m.map_y + m.map_h + tick + 0.25 * m.base + 0.8 * m.tick_size, m.tick_size, Align::centre);
    }
    for (const AxisTick& t : m.row_ticks) {
        const double y = to_picture(m.y, t.world);
        cairo_move_to(cr, m.map_x, y);
        cairo_line_to(cr, m.map_x - tick, y);
        cairo_stroke(cr);
        draw_text(cr, t.label, m.map_x - tick - 0.3 * m.base, y + 0.36 * m.tick_size, m.tick_size, Align::right);
    }
}

// Text that would run past the picture's margins is set smaller, down to 60 %.
void draw_heading(cairo_t* cr, const std::string& text, double y, double size, bool bold, const MapLayout& m)
{
    if (text.empty()) return;
    const double room = m.width - 2 * m.margin, w = text_width(cr, text, size, bold);
    if (w > room) size = std::max(0.6 * size, size * room / w);
    draw_text(cr, text, m.width / 2, y, size, Align::centre, bold);
}

void draw_bar(cairo_t* cr, const MapPicture& map, const MapLayout& m)
{
    const int stops = 64;
    std::unique_ptr<cairo_pattern_t, decltype(&cairo_pattern_destroy)> ramp(
        cairo_pattern_create_linear(m.bar_x, 0, m.bar_x + m.bar_w, 0), cairo_pattern_destroy);
    for (int i = 0; i <= stops; ++i) {
        // The value at this position, for its colour.
        const double x = double(i) / stops;
        double v = m.range.lo + x * (m.range.hi - m.range.lo);
        if (map.scale == ColourScale::p_log)
            v = std::pow(10.0, std::log10(m.range.lo) + x * (std::log10(m.range.hi) - std::log10(m.range.lo)));
        const Rgb c = value_colour(v, m.range, map.scale);
        cairo_pattern_add_color_stop_rgb(ramp.get(), x, c.r / 255.0, c.g / 255.0, c.b / 255.0);
    }
    cairo_rectangle(cr, m.bar_x, m.bar_y, m.bar_w, m.bar_h);
    cairo_set_source(cr, ramp.get());
    cairo_fill(cr);
    set_colour(cr, INK);
    const double line = std::max(0.8, 0.07 * m.base);
    cairo_set_line_width(cr, line);
    cairo_rectangle(cr, m.bar_x, m.bar_y, m.bar_w, m.bar_h);
    cairo_stroke(cr);

    const double tick = 0.3 * m.base, below = m.bar_y + m.bar_h;
    for (const BarTick& t : m.bar_ticks) {
        const double x = m.bar_x + t.position * m.bar_w;
        cairo_move_to(cr, x, below);
        cairo_line_to(cr, x, below + tick);
        cairo_stroke(cr);
        draw_text(cr, t.label, x, below + tick + 0.2 * m.base + 0.8 * m.tick_size, m.tick_size, Align::centre);
    }
    if (map.scale == ColourScale::p_log && map.alpha > 0 && map.alpha >= m.range.lo && map.alpha <= m.range.hi) {
        const double x = m.bar_x + bar_position(map.alpha, m.range, map.scale) * m.bar_w;
        cairo_set_line_width(cr, 2.5 * line);
        cairo_move_to(cr, x, m.bar_y - 0.3 * m.base);
        cairo_line_to(cr, x, below);
        cairo_stroke(cr);
        char text[48];
        std::snprintf(text, sizeof text, "\u03b1 = %g", map.alpha);
        draw_text(cr, text, x, m.bar_y - 0.45 * m.base, m.tick_size, Align::centre);
    }
    const std::string label = map.bar_name.empty() ? "" : with_units(map.bar_name, map.bar_units);
    if (!label.empty())
        draw_text(cr, label, m.bar_x + m.bar_w / 2, below + tick + 0.2 * m.base + m.tick_size + 0.5 * m.base + 0.85 * m.bar_label_size,
                  m.bar_label_size, Align::centre);

    // Legend beside the bar: a grey swatch for missing cells, a dot for stippling.
    double y = m.bar_y;
    const double sw = 0.9 * m.base;
    if (m.any_missing && !map.missing_legend.empty()) {
        cairo_rectangle(cr, m.legend_x, y, sw, sw);
        set_colour(cr, MISSING_GREY);
        cairo_fill_preserve(cr);
        set_colour(cr, INK);
        cairo_set_line_width(cr, line);
        cairo_stroke(cr);
        draw_text(cr, map.missing_legend, m.legend_x + 1.6 * m.base, y + 0.5 * sw + 0.36 * m.tick_size, m.tick_size, Align::left);
        y += 1.4 * m.base;
    }
    if (map.stipple && !map.stipple_legend.empty()) {
        dot(cr, m.legend_x + sw / 2, y + sw / 2, std::max(2.4, 0.35 * m.base), std::max(1.0, 0.08 * m.base), false);
        set_colour(cr, INK);
        draw_text(cr, map.stipple_legend, m.legend_x + 1.6 * m.base, y + 0.5 * sw + 0.36 * m.tick_size, m.tick_size, Align::left);
    }
}

void draw(cairo_t* cr, const MapPicture& map, const MapLayout& m, PictureFormat format, const std::string& path,
          std::vector<std::string>& notes)
{
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    draw_cells(cr, map, m, format, path);
    draw_coast(cr, map, m, notes);
    draw_stipple(cr, map, m, format);
    draw_axes(cr, m);
    set_colour(cr, INK);
    draw_heading(cr, map.title, m.title_y, m.title_size, true, m);
    cairo_set_source_rgb(cr, 0.2, 0.2, 0.2);
    draw_heading(cr, map.subtitle, m.subtitle_y, m.subtitle_size, false, m);
    draw_bar(cr, map, m);
    check(cairo_status(cr), path);
}

} // namespace

RenderedPicture render_map(const MapPicture& map, PictureFormat format, const std::string& path)
{
    const MapLayout m = plan_map(map, format, path);
    RenderedPicture out;
    for (const auto& [g, which] : {std::pair{&m.columns, "column"}, std::pair{&m.rows, "row"}})
        if (!g->note.empty()) out.notes.push_back(std::string(which) + " coordinates not used (" + g->note + "): cells drawn by number");
    Surface surface(nullptr, cairo_surface_destroy);
    if (format == PictureFormat::png)
        surface.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, int(m.width), int(m.height)));
    else if (format == PictureFormat::svg)
        surface.reset(cairo_svg_surface_create_for_stream(append_bytes, &out.bytes, m.width, m.height));
    else surface.reset(cairo_pdf_surface_create_for_stream(append_bytes, &out.bytes, m.width, m.height));
    check(cairo_surface_status(surface.get()), path);
    {
        Context cr(cairo_create(surface.get()), cairo_destroy);
        check(cairo_status(cr.get()), path);
        draw(cr.get(), map, m, format, path, out.notes);
    }
    if (format == PictureFormat::png) check(cairo_surface_write_to_png_stream(surface.get(), append_bytes, &out.bytes), path);
    cairo_surface_finish(surface.get());
    check(cairo_surface_status(surface.get()), path);
    return out;
}
