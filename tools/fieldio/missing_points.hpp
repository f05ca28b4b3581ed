// The one rule by which the tools hand a field with gaps to the chain.
#pragma once

#include <cstdint>

// lagscan knows a point is missing only by its value at step 2: a MISSING_VALUE
// at any other step would enter its sums as the number 8999999488. So a point
// missing at any step is marked missing at step 2, and the chain leaves it out.
//
// values holds `steps` steps of `points` values each, step after step (step t's
// values at values + t * points). Returns how many points have a missing step;
// with fewer than two steps nothing is marked. points is at most MAX_POINTS.
int32_t mark_points_with_gaps(float* values, int32_t steps, int32_t points);
