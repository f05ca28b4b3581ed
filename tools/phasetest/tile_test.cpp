#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <time.h>

#include "phasetest.hpp"
#include "run_error.hpp"

namespace {

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// The pos-th smallest (from 0) of a[0 .. n), a reordered: quickselect whose
// partitions move every value whatever it compares to, so that the branches do
// not depend on the data (std::nth_element took three times as long on the
// hundred or so values seen here). A pivot that keeps failing hands the rest to
// std::nth_element, so no order of the values makes it quadratic.
float select_rank(float* a, int64_t n, int64_t pos)
{
    int64_t lo = 0, hi = n;
    for (int rounds = 0; hi - lo > 16; ++rounds) {
        if (rounds == 64) {
            std::nth_element(a + lo, a + pos, a + hi);
            return a[pos];
        }
        const float x0 = a[lo], x1 = a[lo + (hi - lo) / 2], x2 = a[hi - 1];
        const float pivot = std::max(std::min(x0, x1), std::min(std::max(x0, x1), x2));
        int64_t below = lo; // [lo, below) < pivot
        for (int64_t j = lo; j < hi; ++j) {
            const float x = a[j];
            a[j] = a[below];
            a[below] = x;
            below += x < pivot ? 1 : 0;
        }
        if (pos < below) {
            hi = below;
            continue;
        }
        int64_t equal = below; // [below, equal) == pivot
        for (int64_t j = below; j < hi; ++j) {
            const float x = a[j];
            a[j] = a[equal];
            a[equal] = x;
            equal += x <= pivot ? 1 : 0;
        }
        if (pos < equal) return pivot;
        lo = equal;
    }
    std::sort(a + lo, a + hi);
    return a[pos];
}

// The z with P(|Z| >= z) = share for a standard normal Z (0 for a share of 1 or
// more), by bisection: once per tile.
double normal_tail_point(double share)
{
    if (share >= 1.0) return 0.0;
    double lo = 0.0, hi = 40.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (lo + hi);
        (std::erfc(mid / std::sqrt(2.0)) > share ? lo : hi) = mid;
    }
    return lo;
}

// Turns a point's M correlations into their absolute values and returns the
// k-th largest of them. The values at or above it are found among those at or
// above a guess: z sigma, with sigma the root mean square of the correlations
// and z set so that a normal sample would leave about 1.5 k of them there. The
// guess only decides how many values the selection sees, never its result: with
// fewer than k at or above it, it is lowered until there are k (at 0, all are).
float absolute_kth_largest(float* r, int64_t m, int64_t k, float z, PhaseWork& w)
{
    // Sixteen partial sums, so that the pass vectorises; the sum only guides.
    float partial[16] = {};
    const int64_t whole = m / 16 * 16;
    for (int64_t i = 0; i < whole; i += 16)
        for (int l = 0; l < 16; ++l) {
            const float x = r[i + l];
            partial[l] += x * x;
            r[i + l] = std::fabs(x);
        }
    for (int64_t i = whole; i < m; ++i) {
        partial[0] += r[i] * r[i];
        r[i] = std::fabs(r[i]);
    }
    float square = 0.0f;
    for (float s : partial) square += s;
    float bound = z * std::sqrt(square / float(m));
    // Four runs of candidates, each from every fourth value into its own quarter,
    // so that four counts advance at once; then joined. The first run also takes
    // the last m mod 4 values, and every run writes a value at its count before
    // the count decides whether it stays.
    const int64_t quarter = m / 4 + 4;
    w.candidates.resize(size_t(4 * quarter));
    float* c = w.candidates.data();
    for (;;) {
        int64_t n[4] = {0, 0, 0, 0};
        int64_t i = 0;
        for (; i + 4 <= m; i += 4)
            for (int l = 0; l < 4; ++l) {
                c[l * quarter + n[l]] = r[i + l];
                n[l] += r[i + l] >= bound ? 1 : 0;
            }
        for (; i < m; ++i) {
            c[n[0]] = r[i];
            n[0] += r[i] >= bound ? 1 : 0;
        }
        int64_t total = n[0];
        for (int l = 1; l < 4; ++l) {
            std::copy(c + l * quarter, c + l * quarter + n[l], c + total);
            total += n[l];
        }
        if (total >= k) return select_rank(c, total, total - k);
        bound = bound > 1e-6f ? 0.75f * bound : 0.0f;
    }
}

// The smallest float at or above |r|: comparing a float with it is comparing with
// |r| itself.
float float_at_or_above(double r)
{
    const double a = std::fabs(r);
    float f = float(a);
    if (double(f) < a) f = std::nextafter(f, std::numeric_limits<float>::infinity());
    return f;
}

// The block's points into work.points (steps × n), then standardised there:
// mean and 1 / norm in double over the steps in order, each loop across the
// points so that it vectorises, in slices of points narrow enough to stay in
// cache through the three passes. A point whose norm is 0 or not finite gets
// scale 0 (its values turn 0 or NaN, and only its own correlations see them) and
// the caller drops it.
void standardise(const PhaseTile& tile, const int32_t* index, int32_t n, PhaseWork& w)
{
    const size_t width = size_t(n), points = size_t(tile.points);
    w.points.resize(size_t(tile.steps) * width);
    float* x = w.points.data();
    const bool run = index[n - 1] - index[0] == n - 1; // no point skipped in between
    for (int32_t t = 0; t < tile.steps; ++t) {
        const float* row = tile.values + size_t(t) * points;
        float* out = x + size_t(t) * width;
        if (run)
            std::copy(row + index[0], row + index[0] + n, out);
        else
            for (size_t j = 0; j < width; ++j) out[j] = row[index[j]];
    }
    w.mean.assign(width, 0.0);
    w.scale.assign(width, 0.0);
    constexpr size_t slice = 128;
    for (size_t first = 0; first < width; first += slice) {
        const size_t end = std::min(width, first + slice);
        double* mean = w.mean.data();
        double* scale = w.scale.data();
        for (int32_t t = 0; t < tile.steps; ++t) {
            const float* row = x + size_t(t) * width;
            for (size_t j = first; j < end; ++j) mean[j] += double(row[j]);
        }
        for (size_t j = first; j < end; ++j) mean[j] /= double(tile.steps);
        for (int32_t t = 0; t < tile.steps; ++t) {
            const float* row = x + size_t(t) * width;
            for (size_t j = first; j < end; ++j) {
                const double d = double(row[j]) - mean[j];
                scale[j] += d * d;
            }
        }
        for (size_t j = first; j < end; ++j)
            scale[j] = scale[j] > 0.0 && std::isfinite(scale[j]) ? 1.0 / std::sqrt(scale[j]) : 0.0;
        for (int32_t t = 0; t < tile.steps; ++t) {
            float* row = x + size_t(t) * width;
            for (size_t j = first; j < end; ++j) row[j] = float((double(row[j]) - mean[j]) * scale[j]);
        }
    }
}

} // namespace

int64_t critical_rank(int64_t surrogates, double alpha)
{
    if (!(alpha > 0.0 && alpha < 1.0)) fail("--alpha", "must lie between 0 and 1, not " + std::to_string(alpha));
    const int64_t beyond = int64_t(std::floor(alpha * double(surrogates) + 1e-9));
    return std::max<int64_t>(1, surrogates - beyond);
}

FieldCounts empty_field_counts(int64_t surrogates)
{
    FieldCounts c;
    c.surrogate.assign(size_t(surrogates), 0);
    return c;
}

void add_field_counts(FieldCounts& total, const FieldCounts& part)
{
    total.tested += part.tested;
    total.observed += part.observed;
    for (size_t k = 0; k < total.surrogate.size() && k < part.surrogate.size(); ++k)
        total.surrogate[k] += part.surrogate[k];
}

double field_p(const FieldCounts& total)
{
    if (total.tested == 0) return std::nan("");
    int64_t reach = 0;
    for (int64_t c : total.surrogate) reach += c >= total.observed ? 1 : 0;
    return double(1 + reach) / double(total.surrogate.size() + 1);
}

void phase_test_tile(const Surrogates& s, const PhaseTile& tile, double alpha, PhaseWork& w, double* p,
                     float* critical, FieldCounts& counts)
{
    if (tile.steps != s.steps)
        fail("tile", "holds " + std::to_string(tile.steps) + " steps, the surrogates " + std::to_string(s.steps));
    const Blas& blas = single_thread_blas();
    const int64_t m = s.count;
    const int64_t rank = critical_rank(m, alpha);
    const int64_t above = m - rank + 1; // values at or above the critical one, ties aside
    if (counts.surrogate.size() != size_t(m)) fail("tile", "field counts are not sized for the surrogates");
    const float z = float(normal_tail_point(1.5 * double(above) / double(m)));
    const double nan = std::nan("");
    for (int32_t i = 0; i < tile.points; ++i) {
        p[i] = nan;
        if (critical) critical[i] = std::nanf("");
    }
    const int32_t block = int32_t(std::clamp<int64_t>(w.block_bytes / (m * int64_t(sizeof(float))), 1, tile.points));
    w.index.resize(size_t(block));
    // Per tile in 32 bits (a tile has at most 2^31 points), which vectorises twice
    // as wide, then added to the 64-bit totals.
    w.tile_counts.assign(size_t(m), 0);
    int32_t* tile_counts = w.tile_counts.data();

    int32_t next = 0;
    while (next < tile.points) {
        // The next block of tested points.
        int32_t n = 0;
        while (n < block && next < tile.points) {
            const int32_t i = next++;
            if ((tile.skip && tile.skip[i]) || std::isnan(tile.r[i])) continue;
            w.index[size_t(n++)] = i;
        }
        if (n == 0) break;
        standardise(tile, w.index.data(), n, w);
        w.correlations.resize(size_t(n) * size_t(m));
        // correlations (n × M) = points' (n × N) × surrogates' (N × M).
        const double before = thread_cpu_seconds();
        blas.sgemm(CblasRowMajor, CblasTrans, CblasTrans, n, int(m), s.steps, 1.0f, w.points.data(), n,
                   s.values.data(), s.steps, 0.0f, w.correlations.data(), int(m));
        w.product_seconds += thread_cpu_seconds() - before;
        for (int32_t j = 0; j < n; ++j) {
            if (w.scale[size_t(j)] == 0.0) continue;
            const int32_t i = w.index[size_t(j)];
            float* r = &w.correlations[size_t(j) * size_t(m)];
            const float c = absolute_kth_largest(r, m, above, z, w);
            const float observed = float_at_or_above(tile.r[i]);
            int32_t reach = 0;
            for (int64_t k = 0; k < m; ++k) reach += r[k] >= observed ? 1 : 0;
            for (int64_t k = 0; k < m; ++k) tile_counts[k] += r[k] >= c ? 1 : 0;
            p[i] = double(1 + reach) / double(m + 1);
            if (critical) critical[i] = c;
            counts.tested += 1;
            counts.observed += std::fabs(tile.r[i]) >= double(c) ? 1 : 0;
        }
    }
    int64_t* total = counts.surrogate.data();
    for (int64_t k = 0; k < m; ++k) total[k] += tile_counts[k];
}
