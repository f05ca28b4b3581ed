#include "autocorrelation.hpp"

#include <cstddef>

MeanVariance medvar(int32_t c, const float* x)
{
    float sum = 0.0f;
    for (int32_t k = 0; k < c; ++k) sum = x[k] + sum;
    const float mean = sum / float(c);
    float q = 0.0f;
    for (int32_t k = 0; k < c; ++k) {
        const float d = x[k] - mean;
        q = d * d + q;
    }
    return {mean, q / float(c - 1)};
}

void compute_autocorrelations(const FieldSeries& xs, int32_t n, float* aut)
{
    const int32_t steps = xs.count;
    const float fsteps = float(steps);
    for (int32_t p = 0; p < n; ++p) {
        const float* x = column(xs, p);
        if (x[1] == MISSING_VALUE) {
            for (int32_t j = 1; j <= MAX_STEPS; ++j) aut[size_t(j - 1) * MAX_POINTS + p] = MISSING_VALUE;
            continue;
        }
        const MeanVariance mv = medvar(steps, x);
        const float m = mv.mean;
        for (int32_t j = 1; j < steps; ++j) {
            float c = 0.0f;
            for (int32_t t = j; t < steps; ++t) c = (x[t] - m) * (x[t - j] - m) + c;
            const float atcv = c / fsteps;
            aut[size_t(j - 1) * MAX_POINTS + p] = atcv / mv.variance;
        }
    }
}
