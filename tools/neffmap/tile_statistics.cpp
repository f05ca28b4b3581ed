#include "tile_statistics.hpp"

#include <cmath>
#include <limits>

void reserve_columns(TileColumns& c, int32_t points)
{
    const auto n = size_t(points);
    c.state.resize(n);
    c.r.resize(n);
    c.slope.resize(n);
    c.largest.resize(n);
    c.critical_lag.resize(n);
    c.neff.resize(n);
    c.neff_lag1.resize(n);
    c.dof.resize(n);
    c.p.resize(n);
    c.sig_local.resize(n);
}

void add_counts(TileCounts& total, const TileCounts& tile)
{
    total.absent += tile.absent;
    total.gaps += tile.gaps;
    total.constant += tile.constant;
    total.not_finite += tile.not_finite;
    total.no_dof += tile.no_dof;
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
        int32_t missing[most_lanes] = {}, varies[most_lanes] = {}, not_finite[most_lanes] = {};
        float largest[most_lanes] = {};
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < lanes; ++k) {
                const float v = x[size_t(t) * size_t(lanes) + size_t(k)];
                const float a = std::fabs(v);
                missing[k] += v == MISSING_VALUE;
                varies[k] |= v != x[k];
                not_finite[k] |= !(a <= std::numeric_limits<float>::max());
                largest[k] = a > largest[k] ? a : largest[k];
            }
        double r[most_lanes], slope[most_lanes];
        pearson_r_lanes(series.data(), x, lanes, steps, r);
        slopes_lanes(series.data(), x, lanes, steps, slope);
        for (int32_t k = 0; k < lanes && p0 + k < points; ++k) {
            const size_t i = size_t(p0 + k);
            c.state[i] = missing[k] == steps ? POINT_ABSENT
                         : missing[k] > 0    ? POINT_GAP
                         : not_finite[k]     ? POINT_NOT_FINITE
                         : !varies[k]        ? POINT_CONSTANT
                                             : POINT_PRESENT;
            c.r[i] = c.state[i] == POINT_PRESENT ? r[k] : std::numeric_limits<double>::quiet_NaN();
            c.slope[i] = c.state[i] == POINT_PRESENT ? slope[k] : std::numeric_limits<double>::quiet_NaN();
            c.largest[i] = largest[k];
            if (c.state[i] == POINT_GAP || c.state[i] == POINT_ABSENT) x[size_t(lanes) + size_t(k)] = MISSING_VALUE;
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
        unsigned char& state = c.state[i];
        const float lag1 = m.xs.v[cell(m.xs, 0, p)];
        // The chain's missing marker is a finite number: it is not a result.
        if (state == POINT_PRESENT &&
            (!std::isfinite(c.r[i]) || !std::isfinite(lag1) || !std::isfinite(c.neff[i]) ||
             c.neff[i] == MISSING_VALUE))
            state = POINT_NOT_FINITE;
        c.neff_lag1[i] = state == POINT_PRESENT ? lag1_neff(series_lag1, double(lag1), steps) : nan;
        if (state == POINT_PRESENT && !std::isfinite(c.neff_lag1[i])) state = POINT_NOT_FINITE;
        const bool result = state == POINT_PRESENT;
        if (!result) c.r[i] = c.slope[i] = nan;
        const double neff = result ? neff_for_test(s.method, double(c.neff[i]), c.neff_lag1[i]) : nan;
        c.dof[i] = test_dof(neff, steps);
        if (s.kind == TestKind::t) c.p[i] = two_sided_p(c.r[i], c.dof[i]);
        if (!result) c.p[i] = nan;
        if (result && std::isnan(c.p[i]))
            state = s.kind == TestKind::t && c.dof[i] <= 0 ? POINT_NO_DOF : POINT_NOT_FINITE;
        if (state == POINT_NOT_FINITE) c.r[i] = c.slope[i] = c.neff_lag1[i] = c.dof[i] = c.p[i] = nan;
        const bool tested = state == POINT_PRESENT;
        counts.capped += tested && neff > double(steps);
        c.sig_local[i] = tested ? static_cast<signed char>(c.p[i] < s.alpha) : MASK_FILL;
        counts.local += c.sig_local[i] == 1;
        counts.tested += tested;
        counts.absent += state == POINT_ABSENT;
        counts.gaps += state == POINT_GAP;
        counts.constant += state == POINT_CONSTANT;
        counts.not_finite += state == POINT_NOT_FINITE;
        counts.no_dof += state == POINT_NO_DOF;
    }
}
