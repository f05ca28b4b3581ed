#include "map_picture.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "digit_font.hpp"
#include "series_file.hpp"

namespace {

constexpr int MARGIN = 16;
constexpr int MIN_BAR_WIDTH = 256;
constexpr int GAP_ABOVE_BAR = 12;
constexpr int BAR_HEIGHT = 16;
constexpr int GAP_ABOVE_LABELS = 6;
constexpr int LABEL_SCALE = 2;

// A ramp from dark blue through teal and green to pale yellow, brightening
// steadily so that order reads without the bar; none of it is grey.
constexpr Rgb ANCHORS[] = {{40, 20, 110}, {35, 85, 175}, {25, 145, 160}, {75, 190, 95}, {200, 215, 45}, {250, 245, 150}};
constexpr int ANCHOR_COUNT = int(sizeof ANCHORS / sizeof ANCHORS[0]);

struct Canvas {
    unsigned char* rgb;
    int width, height;
};

void fill_rect(const Canvas& c, int x, int y, int w, int h, Rgb colour)
{
    for (int j = y; j < y + h; ++j) {
        if (j < 0 || j >= c.height) continue;
        for (int i = x; i < x + w; ++i) {
            if (i < 0 || i >= c.width) continue;
            unsigned char* p = c.rgb + (size_t(j) * size_t(c.width) + size_t(i)) * 3;
            p[0] = colour.r;
            p[1] = colour.g;
            p[2] = colour.b;
        }
    }
}

void frame(const Canvas& c, int x, int y, int w, int h)
{
    fill_rect(c, x - 1, y - 1, w + 2, 1, INK);
    fill_rect(c, x - 1, y + h, w + 2, 1, INK);
    fill_rect(c, x - 1, y, 1, h, INK);
    fill_rect(c, x + w, y, 1, h, INK);
}

int text_width(const char* s, int scale) { return int(std::strlen(s)) * GLYPH_ADVANCE * scale - scale; }

void draw_text(const Canvas& c, int x, int y, const char* s, int scale)
{
    for (; *s; ++s, x += GLYPH_ADVANCE * scale)
        for (int r = 0; r < GLYPH_HEIGHT; ++r) {
            const unsigned bitsrow = glyph_row(*s, r);
            for (int k = 0; k < GLYPH_WIDTH; ++k)
                if (bitsrow & (1u << (GLYPH_WIDTH - 1 - k))) fill_rect(c, x + k * scale, y + r * scale, scale, scale, INK);
        }
}

bool has_colour(float v) { return v != MISSING_VALUE && !std::isnan(v); }

// Where v lies along the bar; an infinity lies beyond its end even when every
// finite value is the same.
double bar_position(float v, double lo, double hi)
{
    if (std::isinf(v)) return v > 0 ? 1 : 0;
    return hi > lo ? (double(v) - lo) / (hi - lo) : 0.5;
}

} // namespace

MapLayout plan_map(int32_t columns, int32_t rows)
{
    MapLayout m;
    const int32_t longest = columns > rows ? columns : rows;
    m.cell = longest > 0 ? 512 / longest : 64;
    if (m.cell < 1) m.cell = 1;
    if (m.cell > 64) m.cell = 64;
    m.map_w = columns * m.cell;
    m.map_h = rows * m.cell;
    m.bar_w = m.map_w > MIN_BAR_WIDTH ? m.map_w : MIN_BAR_WIDTH;
    m.bar_h = BAR_HEIGHT;
    m.width = 2 * MARGIN + m.bar_w;
    m.map_x = MARGIN + (m.bar_w - m.map_w) / 2;
    m.map_y = MARGIN;
    m.bar_x = MARGIN;
    m.bar_y = m.map_y + m.map_h + GAP_ABOVE_BAR;
    m.label_scale = LABEL_SCALE;
    m.label_y = m.bar_y + m.bar_h + GAP_ABOVE_LABELS;
    m.height = m.label_y + GLYPH_HEIGHT * LABEL_SCALE + MARGIN;
    return m;
}

Rgb ramp_colour(double x)
{
    if (!(x > 0)) x = 0;
    if (x > 1) x = 1;
    const double pos = x * (ANCHOR_COUNT - 1);
    int i = int(pos);
    if (i >= ANCHOR_COUNT - 1) i = ANCHOR_COUNT - 2;
    const double f = pos - i;
    const Rgb a = ANCHORS[i], b = ANCHORS[i + 1];
    auto mix = [f](unsigned char u, unsigned char v) { return (unsigned char)std::lround(u + (v - u) * f); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void draw_map(const float* values, int32_t columns, int32_t rows, bool row0_on_top, const MapLayout& m,
              unsigned char* rgb)
{
    const Canvas c{rgb, m.width, m.height};
    fill_rect(c, 0, 0, m.width, m.height, BACKGROUND);

    bool any = false;
    double lo = 0, hi = 0;
    const int32_t n = columns * rows;
    for (int32_t p = 0; p < n; ++p) {
        const float v = values[p];
        if (!has_colour(v) || std::isinf(v)) continue;
        if (!any || v < lo) lo = v;
        if (!any || v > hi) hi = v;
        any = true;
    }

    for (int32_t r = 0; r < rows; ++r) {
        const int32_t screen_row = row0_on_top ? r : rows - 1 - r;
        for (int32_t k = 0; k < columns; ++k) {
            const float v = values[size_t(r) * size_t(columns) + size_t(k)];
            Rgb colour = MISSING_GREY;
            if (has_colour(v)) colour = ramp_colour(bar_position(v, lo, hi));
            fill_rect(c, m.map_x + k * m.cell, m.map_y + screen_row * m.cell, m.cell, m.cell, colour);
        }
    }
    frame(c, m.map_x, m.map_y, m.map_w, m.map_h);

    for (int i = 0; i < m.bar_w; ++i)
        fill_rect(c, m.bar_x + i, m.bar_y, 1, m.bar_h, ramp_colour(m.bar_w > 1 ? double(i) / (m.bar_w - 1) : 0.5));
    frame(c, m.bar_x, m.bar_y, m.bar_w, m.bar_h);

    if (!any) return; // nothing but missing points: no range to show
    char lo_text[32], hi_text[32];
    std::snprintf(lo_text, sizeof lo_text, "%.4g", lo);
    std::snprintf(hi_text, sizeof hi_text, "%.4g", hi);
    draw_text(c, m.bar_x, m.label_y, lo_text, m.label_scale);
    draw_text(c, m.bar_x + m.bar_w - text_width(hi_text, m.label_scale), m.label_y, hi_text, m.label_scale);
}
