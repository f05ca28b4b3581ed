#include "effective_size.hpp"

#include <algorithm>
#include <cstddef>

#include "run_error.hpp"

int32_t summed_lags(float clag1, float clag2, int32_t lags)
{
    // A NaN series lag fails the comparison, so the field lag is taken.
    const float m = clag1 >= clag2 ? clag1 : clag2;
    if (!(m >= -2147483648.0f && m < 2147483648.0f)) return 0;
    const int32_t k = int32_t(m);
    if (k < 0) return 0;
    return k < lags ? k : lags;
}

namespace {

// Points taken together: their sums and lag counts stay on the stack (16 KB), and
// a lag of them is one contiguous run of memory in any tiling.
constexpr int32_t SPAN = 2048;

// Points p0 .. p0+w-1, side by side at every lag: lag by lag across the points;
// each point's sum still grows in increasing lag order.
void effective_sizes_of_span(const float* r1, int32_t lags, const FieldSeries& ac2, float clag1,
                             const float* clag2, int32_t p0, int32_t w, float* neff)
{
    float sum[SPAN];
    int32_t last_lag[SPAN];
    int32_t deepest = 0;
    for (int32_t i = 0; i < w; ++i) {
        sum[i] = 0.0f;
        last_lag[i] = summed_lags(clag1, clag2[i], lags);
        if (last_lag[i] > deepest) deepest = last_lag[i];
    }
    for (int32_t k = 1; k <= deepest; ++k) {
        const int32_t wk = 2 * (1 - k / lags); // integer quotient: 2 below the last lag, 0 at it
        const float weighted = float(wk) * r1[k - 1];
        const float* row = ac2.v + cell(ac2, k - 1, p0);
        for (int32_t i = 0; i < w; ++i) {
            const float s = weighted * row[i] + sum[i];
            sum[i] = k <= last_lag[i] ? s : sum[i];
        }
    }
    const float size = float(lags);
    for (int32_t i = 0; i < w; ++i)
        neff[i] = clag2[i] == MISSING_VALUE ? MISSING_VALUE : size / (1.0f + sum[i]);
}

} // namespace

void compute_effective_sizes(const float* r1, int32_t lags, const FieldSeries& ac2, float clag1, const float* clag2,
                             int32_t n, float* neff)
{
    if (ac2.count < lags) fail("field autocorrelations", "fewer lags than the series autocorrelations");
    for (int32_t p0 = 0; p0 < n;) {
        const int32_t w = std::min({SPAN, ac2.lanes - p0 % ac2.lanes, n - p0});
        effective_sizes_of_span(r1, lags, ac2, clag1, clag2 + p0, p0, w, neff + p0);
        p0 += w;
    }
}
