#include "effective_size.hpp"

#include <cstddef>

int32_t summed_lags(float clag1, float clag2, int32_t lags)
{
    // A NaN series lag fails the comparison, so the field lag is taken.
    const float m = clag1 >= clag2 ? clag1 : clag2;
    if (!(m >= -2147483648.0f && m < 2147483648.0f)) return 0;
    const int32_t k = int32_t(m);
    if (k < 0) return 0;
    return k < lags ? k : lags;
}

void compute_effective_sizes(const float* r1, const float* ac2, int32_t lags, float clag1, const float* clag2,
                             int32_t n, float* neff)
{
    // Lag by lag across points; each point's sum still grows in increasing lag order.
    static float sum[MAX_POINTS];
    static int32_t last_lag[MAX_POINTS];
    int32_t deepest = 0;
    for (int32_t p = 0; p < n; ++p) {
        sum[p] = 0.0f;
        last_lag[p] = summed_lags(clag1, clag2[p], lags);
        if (last_lag[p] > deepest) deepest = last_lag[p];
    }
    for (int32_t k = 1; k <= deepest; ++k) {
        const int32_t w = 2 * (1 - k / lags); // integer quotient: 2 below the last lag, 0 at it
        const float weighted = float(w) * r1[k - 1];
        const float* row = ac2 + size_t(k - 1) * MAX_POINTS;
        for (int32_t p = 0; p < n; ++p) {
            const float s = weighted * row[p] + sum[p];
            sum[p] = k <= last_lag[p] ? s : sum[p];
        }
    }
    const float size = float(lags);
    for (int32_t p = 0; p < n; ++p)
        neff[p] = clag2[p] == MISSING_VALUE ? MISSING_VALUE : size / (1.0f + sum[p]);
}
