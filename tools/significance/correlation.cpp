#include <cmath>
#include <cstddef>

#include "significance.hpp"

double pearson_r(const float* x, const float* y, int32_t n)
{
    if (n < 2) return std::nan("");
    // Deviations from the means rather than raw sums of squares: a field of
    // temperatures near 280 K would otherwise lose most digits of its variance.
    double sx = 0.0, sy = 0.0;
    for (int32_t t = 0; t < n; ++t) {
        if (!std::isfinite(x[t]) || !std::isfinite(y[t])) return std::nan("");
        sx += double(x[t]);
        sy += double(y[t]);
    }
    const double mx = sx / double(n), my = sy / double(n);
    double sxx = 0.0, syy = 0.0, sxy = 0.0;
    for (int32_t t = 0; t < n; ++t) {
        const double dx = double(x[t]) - mx, dy = double(y[t]) - my;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
    }
    if (sxx == 0.0 || syy == 0.0) return std::nan("");
    // One square root of the product keeps r exactly 1 when y's deviations are
    // x's scaled by a power of two; rounding may still carry |r| a hair past 1,
    // where 1 - r^2 would turn negative.
    const double r = sxy / std::sqrt(sxx * syy);
    return std::fmax(-1.0, std::fmin(1.0, r));
}

namespace {

// Inlined into each build of pearson_r_lanes below, so that each is compiled for
// its own instruction set.
template <int L>
[[gnu::always_inline]] inline void pearson_lanes(const float* y, const float* x, int32_t n, double* r)
{
    // A value that is not finite makes the point's r NaN, as pearson_r's early
    // return does; the flags keep the loop free of branches.
    double sy = 0.0, sx[L] = {};
    int bad_y = 0, bad[L] = {};
    for (int32_t t = 0; t < n; ++t) {
        bad_y |= !std::isfinite(y[t]);
        sy += double(y[t]);
        const float* row = x + size_t(t) * L;
        for (int k = 0; k < L; ++k) {
            bad[k] |= !std::isfinite(row[k]);
            sx[k] += double(row[k]);
        }
    }
    const double my = sy / double(n);
    double mx[L], sxx[L] = {}, sxy[L] = {}, syy = 0.0;
    for (int k = 0; k < L; ++k) mx[k] = sx[k] / double(n);
    for (int32_t t = 0; t < n; ++t) {
        const double dy = double(y[t]) - my;
        syy += dy * dy;
        const float* row = x + size_t(t) * L;
        for (int k = 0; k < L; ++k) {
            const double dx = double(row[k]) - mx[k];
            sxx[k] += dx * dx;
            sxy[k] += dy * dx;
        }
    }
    for (int k = 0; k < L; ++k) {
        const double v = syy * sxx[k];
        r[k] = n < 2 || bad_y || bad[k] || syy == 0.0 || sxx[k] == 0.0
                   ? std::nan("")
                   : std::fmax(-1.0, std::fmin(1.0, sxy[k] / std::sqrt(v)));
    }
}

[[gnu::always_inline]] inline void pearson_any_lanes(const float* y, const float* x, int32_t lanes, int32_t n,
                                                     double* r)
{
    switch (lanes) {
    case 4: return pearson_lanes<4>(y, x, n, r);
    case 8: return pearson_lanes<8>(y, x, n, r);
    default: return pearson_lanes<16>(y, x, n, r);
    }
}

// The same source once per instruction set. Without contraction into fused
// multiply-adds every build rounds each operation alike, so they differ only
// in speed.
[[gnu::target("avx512f")]] void pearson_avx512(const float* y, const float* x, int32_t lanes, int32_t n, double* r)
{
    pearson_any_lanes(y, x, lanes, n, r);
}

[[gnu::target("avx2")]] void pearson_avx2(const float* y, const float* x, int32_t lanes, int32_t n, double* r)
{
    pearson_any_lanes(y, x, lanes, n, r);
}

void pearson_plain(const float* y, const float* x, int32_t lanes, int32_t n, double* r)
{
    pearson_any_lanes(y, x, lanes, n, r);
}

} // namespace

bool lanes_build_runs(LanesBuild b)
{
    __builtin_cpu_init();
    switch (b) {
    case LanesBuild::avx512: return __builtin_cpu_supports("avx512f");
    case LanesBuild::avx2: return __builtin_cpu_supports("avx2");
    case LanesBuild::plain: return true;
    }
    return false;
}

void pearson_r_lanes(LanesBuild b, const float* y, const float* x, int32_t lanes, int32_t n, double* r)
{
    switch (b) {
    case LanesBuild::avx512: return pearson_avx512(y, x, lanes, n, r);
    case LanesBuild::avx2: return pearson_avx2(y, x, lanes, n, r);
    case LanesBuild::plain: return pearson_plain(y, x, lanes, n, r);
    }
}

void pearson_r_lanes(const float* y, const float* x, int32_t lanes, int32_t n, double* r)
{
    const LanesBuild b = lanes_build_runs(LanesBuild::avx512) ? LanesBuild::avx512
                         : lanes_build_runs(LanesBuild::avx2) ? LanesBuild::avx2
                                                              : LanesBuild::plain;
    pearson_r_lanes(b, y, x, lanes, n, r);
}

double lag1_neff(double a1, double b1, int32_t n)
{
    if (!std::isfinite(a1) || !std::isfinite(b1)) return std::nan("");
    const double ab = a1 * b1;
    return double(n) * (1.0 - ab) / (1.0 + ab);
}
