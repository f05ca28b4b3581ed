// Lagged autocorrelation of every point of a field series.
#pragma once

#include <cstdint>

#include "series_file.hpp"

struct MeanVariance {
    float mean;
    float variance;
};

// Mean and variance (divided by c - 1) of the first c values of one point's column,
// summed in increasing order in single precision.
MeanVariance medvar(int32_t c, const float* x);

// Autocorrelations of points 0..n-1 of xs at lags 1..N-1 (N = xs.count) into aut,
// lag-major: aut[(j - 1) * MAX_POINTS + p] is lag j of point p, ready to be written
// one record per lag. A point whose second step holds MISSING_VALUE is missing at
// every lag.
void compute_autocorrelations(const FieldSeries& xs, int32_t n, float* aut);
