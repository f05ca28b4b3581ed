// A record drawn as a colour map: the grid of W3 rows × W2 columns in square
// cells, a colour bar below it, and the bar's range written under its two ends.
#pragma once

#include <cstdint>

struct Rgb {
    unsigned char r, g, b;
};

inline constexpr Rgb MISSING_GREY = {150, 150, 150};
inline constexpr Rgb BACKGROUND = {255, 255, 255};
inline constexpr Rgb INK = {0, 0, 0};

// Where everything goes, in pixels from the top left corner.
struct MapLayout {
    int cell = 0;             // side of one grid cell
    int map_x = 0, map_y = 0; // top left of the grid
    int map_w = 0, map_h = 0;
    int bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
    int label_y = 0, label_scale = 0;
    int width = 0, height = 0;
};

// Cells are 512 / max(columns, rows) pixels, at least 1 and at most 64; the bar
// is as wide as the grid but at least 256 pixels, so its labels fit.
MapLayout plan_map(int32_t columns, int32_t rows);

// The colour of position x in 0 … 1 along the bar (clamped).
Rgb ramp_colour(double x);

// Draws values (row-major, row 0 first) into rgb (layout.width × layout.height × 3
// bytes). Stored row 0 goes at the bottom, or at the top when row0_on_top.
// MISSING_VALUE and NaN are grey; the range is that of the other finite values,
// and infinities take the colour of the end they lie beyond.
void draw_map(const float* values, int32_t columns, int32_t rows, bool row0_on_top, const MapLayout& layout,
              unsigned char* rgb);
