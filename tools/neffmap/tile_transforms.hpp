// What is done to each tile's values before anything else sees them: the
// seasonal cycle and the line taken out (--anomalies, --detrend), and, when the
// cycle stays in, the count of points that still carry one.
#pragma once

#include <cstdint>

#include "annual_cycle_test.hpp"
#include "chain_tile.hpp"
#include "climatology.hpp"

struct TileTransforms {
    ClimatologyPlan plan;       // the field's, planned on its own paired dates
    AnnualCycleTest cycle_test; // usable only when the cycle is left in
};

// On the tile as read (m.xs.count steps of `points` points), before the gap
// marking: every point's values transformed in place, in the tile's own layout,
// and the points with an annual cycle added to `cycles`.
void transform_tile(const TileTransforms& t, TileMatrix& m, int32_t points, CycleCount& cycles);
