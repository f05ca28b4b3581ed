// Lagged autocorrelation of every point of a field series.
#pragma once

#include <cstdint>
#include <memory>

#include "series_file.hpp"

struct MeanVariance {
    float mean;
    float variance;
};

// Mean and variance (divided by c - 1) of the first c values of one point's column,
// summed in increasing order in single precision.
MeanVariance medvar(int32_t c, const float* x);

// The kernels that compute the autocorrelations. Every path gives the same bits
// as the plain one (NaN payloads aside); they differ in the vectors they use.
enum class LagPath { portable, avx2, avx512 };

struct CpuFeatures {
    bool avx2 = false;
    bool avx512f = false;
};

// What this CPU (and the operating system, which must save the wider registers)
// offers.
CpuFeatures this_cpu();

// The fastest path the features allow.
LagPath choose_lag_path(CpuFeatures cpu);

bool runs_on(LagPath path, CpuFeatures cpu);

// Points per tile the path works on: the FieldSeries it is given must be read
// with this many lanes.
int32_t lag_path_lanes(LagPath path);

const char* lag_path_name(LagPath path);

// The kernels' working storage: the deviations of the tile in hand, room for
// MAX_STEPS steps of the widest path (128 KB). A thread makes one and hands it to
// every call it makes, of any path; calls running at once each need their own.
struct LagScratch {
    struct Release {
        void operator()(float* p) const;
    };
    std::unique_ptr<float[], Release> dev;
    LagScratch(); // throws std::bad_alloc
};

// Autocorrelations of points 0..n-1 of xs at lags 1..N-1 (N = xs.count), written
// over the series itself: afterwards step j - 1 of each point holds its lag j, so
// one matrix serves as input and result (gather_step collects lag j of all points
// as one record). A point whose second step holds MISSING_VALUE is missing at
// every lag. xs must be tiled with lag_path_lanes(path) lanes (RunError
// otherwise), and the path must run on this CPU. Steps from N - 1 on are left as
// they were; the points after n up to the end of their tile are written with
// values that mean nothing. Safe to run on several threads at once, each on its
// own xs and scratch.
void compute_autocorrelations(LagPath path, FieldSeries& xs, int32_t n, LagScratch& scratch);

// The plain definition, one point at a time over a point-major xs (lanes = 1),
// into a separate aut, lag-major: aut[(j - 1) * MAX_POINTS + p] is lag j of point
// p. Kept to check the fast paths against.
void compute_autocorrelations_plain(const FieldSeries& xs, int32_t n, float* aut);
