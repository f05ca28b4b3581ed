#include "critical_lag.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

// Points taken together: their sums stay on the stack (8 KB), and a lag of them
// is one contiguous run of memory in any tiling.
constexpr int32_t SPAN = 2048;

// Points p0 .. p0+w-1, side by side at every lag: lag by lag across the points,
// so that each point's running sum still grows in increasing lag order while the
// inner loop runs over contiguous values.
void critical_lags_of_span(const FieldSeries& x, int32_t p0, int32_t w, float* lag)
{
    const int32_t lags = x.count;
    float sum_sq[SPAN];
    for (int32_t i = 0; i < w; ++i) {
        sum_sq[i] = 0.0f;
        lag[i] = 0.0f;
    }
    const float divisor = float(lags);
    for (int32_t j = 1; j <= lags; ++j) {
        const float* row = x.v + cell(x, j - 1, p0);
        const float fj = float(j);
        for (int32_t i = 0; i < w; ++i) {
            const float s = row[i] * row[i] + sum_sq[i];
            sum_sq[i] = s;
            const float v = ((s + s) + 1.0f) / divisor;
            const float crit = CRITICAL_FACTOR * std::sqrt(v);
            lag[i] = std::fabs(row[i]) > std::fabs(crit) ? fj : lag[i];
        }
    }
    if (lags < 2) return;
    const float* second = x.v + cell(x, 1, p0);
    for (int32_t i = 0; i < w; ++i)
        if (second[i] == MISSING_VALUE) lag[i] = MISSING_VALUE;
}

} // namespace

void compute_critical_lags(const FieldSeries& x, int32_t n, float* lag)
{
    for (int32_t p0 = 0; p0 < n;) {
        const int32_t w = std::min({SPAN, x.lanes - p0 % x.lanes, n - p0});
        critical_lags_of_span(x, p0, w, lag + p0);
        p0 += w;
    }
}
