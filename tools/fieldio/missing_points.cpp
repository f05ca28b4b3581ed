#include "missing_points.hpp"

#include <cstddef>

#include "series_file.hpp"

int32_t mark_points_with_gaps(float* values, int32_t steps, int32_t points)
{
    // Step by step, in the order the values lie in memory.
    static bool gap[MAX_POINTS];
    for (int32_t p = 0; p < points; ++p) gap[p] = false;
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = values + size_t(t) * size_t(points);
        for (int32_t p = 0; p < points; ++p) gap[p] = gap[p] || row[p] == MISSING_VALUE;
    }
    int32_t gappy = 0;
    for (int32_t p = 0; p < points; ++p) {
        if (!gap[p]) continue;
        ++gappy;
        if (steps >= 2) values[size_t(points) + size_t(p)] = MISSING_VALUE;
    }
    return gappy;
}
