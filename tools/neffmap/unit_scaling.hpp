// Each series scaled by a power of two before the chain, so that its largest
// magnitude lies in [0.5, 1). The chain's sums are single precision: values
// beyond about 1e18 overflow them and values below about 1e-19 sink into
// subnormal numbers. A power of two changes no bit of the chain's results for
// data within that range (every product, sum and quotient scales exactly), and
// it makes them independent of the data's units.
#pragma once

#include <cstdint>
#include <vector>

#include "chain_tile.hpp"

// The power of two 2^-e with largest = m 2^e, 0.5 <= m < 1; 1 for a largest
// magnitude that is 0 or not finite (nothing to gain, and nothing to spoil).
double unit_scale(float largest);

// The series scaled as a whole.
std::vector<float> scaled_to_unit(const std::vector<float>& series);

// Each point of m (of `points`) whose state is POINT_PRESENT scaled by its own
// power of two, from its largest magnitude (as prepare_points found it); points
// with gaps keep every value, the missing marker included.
void scale_points_to_unit(TileMatrix& m, int32_t points, const unsigned char* state, const float* largest);
