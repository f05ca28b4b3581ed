#include "unit_scaling.hpp"

#include <cmath>

#include "tile_statistics.hpp"

double unit_scale(float largest)
{
    if (!(largest > 0.0f) || !std::isfinite(largest)) return 1.0;
    int e = 0;
    std::frexp(largest, &e);
    // In double: a subnormal largest magnitude needs more than float's 2^127.
    return std::ldexp(1.0, -e);
}

std::vector<float> scaled_to_unit(const std::vector<float>& series)
{
    float largest = 0.0f;
    for (float v : series) largest = std::fmax(largest, std::fabs(v));
    const double s = unit_scale(largest);
    std::vector<float> out(series.size());
    for (size_t t = 0; t < series.size(); ++t) out[t] = float(double(series[t]) * s);
    return out;
}

void scale_points_to_unit(TileMatrix& m, int32_t points, const unsigned char* state)
{
    const FieldSeries& xs = m.xs;
    const int32_t steps = xs.count, lanes = xs.lanes;
    constexpr int32_t most_lanes = 16;
    for (int32_t p0 = 0; p0 < points; p0 += lanes) {
        float* x = xs.v + cell(xs, 0, p0);
        float largest[most_lanes] = {};
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < lanes; ++k)
                largest[k] = std::fmax(largest[k], std::fabs(x[size_t(t) * size_t(lanes) + size_t(k)]));
        double s[most_lanes];
        for (int32_t k = 0; k < lanes; ++k)
            s[k] = p0 + k < points && state[p0 + k] == POINT_PRESENT ? unit_scale(largest[k]) : 1.0;
        // Exact for every value whose scaled magnitude is a normal float.
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < lanes; ++k) {
                float& v = x[size_t(t) * size_t(lanes) + size_t(k)];
                v = float(double(v) * s[k]);
            }
    }
}
