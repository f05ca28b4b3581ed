#include "tile_transforms.hpp"

void transform_tile(const TileTransforms& t, TileMatrix& m, int32_t points, CycleCount& cycles)
{
    const FieldSeries& xs = m.xs;
    const int32_t lanes = xs.lanes;
    // Each block of `lanes` points holds step s of its points as `lanes`
    // adjacent values: the layout the climatology works in, a block at a time.
    for (int32_t p0 = 0; p0 < points; p0 += lanes) {
        float* x = xs.v + cell(xs, 0, p0);
        remove_climatology(t.plan, x, lanes);
        const CycleCount c = count_annual_cycles(t.cycle_test, x, lanes);
        // The lanes after the last point hold zeros: tested, never a cycle.
        const int32_t padding = p0 + lanes > points ? p0 + lanes - points : 0;
        cycles.tested += c.tested > 0 ? c.tested - padding : 0;
        cycles.with_cycle += c.with_cycle;
    }
}
