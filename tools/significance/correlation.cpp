#include <cmath>

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

double lag1_neff(double a1, double b1, int32_t n)
{
    if (!std::isfinite(a1) || !std::isfinite(b1)) return std::nan("");
    const double ab = a1 * b1;
    return double(n) * (1.0 - ab) / (1.0 + ab);
}
