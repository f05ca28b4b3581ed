#include "autocorrelation.hpp"

#include <cstddef>
#include <new>

#include "lag_kernel.hpp"
#include "run_error.hpp"

MeanVariance medvar(int32_t c, const float* x)
{
    float sum = 0.0f;
    for (int32_t k = 0; k < c; ++k) sum = x[k] + sum;
    const float mean = sum / float(c);
    float q = 0.0f;
    for (int32_t k = 0; k < c; ++k) {
        const float d = x[k] - mean;
        q = d * d + q;
    }
    return {mean, q / float(c - 1)};
}

CpuFeatures this_cpu()
{
    // The compiler's run-time check reads CPUID and also asks the operating system
    // (XGETBV) whether it saves the vector registers of each width.
    __builtin_cpu_init();
    CpuFeatures cpu;
    cpu.avx2 = __builtin_cpu_supports("avx2");
    cpu.avx512f = __builtin_cpu_supports("avx512f");
    return cpu;
}

LagPath choose_lag_path(CpuFeatures cpu)
{
    if (cpu.avx512f) return LagPath::avx512;
    if (cpu.avx2) return LagPath::avx2;
    return LagPath::portable;
}

bool runs_on(LagPath path, CpuFeatures cpu)
{
    switch (path) {
    case LagPath::avx512: return cpu.avx512f;
    case LagPath::avx2: return cpu.avx2;
    case LagPath::portable: return true;
    }
    return false;
}

int32_t lag_path_lanes(LagPath path)
{
    switch (path) {
    case LagPath::avx512: return lag_avx512::LANES;
    case LagPath::avx2: return lag_avx2::LANES;
    case LagPath::portable: return lag_portable::LANES;
    }
    return 1;
}

const char* lag_path_name(LagPath path)
{
    switch (path) {
    case LagPath::avx512: return "avx512";
    case LagPath::avx2: return "avx2";
    case LagPath::portable: return "portable";
    }
    return "?";
}

namespace {

// Room and alignment for a step of the widest path's tiles.
constexpr size_t SCRATCH_LANES = size_t(lag_avx512::LANES);
constexpr std::align_val_t SCRATCH_ALIGNMENT{SCRATCH_LANES * sizeof(float)};
static_assert(lag_avx2::LANES <= lag_avx512::LANES && lag_portable::LANES <= lag_avx512::LANES);

} // namespace

LagScratch::LagScratch()
    : dev(static_cast<float*>(::operator new[](size_t(MAX_STEPS) * SCRATCH_LANES * sizeof(float), SCRATCH_ALIGNMENT)))
{
}

void LagScratch::Release::operator()(float* p) const { ::operator delete[](p, SCRATCH_ALIGNMENT); }

void compute_autocorrelations(LagPath path, FieldSeries& xs, int32_t n, LagScratch& scratch)
{
    // A layout that does not match would read and write outside the tiles.
    if (xs.lanes != lag_path_lanes(path)) fail(lag_path_name(path), "series tiled for another kernel");
    // More steps than the tiles (or the scratch) hold would reach past them.
    if (xs.count > xs.depth || xs.depth > MAX_STEPS) fail(lag_path_name(path), "series longer than its tiles");
    switch (path) {
    case LagPath::avx512: return lag_avx512::autocorrelations(xs, n, scratch.dev.get());
    case LagPath::avx2: return lag_avx2::autocorrelations(xs, n, scratch.dev.get());
    case LagPath::portable: return lag_portable::autocorrelations(xs, n, scratch.dev.get());
    }
}

void compute_autocorrelations_plain(const FieldSeries& xs, int32_t n, float* aut)
{
    const int32_t steps = xs.count;
    const float fsteps = float(steps);
    for (int32_t p = 0; p < n; ++p) {
        const float* x = column(xs, p);
        if (x[1] == MISSING_VALUE) {
            for (int32_t j = 1; j <= MAX_STEPS; ++j) aut[size_t(j - 1) * MAX_POINTS + p] = MISSING_VALUE;
            continue;
        }
        const MeanVariance mv = medvar(steps, x);
        const float m = mv.mean;
        for (int32_t j = 1; j < steps; ++j) {
            float c = 0.0f;
            for (int32_t t = j; t < steps; ++t) c = (x[t] - m) * (x[t - j] - m) + c;
            const float atcv = c / fsteps;
            aut[size_t(j - 1) * MAX_POINTS + p] = atcv / mv.variance;
        }
    }
}
