// Where a grid's cells lie: each edge of the grid as a run of cell edges in world
// units (degrees, the grid's own coordinate, or cell numbers), and the mapping of
// world units to the picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_picture.hpp"

struct AxisGeometry {
    AxisKind kind = AxisKind::plain; // plain also when the given coordinates could not be used
    // n + 1 cell edges in data order, strictly monotonic: midway between centres,
    // half a step beyond the outer ones, latitudes clamped to ±90. Longitudes are
    // unwrapped so that they run on without a jump (350, 355, 360, 365 …).
    std::vector<double> edges;
    std::string note; // why given coordinates were not used; empty when they were
};

// Without usable centres the cells are numbered from 1 (edges 0.5 … n + 0.5).
// Longitude and latitude centres must be finite and strictly monotonic (a
// longitude step is taken the short way round), latitudes within ±90 and
// longitudes spanning at most one turn; plain ones finite and strictly monotonic.
AxisGeometry axis_geometry(const double* centres, int32_t n, AxisKind kind);

// World units along one axis of the picture: `from` at pixel `start`, `to` at
// start + length.
struct AxisMap {
    double from = 0, to = 1;
    double start = 0, length = 1;
};

double to_picture(const AxisMap& m, double world);

// Left to right: east to the right for longitudes, column 0 at the left
// otherwise. Top to bottom: north up for latitudes, otherwise row 0 at the top
// when row0_on_top.
AxisMap horizontal_map(const AxisGeometry& g, double start, double length);
AxisMap vertical_map(const AxisGeometry& g, bool row0_on_top, double start, double length);

// For each of `pixels` equal steps along an axis map, the cell whose edges hold
// the step's centre (clamped to the first and last cell).
std::vector<int32_t> cell_of_pixels(const AxisGeometry& g, const AxisMap& m, int32_t pixels);

// Round values along an axis for labels: their world positions and texts
// ("30°N", "0°", "120°W", "180°"; plain numbers otherwise), at the smallest
// round step that leaves each label at least `spacing` picture units from the
// next, where a label is `label_size(text)` units long along the axis.
struct AxisTick {
    double world;
    std::string label;
};
struct TickRoom {
    double per_char = 8; // picture units per character along the axis (0: labels stacked)
    double fixed = 12;   // plus this much per label
    double gap = 16;     // units kept clear between neighbours
};
std::vector<AxisTick> axis_ticks(const AxisGeometry& g, const AxisMap& m, TickRoom room);

// The text of a coordinate value: degrees with N/S/E/W, or a plain number.
std::string coordinate_text(double v, AxisKind kind, double step);
