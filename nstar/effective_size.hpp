// Effective sample size of the correlation between one series and every point of
// a field, from both autocorrelation functions and critical lags.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// Number of lags summed for one point: the larger critical lag truncated toward
// zero, or 0 when it is NaN or outside the 32-bit range. Never more than `lags`,
// since no lag beyond the last record is stored and such terms add nothing.
int32_t summed_lags(float clag1, float clag2, int32_t lags);

// r1[k - 1] is the series autocorrelation at lag k; ac2 holds `lags` rows of
// MAX_POINTS field autocorrelations, row k - 1 being lag k. Writes points 0..n-1
// of neff. With lags == 0 every term lies beyond the stored lags, so neff is 0.
void compute_effective_sizes(const float* r1, const float* ac2, int32_t lags, float clag1, const float* clag2,
                             int32_t n, float* neff);
