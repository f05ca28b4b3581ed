// A grid of values drawn as a colour map: an optional title line, the grid in
// square cells with optional stippling and coordinate ticks, a colour bar below
// it, and the bar's range written under its ends.
#pragma once

#include <cstdint>

#include "axis_ticks.hpp"
#include "colour_scale.hpp"

inline constexpr Rgb MISSING_GREY = {150, 150, 150};
inline constexpr Rgb BACKGROUND = {255, 255, 255};
inline constexpr Rgb INK = {0, 0, 0};
// Stipple dots are black with a white rim, so they read on the dark ends of
// either scale as well as on its pale middle.
inline constexpr Rgb DOT = INK;
inline constexpr Rgb DOT_RIM = BACKGROUND;

// How to draw a map. The defaults draw a plain sequential map over the data's own
// range with stored row 0 at the bottom.
struct MapStyle {
    ColourScale scale = ColourScale::sequential;
    // Colour range: by default the finite values' range (sequential) or ±max|v|
    // (diverging). With fixed_range, lo … hi (lo < hi) and values beyond clamp.
    bool fixed_range = false;
    double lo = 0, hi = 0;
    bool row0_on_top = false;                 // stored row 0 is the northernmost
    const unsigned char* stipple = nullptr;   // columns × rows like the values; nonzero = dot
    const char* title = nullptr;              // one line of UTF-8 text above the map
    const double* row_coordinates = nullptr;  // one per row (latitudes), for ticks on the left
    const double* column_coordinates = nullptr; // one per column (longitudes), for ticks below
    AxisKind row_kind = AxisKind::latitude;     // labels 30N, 0, 30S
    AxisKind column_kind = AxisKind::longitude; // labels 60E, 180, 120W
};

// Where everything goes, in pixels from the top left corner.
struct MapLayout {
    int cell = 0;             // side of one grid cell
    int map_x = 0, map_y = 0; // top left of the grid
    int map_w = 0, map_h = 0;
    int bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
    int label_y = 0, label_scale = 0;
    int title_x = 0, title_y = 0, title_scale = 0; // title_scale 0: no title
    int stipple_every = 1;    // one dot per block of k × k cells (small cells)
    AxisTicks row_ticks, column_ticks;
    int width = 0, height = 0;
};

// The largest grid drawn. Cells shrink to 1 pixel from 1024 columns or rows up,
// so these bound the picture (8192 pixels a side, 24 MB of pixels at most).
inline constexpr int32_t MAX_MAP_SIDE = 8192;
inline constexpr int64_t MAX_MAP_CELLS = int64_t(1) << 23;

// Cells are 1024 / max(columns, rows) pixels, at least 1 and at most 64; the bar
// is as wide as the grid but at least 256 pixels, so its labels fit. The picture
// widens to fit the title. columns and rows are 1 … MAX_MAP_SIDE, their product
// at most MAX_MAP_CELLS.
MapLayout plan_map(int32_t columns, int32_t rows, const MapStyle& style);

// Draws values (row-major, row 0 first) into rgb (layout.width × layout.height × 3
// bytes) as planned by plan_map with the same style. MISSING_VALUE and NaN are
// grey; infinities take the colour of the end they lie beyond.
void draw_map(const float* values, int32_t columns, int32_t rows, const MapStyle& style, const MapLayout& layout,
              unsigned char* rgb);
