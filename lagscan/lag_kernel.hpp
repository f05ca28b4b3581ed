// The vectorised autocorrelation kernel. lag_kernel.cpp is compiled once per
// instruction set, each time into its own namespace (named by LAG_KERNEL_NS), so
// one source gives every path and a binary holds them all side by side.
//
// Each path works on a FieldSeries in tiles of LANES points (one vector lane per
// point) and keeps LAGS lags in flight, one accumulator vector per lag. The lags
// reach back over LAGS consecutive deviations; the newest RING of them sit in a
// ring of registers, so each step loads its own deviation, the one entering the
// ring, and the LAGS - RING older ones its multiplies read straight from memory.
//
// Every lag's sum is a chain of dependent adds, so LAGS must be large enough for
// the chains to keep both adders busy: on Zen 4, with 8 lanes, an add waits 3
// cycles for the one before it while a step lasts LAGS / 2 cycles, and 7 lags
// (the most whose deviations all fit 16 registers beside their accumulators)
// measured 84 % of the arithmetic limit against 91-93 % for 8 lags with 6 in the
// ring. With 32 registers all 15 lags fit. The kernel code test bounds how often the built
// inner loop reads memory per multiply.
#pragma once

#include <cstdint>

#include "series_file.hpp"

// Each path's `autocorrelations` keeps the deviations of the tile in hand in
// `dev`: room for MAX_STEPS steps of its LANES lanes, aligned to its vectors
// (LagScratch holds that for every path).

// Any x86-64: 128-bit vectors.
namespace lag_portable {
inline constexpr int32_t LANES = 4;
inline constexpr int32_t LAGS = 7;
inline constexpr int32_t RING = 7;
void autocorrelations(FieldSeries& xs, int32_t n, float* dev);
} // namespace lag_portable

// 256-bit vectors, 16 registers.
namespace lag_avx2 {
inline constexpr int32_t LANES = 8;
inline constexpr int32_t LAGS = 8;
inline constexpr int32_t RING = 6;
void autocorrelations(FieldSeries& xs, int32_t n, float* dev);
} // namespace lag_avx2

// 512-bit vectors, 32 registers.
namespace lag_avx512 {
inline constexpr int32_t LANES = 16;
inline constexpr int32_t LAGS = 15;
inline constexpr int32_t RING = 15;
void autocorrelations(FieldSeries& xs, int32_t n, float* dev);
} // namespace lag_avx512
