// Tick labels along one edge of a map: a handful of round coordinate values
// (30N, 0, 30S; 60E, 180, 120W; or plain numbers) at the cells where they fall.
#pragma once

#include <cstdint>

enum class AxisKind { plain, latitude, longitude };

inline constexpr int MAX_TICKS = 16;
inline constexpr int TICK_TEXT = 16;

struct AxisTicks {
    int count = 0;
    double cell[MAX_TICKS] = {}; // fractional cell index: 0 is the centre of cell 0
    char text[MAX_TICKS][TICK_TEXT] = {};
};

// Ticks for a coordinate of n cells drawn cell_px pixels apart, spaced so that
// their labels (drawn at `scale`) do not touch: side by side along a horizontal
// edge, one above another along a vertical one. None unless the coordinate is
// finite and strictly monotonic; longitudes may wrap once through 360.
AxisTicks choose_ticks(const double* coords, int32_t n, AxisKind kind, int cell_px, bool horizontal, int scale);

// The label of one coordinate value: "30N", "0", "120W", "2.5".
void tick_text(double v, AxisKind kind, char (&text)[TICK_TEXT]);
