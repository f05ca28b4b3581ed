#include "map_picture.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "series_file.hpp"
#include "text_font.hpp"

namespace {

constexpr int MARGIN = 16;
constexpr int MIN_BAR_WIDTH = 256;
constexpr int GAP_ABOVE_BAR = 12;
constexpr int BAR_HEIGHT = 16;
constexpr int GAP_ABOVE_LABELS = 6;
constexpr int LABEL_SCALE = 2;
constexpr int TITLE_GAP = 10;
constexpr int TITLE_WIDTH_CAP = 1000; // a longer title is drawn at half size
constexpr int TICK_LENGTH = 4;
constexpr int TICK_GAP = 3;
// Cells smaller than 6 pixels share a dot among a block of cells about this many
// pixels across, so that the colour underneath still shows.
constexpr int DOT_SPACING = 8;

struct Canvas {
    unsigned char* rgb;
    int width, height;
};

void put_pixel(const Canvas& c, int x, int y, Rgb colour)
{
    if (x < 0 || x >= c.width || y < 0 || y >= c.height) return;
    unsigned char* p = c.rgb + (size_t(y) * size_t(c.width) + size_t(x)) * 3;
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

void fill_rect(const Canvas& c, int x, int y, int w, int h, Rgb colour)
{
    const int x0 = std::max(x, 0), x1 = std::min(x + w, c.width);
    const int y0 = std::max(y, 0), y1 = std::min(y + h, c.height);
    for (int j = y0; j < y1; ++j)
        for (int i = x0; i < x1; ++i) put_pixel(c, i, j, colour);
}

void frame(const Canvas& c, int x, int y, int w, int h)
{
    fill_rect(c, x - 1, y - 1, w + 2, 1, INK);
    fill_rect(c, x - 1, y + h, w + 2, 1, INK);
    fill_rect(c, x - 1, y, 1, h, INK);
    fill_rect(c, x + w, y, 1, h, INK);
}

int text_width(const char* s, int scale)
{
    const int n = glyph_count(s);
    return n > 0 ? n * GLYPH_ADVANCE * scale - scale : 0;
}

void draw_text(const Canvas& c, int x, int y, const char* s, int scale)
{
    for (; *s; x += GLYPH_ADVANCE * scale) {
        const char g = next_glyph(s);
        for (int r = 0; r < GLYPH_HEIGHT; ++r) {
            const unsigned bitsrow = glyph_row(g, r);
            for (int k = 0; k < GLYPH_WIDTH; ++k)
                if (bitsrow & (1u << (GLYPH_WIDTH - 1 - k))) fill_rect(c, x + k * scale, y + r * scale, scale, scale, INK);
        }
    }
}

int widest_label(const AxisTicks& t, int scale)
{
    int w = 0;
    for (int i = 0; i < t.count; ++i) w = std::max(w, text_width(t.text[i], scale));
    return w;
}

bool has_colour(float v) { return v != MISSING_VALUE && !std::isnan(v); }

// The colour range actually used, and where a value lies on it.
struct ColourRange {
    ColourScale scale;
    bool any; // some value has a colour from the range (else no range is written)
    double lo, hi;
};

ColourRange colour_range(const float* values, int64_t n, const MapStyle& style)
{
    ColourRange r{style.scale, false, 0, 0};
    double lo = 0, hi = 0, largest = 0;
    for (int64_t p = 0; p < n; ++p) {
        const float v = values[p];
        if (!has_colour(v) || std::isinf(v)) continue;
        if (!r.any || v < lo) lo = v;
        if (!r.any || v > hi) hi = v;
        largest = std::max(largest, std::fabs(double(v)));
        r.any = true;
    }
    if (style.fixed_range) {
        r.lo = style.lo;
        r.hi = style.hi;
        r.any = true;
    } else if (style.scale == ColourScale::diverging) {
        r.lo = -largest;
        r.hi = largest;
    } else {
        r.lo = lo;
        r.hi = hi;
    }
    return r;
}

// Position of v along the bar, 0 … 1 (clamped by the colour functions). On the
// diverging scale 0 stays at the middle even when the range is lopsided, each
// side stretched to its own end.
double bar_position(float v, const ColourRange& r)
{
    if (std::isinf(v)) return v > 0 ? 1 : 0;
    if (r.scale == ColourScale::diverging && r.lo < 0 && r.hi > 0) return 0.5 + 0.5 * (v >= 0 ? v / r.hi : v / -r.lo);
    return r.hi > r.lo ? (double(v) - r.lo) / (r.hi - r.lo) : 0.5;
}

Rgb value_colour(float v, const ColourRange& r)
{
    if (r.scale == ColourScale::sequential) return ramp_colour(bar_position(v, r));
    // Signed position straight from v, so that +v and -v mirror exactly.
    double s;
    if (std::isinf(v)) s = v > 0 ? 1 : -1;
    else if (r.lo < 0 && r.hi > 0) s = v >= 0 ? v / r.hi : v / -r.lo;
    else s = 2 * bar_position(v, r) - 1;
    return diverging_colour(s);
}

// A dot of core × core pixels (round from 5 pixels up, square below, where a disc
// is too ragged to read) with a one-pixel rim, as near (cx, cy) as whole pixels
// allow, kept inside the grid's rectangle.
void draw_dot(const Canvas& c, double cx, double cy, int core, const MapLayout& m)
{
    const int left = int(std::floor(cx - core / 2.0 + 0.5)), top = int(std::floor(cy - core / 2.0 + 0.5));
    const double mid_x = left + core / 2.0, mid_y = top + core / 2.0, radius = core / 2.0;
    for (int y = top - 1; y <= top + core; ++y)
        for (int x = left - 1; x <= left + core; ++x) {
            if (x < m.map_x || x >= m.map_x + m.map_w || y < m.map_y || y >= m.map_y + m.map_h) continue;
            const double dx = x + 0.5 - mid_x, dy = y + 0.5 - mid_y;
            const double d = core < 5 ? std::max(std::fabs(dx), std::fabs(dy)) : std::sqrt(dx * dx + dy * dy);
            if (d < radius) put_pixel(c, x, y, DOT);
            else if (d < radius + 1) put_pixel(c, x, y, DOT_RIM);
        }
}

void draw_stipple(const Canvas& c, const unsigned char* stipple, int32_t columns, int32_t rows, bool row0_on_top,
                  const MapLayout& m)
{
    const int k = m.stipple_every;
    const int core = k > 1 ? 2 : std::max(2, (m.cell + 2) / 5);
    // On small cells one dot stands for a block of k × k cells and is drawn when
    // any cell of the block is stippled, so that a lone significant point still shows.
    for (int32_t top = 0; top < rows; top += k)
        for (int32_t left = 0; left < columns; left += k) {
            bool any = false;
            for (int32_t sr = top; sr < top + k && sr < rows && !any; ++sr) {
                const int32_t r = row0_on_top ? sr : rows - 1 - sr;
                for (int32_t col = left; col < left + k && col < columns && !any; ++col)
                    any = stipple[size_t(r) * size_t(columns) + size_t(col)] != 0;
            }
            if (!any) continue;
            const int32_t screen_row = std::min(top + k / 2, rows - 1), col = std::min(left + k / 2, columns - 1);
            draw_dot(c, m.map_x + (col + 0.5) * m.cell, m.map_y + (screen_row + 0.5) * m.cell, core, m);
        }
}

void draw_ticks(const Canvas& c, int32_t rows, bool row0_on_top, const MapLayout& m)
{
    const int text_h = GLYPH_HEIGHT * m.label_scale;
    for (int i = 0; i < m.row_ticks.count; ++i) {
        const double f = row0_on_top ? m.row_ticks.cell[i] : rows - 1 - m.row_ticks.cell[i];
        const int y = m.map_y + int(std::floor((f + 0.5) * m.cell));
        fill_rect(c, m.map_x - 1 - TICK_LENGTH, y, TICK_LENGTH, 1, INK);
        const char* s = m.row_ticks.text[i];
        const int x = m.map_x - 1 - TICK_LENGTH - TICK_GAP - text_width(s, m.label_scale);
        draw_text(c, x, std::clamp(y - text_h / 2, 0, m.height - text_h), s, m.label_scale);
    }
    for (int i = 0; i < m.column_ticks.count; ++i) {
        const int x = m.map_x + int(std::floor((m.column_ticks.cell[i] + 0.5) * m.cell));
        fill_rect(c, x, m.map_y + m.map_h + 1, 1, TICK_LENGTH, INK);
        const char* s = m.column_ticks.text[i];
        const int w = text_width(s, m.label_scale);
        draw_text(c, std::clamp(x - w / 2, 0, std::max(0, m.width - w)), m.map_y + m.map_h + 1 + TICK_LENGTH + TICK_GAP,
                  s, m.label_scale);
    }
}

void draw_bar_labels(const Canvas& c, const ColourRange& r, const MapLayout& m)
{
    char lo_text[32], hi_text[32];
    std::snprintf(lo_text, sizeof lo_text, "%.4g", r.lo);
    std::snprintf(hi_text, sizeof hi_text, "%.4g", r.hi);
    draw_text(c, m.bar_x, m.label_y, lo_text, m.label_scale);
    draw_text(c, m.bar_x + m.bar_w - text_width(hi_text, m.label_scale), m.label_y, hi_text, m.label_scale);
    if (r.scale == ColourScale::diverging && r.lo < 0 && r.hi > 0) {
        const int mid = m.bar_x + m.bar_w / 2;
        fill_rect(c, mid, m.bar_y + m.bar_h, 1, GAP_ABOVE_LABELS - 1, INK);
        draw_text(c, mid - text_width("0", m.label_scale) / 2, m.label_y, "0", m.label_scale);
    }
}

} // namespace

MapLayout plan_map(int32_t columns, int32_t rows, const MapStyle& style)
{
    MapLayout m;
    const int32_t longest = columns > rows ? columns : rows;
    m.cell = longest > 0 ? 1024 / longest : 64;
    if (m.cell < 1) m.cell = 1;
    if (m.cell > 64) m.cell = 64;
    m.map_w = columns * m.cell;
    m.map_h = rows * m.cell;
    m.stipple_every = m.cell >= 6 ? 1 : (DOT_SPACING + m.cell - 1) / m.cell;
    m.label_scale = LABEL_SCALE;
    const int text_h = GLYPH_HEIGHT * LABEL_SCALE;

    if (style.row_coordinates)
        m.row_ticks = choose_ticks(style.row_coordinates, rows, style.row_kind, m.cell, false, LABEL_SCALE);
    if (style.column_coordinates)
        m.column_ticks = choose_ticks(style.column_coordinates, columns, style.column_kind, m.cell, true, LABEL_SCALE);
    const int left_band = m.row_ticks.count ? widest_label(m.row_ticks, LABEL_SCALE) + TICK_LENGTH + TICK_GAP : 0;
    const int right_overhang = m.column_ticks.count ? widest_label(m.column_ticks, LABEL_SCALE) / 2 : 0;
    const int bottom_band = m.column_ticks.count ? TICK_LENGTH + TICK_GAP + text_h : 0;

    const int block_w = std::max(m.map_w, MIN_BAR_WIDTH);
    const int body_w = left_band + block_w + right_overhang;
    int inner_w = body_w;
    int title_w = 0;
    if (style.title && *style.title) {
        m.title_scale = LABEL_SCALE;
        title_w = text_width(style.title, LABEL_SCALE);
        if (title_w > std::max(body_w, TITLE_WIDTH_CAP)) {
            m.title_scale = 1;
            title_w = text_width(style.title, 1);
        }
        inner_w = std::max(body_w, std::min(title_w, std::max(body_w, TITLE_WIDTH_CAP)));
    }
    m.width = 2 * MARGIN + inner_w;
    const int x0 = MARGIN + (inner_w - body_w) / 2;
    m.title_x = std::max(MARGIN, (m.width - title_w) / 2);
    m.title_y = MARGIN;

    m.map_x = x0 + left_band + (block_w - m.map_w) / 2;
    m.map_y = MARGIN + (m.title_scale ? GLYPH_HEIGHT * m.title_scale + TITLE_GAP : 0);
    m.bar_x = x0 + left_band;
    m.bar_w = block_w;
    m.bar_h = BAR_HEIGHT;
    m.bar_y = m.map_y + m.map_h + bottom_band + GAP_ABOVE_BAR;
    m.label_y = m.bar_y + m.bar_h + GAP_ABOVE_LABELS;
    m.height = m.label_y + text_h + MARGIN;
    return m;
}

void draw_map(const float* values, int32_t columns, int32_t rows, const MapStyle& style, const MapLayout& m,
              unsigned char* rgb)
{
    const Canvas c{rgb, m.width, m.height};
    fill_rect(c, 0, 0, m.width, m.height, BACKGROUND);
    const ColourRange range = colour_range(values, int64_t(columns) * rows, style);

    for (int32_t r = 0; r < rows; ++r) {
        const int32_t screen_row = style.row0_on_top ? r : rows - 1 - r;
        for (int32_t k = 0; k < columns; ++k) {
            const float v = values[size_t(r) * size_t(columns) + size_t(k)];
            const Rgb colour = has_colour(v) ? value_colour(v, range) : MISSING_GREY;
            fill_rect(c, m.map_x + k * m.cell, m.map_y + screen_row * m.cell, m.cell, m.cell, colour);
        }
    }
    if (style.stipple) draw_stipple(c, style.stipple, columns, rows, style.row0_on_top, m);
    frame(c, m.map_x, m.map_y, m.map_w, m.map_h);
    draw_ticks(c, rows, style.row0_on_top, m);
    if (m.title_scale) draw_text(c, m.title_x, m.title_y, style.title, m.title_scale);

    for (int i = 0; i < m.bar_w; ++i)
        fill_rect(c, m.bar_x + i, m.bar_y, 1, m.bar_h, bar_colour(style.scale, m.bar_w > 1 ? double(i) / (m.bar_w - 1) : 0.5));
    frame(c, m.bar_x, m.bar_y, m.bar_w, m.bar_h);

    if (range.any) draw_bar_labels(c, range, m); // with nothing but missing points there is no range to show
}
