// Effective sample size of the correlation between one series and every point of
// a field, from both autocorrelation functions and critical lags.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// Number of lags summed for one point: the larger critical lag truncated toward
// zero, or 0 when it is NaN or outside the 32-bit range. Never more than `lags`,
// since no lag beyond the last record is stored and such terms add nothing.
int32_t summed_lags(float clag1, float clag2, int32_t lags);

// r1[k - 1] is the series autocorrelation at lag k, k = 1 .. lags. ac2 holds the
// field autocorrelations, lag k of point p at cell(ac2, k - 1, p), in whatever
// tiling it has: the tiles lagscan's kernel leaves its results in (count set to
// the number of lags), or lag-major rows of MAX_POINTS values (lanes =
// MAX_POINTS) as read from an autocorrelation file. It must hold at least `lags`
// lags (RunError otherwise). Writes points 0..n-1 of neff. With lags == 0 every
// term lies beyond the stored lags, so neff is 0. Keeps nothing between calls:
// safe on several threads at once.
void compute_effective_sizes(const float* r1, int32_t lags, const FieldSeries& ac2, float clag1, const float* clag2,
                             int32_t n, float* neff);
