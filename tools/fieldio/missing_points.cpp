#include "missing_points.hpp"

#include <cstddef>
#include <vector>

#include "series_file.hpp"

int32_t mark_points_with_gaps(float* values, int32_t steps, int32_t points)
{
    // Step by step, in the order the values lie in memory.
    std::vector<unsigned char> gap(size_t(points > 0 ? points : 0), 0);
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = values + size_t(t) * size_t(points);
        for (int32_t p = 0; p < points; ++p) gap[size_t(p)] = gap[size_t(p)] || row[p] == MISSING_VALUE;
    }
    int32_t gappy = 0;
    for (int32_t p = 0; p < points; ++p) {
        if (!gap[size_t(p)]) continue;
        ++gappy;
        if (steps >= 2) values[size_t(points) + size_t(p)] = MISSING_VALUE;
    }
    return gappy;
}
