#include "critical_lag.hpp"

#include <cmath>
#include <cstddef>

void compute_critical_lags(const float* x, int32_t lags, int32_t n, float* lag)
{
    // Lag by lag across all points: each point's running sum still grows in
    // increasing lag order, and the inner loop runs over contiguous values.
    static float sum_sq[MAX_POINTS];
    for (int32_t p = 0; p < n; ++p) {
        sum_sq[p] = 0.0f;
        lag[p] = 0.0f;
    }
    const float divisor = float(lags);
    for (int32_t j = 1; j <= lags; ++j) {
        const float* row = x + size_t(j - 1) * MAX_POINTS;
        const float fj = float(j);
        for (int32_t p = 0; p < n; ++p) {
            const float s = row[p] * row[p] + sum_sq[p];
            sum_sq[p] = s;
            const float v = ((s + s) + 1.0f) / divisor;
            const float crit = CRITICAL_FACTOR * std::sqrt(v);
            lag[p] = std::fabs(row[p]) > std::fabs(crit) ? fj : lag[p];
        }
    }
    // The second row is read even when fewer records filled it: it then holds 0.0.
    const float* second = x + MAX_POINTS;
    for (int32_t p = 0; p < n; ++p)
        if (second[p] == MISSING_VALUE) lag[p] = MISSING_VALUE;
}
