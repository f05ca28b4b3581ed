// The vectorised autocorrelation kernel. lag_kernel.cpp is compiled once per
// instruction set, each time into its own namespace (named by LAG_KERNEL_NS), so
// one source gives every path and a binary holds them all side by side.
//
// Each path works on a FieldSeries in tiles of LANES points (one vector lane per
// point) and keeps LAGS lags in flight: one accumulator vector per lag, and a ring
// of LAGS deviations that those lags reach back to, so each step loads two
// deviations for LAGS multiplies. LAGS is the most for which accumulators, ring,
// the step's own deviation and one product still fit the vector registers
// (2 LAGS + 2). The compiler still spills one or two of them; the kernel code
// test bounds how often the built inner loop reads memory per multiply.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// Any x86-64: 128-bit vectors.
namespace lag_portable {
inline constexpr int32_t LANES = 4;
inline constexpr int32_t LAGS = 7;
void autocorrelations(FieldSeries& xs, int32_t n);
} // namespace lag_portable

// 256-bit vectors, 16 registers.
namespace lag_avx2 {
inline constexpr int32_t LANES = 8;
inline constexpr int32_t LAGS = 7;
void autocorrelations(FieldSeries& xs, int32_t n);
} // namespace lag_avx2

// 512-bit vectors, 32 registers.
namespace lag_avx512 {
inline constexpr int32_t LANES = 16;
inline constexpr int32_t LAGS = 15;
void autocorrelations(FieldSeries& xs, int32_t n);
} // namespace lag_avx512
