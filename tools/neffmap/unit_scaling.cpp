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

namespace {

// Every value of the block times its point's power of two, in single precision:
// the product of a float and a power of two that is itself a float is rounded
// once from the exact product, as the double product rounded to float is.
template <int L>
[[gnu::always_inline]] inline void scale_block(float* x, int32_t steps, const float* s)
{
    for (int32_t t = 0; t < steps; ++t)
        for (int k = 0; k < L; ++k) x[size_t(t) * L + size_t(k)] *= s[k];
}

// Built for each instruction set, as the correlations are; the same bits on each.
// lanes is a kernel's width: 4, 8 or 16.
__attribute__((target_clones("avx512f", "avx2", "default"))) void scale_lanes(float* x, int32_t lanes, int32_t steps,
                                                                            const float* s)
{
    switch (lanes) {
    case 16: return scale_block<16>(x, steps, s);
    case 8: return scale_block<8>(x, steps, s);
    default: return scale_block<4>(x, steps, s);
    }
}

} // namespace

void scale_points_to_unit(TileMatrix& m, int32_t points, const unsigned char* state, const float* largest)
{
    const FieldSeries& xs = m.xs;
    const int32_t steps = xs.count, lanes = xs.lanes;
    constexpr int32_t most_lanes = 16;
    for (int32_t p0 = 0; p0 < points; p0 += lanes) {
        float* x = xs.v + cell(xs, 0, p0);
        double s[most_lanes];
        bool in_float = true;
        for (int32_t k = 0; k < lanes; ++k) {
            s[k] = p0 + k < points && state[p0 + k] == POINT_PRESENT ? unit_scale(largest[p0 + k]) : 1.0;
            // 2^-149 ... 2^127 are floats; a subnormal largest magnitude asks for more.
            in_float = in_float && s[k] <= 0x1p127;
        }
        if (in_float) {
            float sf[most_lanes];
            for (int32_t k = 0; k < lanes; ++k) sf[k] = float(s[k]);
            scale_lanes(x, lanes, steps, sf);
            continue;
        }
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < lanes; ++k) {
                float& v = x[size_t(t) * size_t(lanes) + size_t(k)];
                v = float(double(v) * s[k]);
            }
    }
}
