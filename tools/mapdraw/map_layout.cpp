#include "map_layout.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include "cairo_text.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

// The map's longer side in a picture of the default size, as the tools drew it
// before (1024 pixels for most grids); the shorter side follows the map's shape,
// kept within 1 : 8 so that a grid of one column stays a visible strip.
constexpr double DEFAULT_MAP_SIDE = 1024;
constexpr double DEFAULT_MIN_WIDTH = 640;
constexpr double MAX_ASPECT = 8;
constexpr int64_t MAX_CELLS = int64_t(1) << 28;

struct Measure {
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface{
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1), cairo_surface_destroy};
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr{cairo_create(surface.get()), cairo_destroy};
};

double display_aspect(const MapLayout& m, const MapPicture& map)
{
    double a = double(map.columns) / map.rows;
    if (m.geographic) {
        const double w = std::fabs(m.columns.edges.back() - m.columns.edges.front());
        const double h = std::fabs(m.rows.edges.back() - m.rows.edges.front());
        if (w > 0 && h > 0) a = w / h;
    }
    return std::clamp(a, 1 / MAX_ASPECT, MAX_ASPECT);
}

// Sizes that follow from the base type size.
void size_type(MapLayout& m, double base)
{
    m.base = base;
    m.margin = 0.9 * base;
    m.title_size = 1.3 * base;
    m.subtitle_size = 0.95 * base;
    m.tick_size = 0.8 * base;
    m.bar_label_size = 0.9 * base;
}

// The widest label a row axis may get, for the band left of the map.
double row_label_room(cairo_t* cr, const MapLayout& m)
{
    const std::vector<double>& e = m.rows.edges;
    const double span = std::fabs(e.back() - e.front());
    double w = 0;
    for (double v : {e.front(), e.back(), 0.5 * (e.front() + e.back())})
        w = std::max(w, text_width(cr, coordinate_text(v, m.rows.kind, span / 7), m.tick_size));
    if (m.rows.kind == AxisKind::latitude) w = std::max(w, text_width(cr, "88°N", m.tick_size));
    return w;
}

struct Bands {
    double top, left, right, bottom, bar_block, legend_w;
};

Bands bands(cairo_t* cr, const MapLayout& m, const MapPicture& map)
{
    Bands b;
    b.top = m.margin;
    if (!map.title.empty()) b.top += 1.25 * m.title_size;
    if (!map.subtitle.empty()) b.top += 1.3 * m.subtitle_size;
    if (!map.title.empty() || !map.subtitle.empty()) b.top += 0.5 * m.base;
    b.left = row_label_room(cr, m) + 0.65 * m.base;
    const std::vector<double>& e = m.columns.edges;
    const double cspan = std::fabs(e.back() - e.front());
    double widest = 0;
    for (double v : {e.front(), e.back()})
        widest = std::max(widest, text_width(cr, coordinate_text(v, m.columns.kind, cspan / 7), m.tick_size));
    b.right = std::max(m.margin, 0.6 * widest);
    b.bottom = 0.6 * m.base + m.tick_size;
    const bool alpha_row = map.scale == ColourScale::p_log && map.alpha > 0;
    b.bar_block = 1.1 * m.base + (alpha_row ? 1.2 * m.tick_size : 0) + 0.85 * m.base + 0.5 * m.base + m.tick_size +
                  (map.bar_name.empty() ? 0 : 0.5 * m.base + m.bar_label_size) + m.margin;
    b.legend_w = 0;
    const double swatch = 1.6 * m.base;
    if (m.any_missing) b.legend_w = std::max(b.legend_w, swatch + text_width(cr, map.missing_legend, m.tick_size));
    if (map.stipple && !map.stipple_legend.empty())
        b.legend_w = std::max(b.legend_w, swatch + text_width(cr, map.stipple_legend, m.tick_size));
    return b;
}


} // namespace

MapLayout plan_map(const MapPicture& map, PictureFormat format, const std::string& path)
{
    if (map.columns < 1 || map.rows < 1) fail(path, "the grid has no cells");
    if (int64_t(map.columns) * map.rows > MAX_CELLS) fail(path, "the grid has too many cells to draw");
    if (!map.values) fail(path, "the grid has no values");
    if (map.fixed_range) check_colour_range(map.scale, map.lo, map.hi);

    MapLayout m;
    const int64_t n = int64_t(map.columns) * map.rows;
    for (int64_t i = 0; i < n && !m.any_missing; ++i) m.any_missing = !has_value(map.values[i]);
    m.range = map.fixed_range ? ColourRange{map.lo, map.hi} : default_range(map.values, n, map.scale);
    m.bar_ticks = bar_ticks(m.range, map.scale);
    m.columns = axis_geometry(map.column_axis.centres, map.columns, map.column_axis.kind);
    m.rows = axis_geometry(map.row_axis.centres, map.rows, map.row_axis.kind);
    m.geographic = m.columns.kind == AxisKind::longitude && m.rows.kind == AxisKind::latitude;

    Measure measure;
    cairo_t* cr = measure.cr.get();
    const double aspect = display_aspect(m, map);

    PictureSize size = map.size;
    if (size.width == 0 && size.height == 0) {
        size_type(m, 15);
        const Bands b = bands(cr, m, map);
        const double mw = aspect >= 1 ? DEFAULT_MAP_SIDE : DEFAULT_MAP_SIDE * aspect;
        const double mh = aspect >= 1 ? DEFAULT_MAP_SIDE / aspect : DEFAULT_MAP_SIDE;
        const double legend = b.legend_w > 0 ? b.legend_w + 2 * m.base : 0;
        size.width = int(std::ceil(std::max({m.margin + b.left + mw + b.right, DEFAULT_MIN_WIDTH, 2 * m.margin + 320 + legend})));
        size.height = int(std::ceil(b.top + mh + b.bottom + b.bar_block));
    } else if (size.width < PICTURE_SIDE_MIN || size.height < PICTURE_SIDE_MIN || size.width > PICTURE_SIDE_MAX ||
               size.height > PICTURE_SIDE_MAX) {
        fail(path, "each side of the picture must be " + std::to_string(PICTURE_SIDE_MIN) + " to " +
                       std::to_string(PICTURE_SIDE_MAX));
    }
    check_picture_size(format, size, path);
    m.width = size.width;
    m.height = size.height;
    size_type(m, std::clamp(std::sqrt(m.width * m.height) / 58, 7.0, 60.0));

    const Bands b = bands(cr, m, map);
    const double avail_w = m.width - m.margin - b.left - b.right;
    const double avail_h = m.height - b.top - b.bottom - b.bar_block;
    if (avail_w < 8 || avail_h < 8) fail(path, "the picture is too small for its map");
    m.map_w = avail_w / avail_h > aspect ? avail_h * aspect : avail_w;
    m.map_h = avail_w / avail_h > aspect ? avail_h : avail_w / aspect;
    m.map_x = m.margin + b.left + 0.5 * (avail_w - m.map_w);
    m.map_y = b.top + 0.5 * (avail_h - m.map_h);
    if (format == PictureFormat::png) {
        // Whole pixels, so that the cells' image lies on the pixel grid.
        m.map_x = std::round(m.map_x), m.map_y = std::round(m.map_y);
        m.map_w = std::max(1.0, std::round(m.map_w)), m.map_h = std::max(1.0, std::round(m.map_h));
    }
    m.x = horizontal_map(m.columns, m.map_x, m.map_w);
    m.y = vertical_map(m.rows, map.row0_on_top, m.map_y, m.map_h);
    m.column_ticks = axis_ticks(m.columns, m.x, {0.62 * m.tick_size, 0, 1.2 * m.base});
    m.row_ticks = axis_ticks(m.rows, m.y, {0, m.tick_size, 2.0 * m.base});

    // The bar under the map, the legend to its right; both centred on the picture.
    const double content = m.width - 2 * m.margin;
    const double legend = b.legend_w > 0 ? b.legend_w + 2 * m.base : 0;
    // Room at each end of the bar for half of its end labels.
    double ends = 0;
    for (const BarTick& t : m.bar_ticks) ends = std::max(ends, text_width(cr, t.label, m.tick_size));
    const double room = content - legend - ends;
    m.bar_w = std::max(std::min(std::max(0.6 * content, std::min(m.map_w, room)), room), 0.3 * content);
    m.bar_h = 0.85 * m.base;
    m.bar_x = m.margin + 0.5 * (content - m.bar_w - legend);
    m.legend_x = m.bar_x + m.bar_w + 2 * m.base;
    const bool alpha_row = map.scale == ColourScale::p_log && map.alpha > 0;
    m.bar_y = m.map_y + m.map_h + b.bottom + 1.1 * m.base + (alpha_row ? 1.2 * m.tick_size : 0);

    m.title_y = m.margin + m.title_size;
    m.subtitle_y = (map.title.empty() ? m.margin : m.title_y + 0.3 * m.title_size) + m.subtitle_size;
    return m;
}

bool lonlat_to_picture(const MapLayout& m, double lon, double lat, double& x, double& y)
{
    if (!m.geographic) return false;
    const double lo = std::min(m.x.from, m.x.to), hi = std::max(m.x.from, m.x.to);
    lon = lo + std::fmod(std::fmod(lon - lo, 360.0) + 360.0, 360.0);
    if (lon > hi || lat < std::min(m.y.from, m.y.to) || lat > std::max(m.y.from, m.y.to)) return false;
    x = to_picture(m.x, lon);
    y = to_picture(m.y, lat);
    return true;
}
