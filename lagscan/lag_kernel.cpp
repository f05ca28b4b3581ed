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
constexpr int R = RING;
static_assert(MAX_POINTS % W == 0, "tiles must fill the point capacity exactly");
static_assert(R >= 1 && R <= K, "the ring holds the newest deviations of the lags in flight");
// The steps in which some lag of a block has yet to take its first term, rounded
// up to whole turns of the ring.
constexpr int F = (K + R - 1) / R * R;

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

// STEPS steps from step t on, for lags j0 .. j0+K-1 (t - j0 a multiple of R).
// Lag j0+k pairs step s with step s-j0-k. The deviation entering the ring at step
// s is dev[s-j0], kept in slot (s - j0) % R for the next R - 1 steps: lag j0+k
// finds its partner there while k < R and reads it from dev beyond. With the
// steps unrolled every slot index is a constant, so ring and accumulators stay in
// registers. FIRST: the block that starts the lags (t = j0), where lag j0+k takes
// its first term at t = j0+k, none before (a zero term would turn an infinite
// deviation into NaN). CHECKED: stops at the last step, and reads no deviation
// from there on: those of the steps beyond are what an earlier, longer tile left.
// dev holds the deviations of the tile in hand, step by step.
template <int STEPS, bool FIRST, bool CHECKED>
inline void ring_block(const vec* dev, int32_t steps, int32_t j0, int32_t t, vec (&ring)[R], vec (&acc)[K])
{
#pragma GCC unroll 32
    for (int u = 0; u < STEPS; ++u) {
        if (CHECKED && t + u >= steps) return;
        const vec dt = dev[t + u];
        ring[u % R] = dev[t + u - j0];
#pragma GCC unroll 32
        for (int k = 0; k < K; ++k) {
            if (FIRST && k > u) continue;
            const vec partner = k < R ? ring[(u - k + R) % R] : dev[t + u - j0 - k];
            acc[k] = dt * partner + acc[k];
        }
    }
}

#ifdef LAG_STEPS_WRITTEN_OUT
static_assert(K == 8 && R == 6, "the written-out loop holds 8 lags and a ring of 6");
#include "lag_steps_avx2.hpp"
#endif

// Sums the lag products of lags j0 .. j0+K-1 into acc, each in increasing t.
inline void lag_block(const vec* dev, int32_t steps, int32_t j0, vec (&acc)[K])
{
    vec ring[R];
    for (int k = 0; k < K; ++k) acc[k] = vec{};
    for (int r = 0; r < R; ++r) ring[r] = vec{};
    ring_block<F, true, true>(dev, steps, j0, j0, ring, acc);
    int32_t t = j0 + F;
#ifdef LAG_STEPS_WRITTEN_OUT
    if (const long turns = (steps - t) / R; turns > 0) {
        ring_turns(&dev[t], j0, turns, ring, acc);
        t += int32_t(turns) * R;
    }
#else
    for (; t + R <= steps; t += R) ring_block<R, false, false>(dev, steps, j0, t, ring, acc);
#endif
    if (t < steps) ring_block<R, false, true>(dev, steps, j0, t, ring, acc);
}

// Replaces the tile at x (one point per lane) by its autocorrelations: lag j goes
// to step j - 1. The steps are read only while the deviations are formed; the
// lags work on those alone, so each lag can overwrite a step as soon as it is done.
void tile_autocorrelations(float* x, int32_t steps, vec* dev)
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
        lag_block(dev, steps, j0, acc);
        for (int k = 0; k < K && j0 + k < steps; ++k) {
            const vec atcv = acc[k] / splat(fsteps);
            const vec a = atcv / var;
            store(x + size_t(j0 + k - 1) * W, missing ? marker : a);
        }
    }
}

} // namespace

void autocorrelations(FieldSeries& xs, int32_t n, float* dev)
{
    const int32_t steps = xs.count;
    if (steps < 2) return; // no lag
    vec* const d = reinterpret_cast<vec*>(dev);
    const int32_t tiles = (n + W - 1) / W;
    for (int32_t b = 0; b < tiles; ++b) tile_autocorrelations(xs.v + size_t(b) * size_t(xs.depth) * W, steps, d);
}

} // namespace LAG_KERNEL_NS
