// Critical lag of every point: the last lag whose autocorrelation lies strictly
// outside its cumulative 1.96-standard-error bound.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// 1.96 as the single-precision constant the bound has always used.
inline constexpr float CRITICAL_FACTOR = std::bit_cast<float>(0x3FFAE148u);

// x holds x.count lags of autocorrelations, lag j of point p at cell(x, j - 1, p),
// in whatever tiling x has: the tiles lagscan's kernel leaves its results in (with
// count set to the number of lags, N - 1), or lag-major rows of MAX_POINTS values
// (lanes = MAX_POINTS, row j - 1 being lag j) as read from an autocorrelation
// file, points beyond a record's own count reading 0.0. Writes the critical lag of
// points 0..n-1 into lag[0..n-1]; a point whose lag-2 value is MISSING_VALUE gets
// MISSING_VALUE (with fewer than two lags there is no lag 2, and no point is
// missing). Keeps nothing between calls: safe on several threads at once.
void compute_critical_lags(const FieldSeries& x, int32_t n, float* lag);
