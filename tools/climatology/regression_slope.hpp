// The least-squares slope of a point's values on the series: how many of the
// field's units one unit of the series goes with.
#pragma once

#include <cstdint>

// Σ(x - x̄)(y - ȳ) / Σ(x - x̄)² over n steps, x the series and y the point,
// every sum in double precision in step order. NaN when n < 2, when the series
// is constant, or when a value is not finite.
double regression_slope(const float* series, const float* point, int32_t n);
