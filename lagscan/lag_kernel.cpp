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

// One block of K steps for lags j0 .. j0+K-1, from step t on (t - j0 a multiple of
// K). Lag j0+k pairs step t with step t-j0-k, so the K lags in flight reach back
// over K consecutive deviations; these sit in a ring of registers, dev[s] in slot
// (s - j0) % K, and each step loads only its own deviation and the one entering
// the ring. With the steps unrolled K times every slot index is a constant, so
// ring and accumulators stay in registers. FIRST: the block where lag j0+k takes
// its first term at t = j0+k, none before (a zero term would turn an infinite
// deviation into NaN). CHECKED: stops at the last step.
template <bool FIRST, bool CHECKED>
inline void ring_block(int32_t steps, int32_t j0, int32_t t, vec (&ring)[K], vec (&acc)[K])
{
#pragma GCC unroll 32
    for (int u = 0; u < K; ++u) {
        if (CHECKED && t + u >= steps) return;
        const vec dt = dev[t + u];
        ring[u] = dev[t + u - j0];
#pragma GCC unroll 32
        for (int k = 0; k < K; ++k)
            if (!FIRST || k <= u) acc[k] = dt * ring[(u - k + K) % K] + acc[k];
    }
}

// Sums the lag products of lags j0 .. j0+K-1 into acc, each in increasing t.
inline void lag_block(int32_t steps, int32_t j0, vec (&acc)[K])
{
    vec ring[K];
    for (int k = 0; k < K; ++k) acc[k] = ring[k] = vec{};
    ring_block<true, true>(steps, j0, j0, ring, acc);
    int32_t t = j0 + K;
    for (; t + K <= steps; t += K) ring_block<false, false>(steps, j0, t, ring, acc);
    if (t < steps) ring_block<false, true>(steps, j0, t, ring, acc);
}

// Replaces the tile at x (one point per lane) by its autocorrelations: lag j goes
// to step j - 1. The steps are read only while the deviations are formed; the
// lags work on those alone, so each lag can overwrite a step as soon as it is done.
void tile_autocorrelations(float* x, int32_t steps)
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
    // computed like the others and replaced on the way out. Read before lag 2
    // overwrites that step.
    const mask missing = load(x + W) == splat(MISSING_VALUE);
    const vec marker = splat(MISSING_VALUE);

    vec acc[K];
    for (int32_t j0 = 1; j0 < steps; j0 += K) {
        lag_block(steps, j0, acc);
        for (int k = 0; k < K && j0 + k < steps; ++k) {
            const vec atcv = acc[k] / splat(fsteps);
            const vec a = atcv / var;
            store(x + size_t(j0 + k - 1) * W, missing ? marker : a);
        }
    }
}

} // namespace

void autocorrelations(FieldSeries& xs, int32_t n)
{
    const int32_t steps = xs.count;
    if (steps < 2) return; // no lag
    const int32_t tiles = (n + W - 1) / W;
    for (int32_t b = 0; b < tiles; ++b) tile_autocorrelations(xs.v + size_t(b) * size_t(xs.depth) * W, steps);
}

} // namespace LAG_KERNEL_NS
