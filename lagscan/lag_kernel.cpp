// Autocorrelations of a tiled field, one vector lane per point. This file is built
// once per instruction set (see lag_kernel.hpp); the compiler lowers the generic
// vectors to that set. Everything here stays inside LAG_KERNEL_NS or has internal
// linkage: an inline function emitted by this file for AVX-512 could otherwise be
// picked by the linker for the whole program and run on a CPU without it.
//
// Every lane computes exactly the plain definition: each multiply and each add is
// rounded on its own (the build forbids contraction into FMA), every sum starts at
// +0 and takes its terms in increasing t. Only the points run side by side.
#include "lag_kernel.hpp"

#include <cstring>

#ifndef LAG_KERNEL_NS
#error "LAG_KERNEL_NS names the namespace this build of the kernel goes into"
#endif

namespace LAG_KERNEL_NS {
namespace {

constexpr int W = LANES;
constexpr int K = LAGS;
static_assert(MAX_POINTS % W == 0, "tiles must fill the point capacity exactly");

typedef float vec __attribute__((vector_size(W * sizeof(float))));
typedef int32_t mask __attribute__((vector_size(W * sizeof(float))));

vec splat(float s)
{
    vec v;
    for (int i = 0; i < W; ++i) v[i] = s;
    return v;
}

vec load(const float* p)
{
    vec v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void store(float* p, vec v) { std::memcpy(p, &v, sizeof v); }

// Deviations from the mean of the tile in hand, step by step.
vec dev[MAX_STEPS];

// Sums the lag products of lags j0 .. j0+K-1 into acc. Lag j0+k takes its first
// term at t = j0+k, so below t = j0+K-1 only the lags already started take one; no
// term is ever made up (a zero term would turn an infinite deviation into NaN).
inline void lag_block(int32_t steps, int32_t j0, vec (&acc)[K])
{
    for (int k = 0; k < K; ++k) acc[k] = vec{};
    const int32_t all_started = j0 + K - 1;
    for (int32_t t = j0; t < all_started && t < steps; ++t) {
        const vec dt = dev[t];
#pragma GCC unroll 32
        for (int k = 0; k < K; ++k)
            if (k <= t - j0) acc[k] = dt * dev[t - j0 - k] + acc[k];
    }
    // Two steps at a time: the deviation lag k of step t+1 pairs with is the one
    // lag k-1 of step t paired with, so each is loaded once for both.
    int32_t t = all_started;
    for (; t + 1 < steps; t += 2) {
        const vec d0 = dev[t];
        const vec d1 = dev[t + 1];
        const vec* back = dev + (t - j0); // back[-k] = dev[t - j0 - k]
        vec later = back[1];
#pragma GCC unroll 32
        for (int k = 0; k < K; ++k) {
            const vec earlier = back[-k];
            acc[k] = d0 * earlier + acc[k];
            acc[k] = d1 * later + acc[k];
            later = earlier;
        }
    }
    if (t < steps) {
        const vec dt = dev[t];
#pragma GCC unroll 32
        for (int k = 0; k < K; ++k) acc[k] = dt * dev[t - j0 - k] + acc[k];
    }
}

void tile_autocorrelations(const float* x, int32_t steps, float* aut)
{
    const float fsteps = float(steps);
    vec sum = vec{};
    for (int32_t t = 0; t < steps; ++t) sum = load(x + t * W) + sum;
    const vec mean = sum / splat(fsteps);
    vec q = vec{};
    for (int32_t t = 0; t < steps; ++t) {
        const vec d = load(x + t * W) - mean;
        dev[t] = d;
        q = d * d + q;
    }
    const vec var = q / splat(float(steps - 1));
    // A point is missing when its second step holds the marker; its lanes are
    // computed like the others and replaced on the way out.
    const mask missing = load(x + W) == splat(MISSING_VALUE);
    const vec marker = splat(MISSING_VALUE);

    vec acc[K];
    for (int32_t j0 = 1; j0 < steps; j0 += K) {
        lag_block(steps, j0, acc);
        for (int k = 0; k < K && j0 + k < steps; ++k) {
            const vec atcv = acc[k] / splat(fsteps);
            const vec a = atcv / var;
            store(aut + size_t(j0 + k - 1) * MAX_POINTS, missing ? marker : a);
        }
    }
}

} // namespace

void autocorrelations(const FieldSeries& xs, int32_t n, float* aut)
{
    const int32_t steps = xs.count;
    if (steps < 2) return; // no lag
    const int32_t tiles = (n + W - 1) / W;
    for (int32_t b = 0; b < tiles; ++b)
        tile_autocorrelations(xs.v + size_t(b) * MAX_STEPS * W, steps, aut + size_t(b) * W);
}

} // namespace LAG_KERNEL_NS
