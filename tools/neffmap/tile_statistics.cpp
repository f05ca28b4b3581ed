#include "tile_statistics.hpp"

#include <cmath>
#include <limits>

void reserve_columns(TileColumns& c, int32_t points)
{
    const auto n = size_t(points);
    c.state.resize(n);
    c.r.resize(n);
    c.slope.resize(n);
    c.critical_lag.resize(n);
    c.neff.resize(n);
    c.lag1.resize(n);
    c.neff_lag1.resize(n);
    c.dof.resize(n);
    c.p.resize(n);
    c.sig_local.resize(n);
}

void add_counts(TileCounts& total, const TileCounts& tile)
{
    total.absent += tile.absent;
    total.gaps += tile.gaps;
    total.with_result += tile.with_result;
    total.tested += tile.tested;
    total.local += tile.local;
    total.capped += tile.capped;
    total.annual_cycle.tested += tile.annual_cycle.tested;
    total.annual_cycle.with_cycle += tile.annual_cycle.with_cycle;
}

namespace {

// regression_slope's sums for the L points of one block, side by side:
// x[t * L + k] is point k at step t. The series' own sums are the same for
// every lane.
template <int L>
[[gnu::always_inline]] inline void slopes_of_block(const float* series, const float* x, int32_t steps, double* slope)
{
    double sx = 0, sy[L] = {};
    for (int32_t t = 0; t < steps; ++t) {
        sx += double(series[t]);
        for (int k = 0; k < L; ++k) sy[k] += double(x[size_t(t) * L + size_t(k)]);
    }
    const double mx = sx / steps;
    double my[L], sxx = 0, sxy[L] = {};
    for (int k = 0; k < L; ++k) my[k] = sy[k] / steps;
    for (int32_t t = 0; t < steps; ++t) {
        const double dx = double(series[t]) - mx;
        sxx += dx * dx;
        for (int k = 0; k < L; ++k) sxy[k] += dx * (double(x[size_t(t) * L + size_t(k)]) - my[k]);
    }
    for (int k = 0; k < L; ++k) slope[k] = sxx == 0 ? std::numeric_limits<double>::quiet_NaN() : sxy[k] / sxx;
}

// Built for each instruction set, as the correlations are; the same bits on each.
// lanes is a kernel's width: 4, 8 or 16.
__attribute__((target_clones("avx512f", "avx2", "default"))) void slopes_lanes(const float* series, const float* x,
                                                                             int32_t lanes, int32_t steps,
                                                                             double* slope)
{
    switch (lanes) {
    case 16: return slopes_of_block<16>(series, x, steps, slope);
    case 8: return slopes_of_block<8>(series, x, steps, slope);
    default: return slopes_of_block<4>(series, x, steps, slope);
    }
}

} // namespace

void prepare_points(TileMatrix& m, int32_t points, const std::vector<float>& series, TileColumns& c)
{
    const FieldSeries& xs = m.xs;
    const int32_t steps = xs.count, lanes = xs.lanes;
    constexpr int32_t most_lanes = 16;
    for (int32_t p0 = 0; p0 < points; p0 += lanes) {
        // One tile of the layout: step t of its points is lanes adjacent values.
        float* x = xs.v + cell(xs, 0, p0);
        int32_t missing[most_lanes] = {};
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < lanes; ++k) missing[k] += x[size_t(t) * size_t(lanes) + size_t(k)] == MISSING_VALUE;
        double r[most_lanes], slope[most_lanes];
        pearson_r_lanes(series.data(), x, lanes, steps, r);
        slopes_lanes(series.data(), x, lanes, steps, slope);
        for (int32_t k = 0; k < lanes && p0 + k < points; ++k) {
            const size_t i = size_t(p0 + k);
            c.state[i] = missing[k] == 0 ? POINT_PRESENT : missing[k] == steps ? POINT_ABSENT : POINT_GAP;
            c.r[i] = c.state[i] == POINT_PRESENT ? r[k] : std::numeric_limits<double>::quiet_NaN();
            c.slope[i] = c.state[i] == POINT_PRESENT ? slope[k] : std::numeric_limits<double>::quiet_NaN();
            if (c.state[i] != POINT_PRESENT) x[size_t(lanes) + size_t(k)] = MISSING_VALUE;
        }
    }
}

void test_points(const TileMatrix& m, int32_t points, const SeriesChain& series, const TestSettings& s,
                 TileColumns& c, TileCounts& counts)
{
    const int32_t steps = m.xs.count;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double series_lag1 = double(series.aut[0]);
    for (int32_t p = 0; p < points; ++p) {
        const auto i = size_t(p);
        c.lag1[i] = m.xs.v[cell(m.xs, 0, p)];
        counts.absent += c.state[i] == POINT_ABSENT;
        counts.gaps += c.state[i] == POINT_GAP;
        counts.with_result += c.neff[i] != MISSING_VALUE && !std::isnan(c.neff[i]);
        // The chain's missing marker is a finite number: a missing point is NaN here.
        const bool present = c.state[i] == POINT_PRESENT && c.neff[i] != MISSING_VALUE;
        const double chain = present ? double(c.neff[i]) : nan;
        c.neff_lag1[i] = present ? lag1_neff(series_lag1, double(c.lag1[i]), steps) : nan;
        const double neff = neff_for_test(s.method, chain, c.neff_lag1[i]);
        counts.capped += neff > double(steps);
        c.dof[i] = test_dof(neff, steps);
        c.p[i] = two_sided_p(c.r[i], c.dof[i]);
        const bool tested = !std::isnan(c.p[i]);
        counts.tested += tested;
        c.sig_local[i] = tested ? static_cast<signed char>(c.p[i] < s.alpha) : MASK_FILL;
        counts.local += c.sig_local[i] == 1;
    }
}
