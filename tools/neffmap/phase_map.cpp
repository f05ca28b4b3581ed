#include "phase_map.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <time.h>

#include "interrupts.hpp"

namespace {

// Each slice of a tile is copied out of the kernel's layout, step after step:
// at most this much at once (2097 points of 2000 steps, the whole tile at 400).
constexpr int64_t SLICE_BYTES = int64_t(16) << 20;

double thread_cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

// Points first … first + n - 1 of the kernel's tiles into out, step-major
// (out[t n + j]): runs of adjacent lanes at a time.
void copy_slice(const FieldSeries& xs, int32_t first, int32_t n, float* out)
{
    const int32_t lanes = xs.lanes;
    for (int32_t j = 0; j < n;) {
        const int32_t p = first + j;
        const int32_t run = std::min(lanes - p % lanes, n - j);
        const float* from = xs.v + cell(xs, 0, p);
        for (int32_t t = 0; t < xs.count; ++t)
            std::copy_n(from + size_t(t) * size_t(lanes), run, out + size_t(t) * size_t(n) + size_t(j));
        j += run;
    }
}

} // namespace

PhaseRun begin_phase_test(const std::vector<float>& series, const std::string& series_path, int64_t surrogates,
                          uint64_t seed)
{
    PhaseRun run;
    run.blas = use_single_thread_blas();
    const std::vector<double> x(series.begin(), series.end());
    run.surrogates = draw_surrogates(x.data(), int32_t(x.size()), surrogates, seed, series_path);
    run.field = empty_field_counts(surrogates);
    return run;
}

void phase_test_points(const PhaseRun& run, PhaseWorker& w, const TileMatrix& m, int32_t points, double alpha,
                       TileColumns& c)
{
    const double start = thread_cpu_seconds();
    const Surrogates& s = run.surrogates;
    if (w.counts.surrogate.size() != size_t(s.count)) w.counts = empty_field_counts(s.count);
    const int32_t steps = m.xs.count;
    // A slice is no more than the library takes in one block, so that an
    // interrupt is seen within a block's time however many surrogates there are.
    // The block keeps the library's size: with 100000 surrogates of 2000 steps
    // a quarter of it (41 points) read their 800 MB four times as often and
    // took twice the CPU time.
    const int64_t by_copy = SLICE_BYTES / (int64_t(steps) * int64_t(sizeof(float)));
    const int64_t by_block = w.work.block_bytes / (s.count * int64_t(sizeof(float)));
    const auto slice = int32_t(std::clamp<int64_t>(std::min(by_copy, by_block), 1, std::max(points, 1)));
    w.values.resize(size_t(slice) * size_t(steps));
    for (int32_t first = 0; first < points; first += slice) {
        check_interrupt();
        const int32_t n = std::min(slice, points - first);
        copy_slice(m.xs, first, n, w.values.data());
        // r is NaN unless the point is present: the others are not tested.
        const PhaseTile tile{w.values.data(), n, steps, nullptr, c.r.data() + first};
        phase_test_tile(s, tile, alpha, w.work, c.p.data() + first, nullptr, w.counts);
    }
    w.seconds += thread_cpu_seconds() - start;
}

void add_phase_worker(PhaseRun& run, const PhaseWorker& w)
{
    add_field_counts(run.field, w.counts);
    run.test_seconds += w.seconds;
    run.product_seconds += w.work.product_seconds;
}

double smallest_p(const PhaseRun& run) { return 1.0 / double(run.surrogates.count + 1); }

void finish_phase_test(PhaseRun& run, const std::vector<double>& p)
{
    run.field_p = field_p(run.field);
    const double floor = smallest_p(run);
    run.at_floor = std::count(p.begin(), p.end(), floor);
}

int64_t smallest_passing_set(int64_t surrogates, int64_t tested, double q)
{
    // The first i with 1/(M + 1) <= i q / m, compared as the FDR threshold
    // compares (fdr_threshold_reordering), from a guess one off at most.
    const double floor = 1.0 / double(surrogates + 1), m = double(tested);
    auto i = std::max<int64_t>(1, int64_t(std::ceil(m / (q * double(surrogates + 1)))));
    while (i > 1 && floor <= double(i - 1) * q / m) --i;
    while (!(floor <= double(i) * q / m) && i <= tested) ++i;
    return i;
}

std::string floor_warning(const PhaseRun& run, int64_t tested, double p_fdr, double q)
{
    const double floor = smallest_p(run);
    const int64_t k = run.at_floor, m = run.surrogates.count;
    const bool at_threshold = p_fdr == floor, none = std::isnan(p_fdr);
    if (tested == 0 || k == 0 || !(at_threshold || none)) return "";
    // The points at the floor told apart down to a tenth of the line they must
    // meet: M + 1 >= 10 tested / (q k). With as many surrogates already, nothing
    // lies between the floor and ten times it, and more would change nothing.
    const double needed = std::ceil(10.0 * double(tested) / (q * double(k)) - 1e-9) - 1.0;
    if (needed <= double(m)) return "";
    // Where nothing passes, chance alone puts about m/(M + 1) points at the floor
    // (of a null map too, where more surrogates would not help): only more than
    // that, by three of its standard deviations, says the floor hides something.
    const double chance = double(tested) / double(m + 1);
    if (none && double(k) <= chance + 3.0 * std::sqrt(chance)) return "";
    char head[256];
    if (at_threshold)
        std::snprintf(head, sizeof head,
                      "the FDR threshold sits at the smallest p that %lld surrogates give, 1/(M + 1) = %.3g, "
                      "where all %lld points it passes lie",
                      (long long)m, floor, (long long)k);
    else
        std::snprintf(head, sizeof head,
                      "no point passes the FDR test, but %lld points have the smallest p that %lld surrogates "
                      "give, 1/(M + 1) = %.3g, where chance puts about %.0f",
                      (long long)k, (long long)m, floor, chance);
    char advice[320];
    if (needed <= double(MAX_SURROGATES))
        std::snprintf(advice, sizeof advice,
                      "to tell those %lld points apart use --surrogates %.0f or more (10 m/(q k) - 1)", (long long)k,
                      needed);
    else
        std::snprintf(advice, sizeof advice,
                      "to tell those %lld points apart would take %.0f surrogates (10 m/(q k) - 1), more than the "
                      "%lld neffmap draws: test fewer points",
                      (long long)k, needed, (long long)MAX_SURROGATES);
    char text[1024];
    std::snprintf(text, sizeof text,
                  "%s: too few surrogates for m = %lld points. No set of fewer than m/(q(M + 1)) = %lld points "
                  "can pass; %s",
                  head, (long long)tested, (long long)smallest_passing_set(m, tested, q), advice);
    return text;
}
