// Critical lag of every point: the last lag whose autocorrelation lies strictly
// outside its cumulative 1.96-standard-error bound.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// 1.96 as the single-precision constant the bound has always used.
inline constexpr float CRITICAL_FACTOR = std::bit_cast<float>(0x3FFAE148u);

// x holds `lags` rows of autocorrelations, row j - 1 being lag j, each row
// MAX_POINTS long (points beyond a record's own count read 0.0). Writes the
// critical lag of points 0..n-1 into lag[0..n-1]; a point whose lag-2 value is
// MISSING_VALUE gets MISSING_VALUE.
void compute_critical_lags(const float* x, int32_t lags, int32_t n, float* lag);
