// phase_rates: what the phase-randomisation test claims, measured on null and
// planted data beside the t test with each effective sample size.
//
// 1. False positives: for three processes (AR(1) 0.6; AR(2) 1.6, -0.8; AR(1) 0.3
//    plus 0.35 x AR(1) 0.97), a null field of 10000 points and independent series
//    of the same process at 20, 40, 120 and 480 steps: the share of points with
//    p < 0.05 for the t test with the chain's neff (lagscan, sigcut and nstar run
//    as a user runs them), the lag-1 formula and the smaller of the two, and for
//    the phase test; +- the standard error across series.
//    Then the last process again with each series replaced by one of its own
//    surrogates, which the phase test's null describes exactly.
// 2. Power: AR(1) 0.6 points and series over 240 steps with a region planted at
//    r = 0.4: the share of the region found after the false-discovery test
//    (q = 0.10) with the phase test and with the t test and the smaller neff.
// 3. Field significance: many null fields, new data each time, independent
//    points and points correlated in space: the share with field_p < 0.05; and,
//    as a check of the counting itself, series whose phases are random by
//    construction (a surrogate of an AR(1) series), which are exchangeable with
//    their own surrogates, so that field_p must be exact.
//
// Usage: phase_rates [series] [surrogates] [null fields] [power repetitions]
//   defaults 20 1000 300 10.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ar1_chain.hpp"
#include "phasetest.hpp"
#include "run_error.hpp"
#include "significance.hpp"
#include "test_support.hpp"

namespace {

constexpr double alpha = 0.05;
constexpr double q = 0.10;
constexpr int32_t points = 10000;

enum class Process { ar1, ar2, fast_slow };
const char* process_name(Process p)
{
    switch (p) {
    case Process::ar1: return "AR(1) 0.6";
    case Process::ar2: return "AR(2) 1.6, -0.8";
    case Process::fast_slow: return "AR(1) 0.3 + 0.35 AR(1) 0.97";
    }
    return "";
}

void process_series(NormalStream& s, Process p, int32_t steps, float* out)
{
    switch (p) {
    case Process::ar1: ar1_series(s, 0.6, steps, out); return;
    case Process::ar2: {
        // From rest, with 300 steps to forget it (the roots' modulus is 0.89).
        double x1 = 0, x2 = 0;
        for (int32_t t = -300; t < steps; ++t) {
            const double x = 1.6 * x1 - 0.8 * x2 + next_normal(s);
            x2 = x1;
            x1 = x;
            if (t >= 0) out[t] = float(x);
        }
        return;
    }
    case Process::fast_slow: {
        std::vector<float> slow(static_cast<size_t>(steps));
        ar1_series(s, 0.3, steps, out);
        ar1_series(s, 0.97, steps, slow.data());
        // Both driven by innovations of unit variance, as an AR process is usually
        // simulated: the slow part's variance, 0.35^2 / (1 - 0.97^2) = 2.07, is
        // then twice the fast part's, 1 / (1 - 0.3^2) = 1.10.
        const double fast_scale = 1.0 / std::sqrt(1.0 - 0.3 * 0.3), slow_scale = 0.35 / std::sqrt(1.0 - 0.97 * 0.97);
        for (int32_t t = 0; t < steps; ++t)
            out[t] = float(fast_scale * double(out[t]) + slow_scale * double(slow[size_t(t)]));
        return;
    }
    }
}

FieldValues process_field(NormalStream& s, Process p, int32_t steps, int32_t count)
{
    FieldValues f;
    f.steps = steps;
    f.points = count;
    f.values.resize(size_t(steps) * size_t(count));
    for (int32_t i = 0; i < count; ++i) process_series(s, p, steps, &f.values[size_t(i) * size_t(steps)]);
    return f;
}

// The field as a step-major tile and each point's r with the series.
struct TileView {
    std::vector<float> values;
    std::vector<double> r;
};

TileView tile_of(const FieldValues& f, const float* series)
{
    TileView v;
    v.values.resize(f.values.size());
    v.r.resize(size_t(f.points));
    for (int32_t i = 0; i < f.points; ++i) {
        const float* x = &f.values[size_t(i) * size_t(f.steps)];
        for (int32_t t = 0; t < f.steps; ++t) v.values[size_t(t) * size_t(f.points) + size_t(i)] = x[t];
        v.r[size_t(i)] = pearson_r(series, x, f.steps);
    }
    return v;
}

struct PhaseResult {
    std::vector<double> p;
    double field_p = 0;
};

PhaseResult phase_test(const FieldValues& f, const float* series, int64_t m, uint64_t seed, PhaseWork& work)
{
    std::vector<double> x(series, series + f.steps);
    const Surrogates s = draw_surrogates(x.data(), f.steps, m, seed, "series");
    TileView v = tile_of(f, series);
    PhaseResult out;
    out.p.resize(size_t(f.points));
    FieldCounts counts = empty_field_counts(m);
    const PhaseTile tile{v.values.data(), f.points, f.steps, nullptr, v.r.data()};
    phase_test_tile(s, tile, alpha, work, out.p.data(), nullptr, counts);
    out.field_p = field_p(counts);
    return out;
}

double share_below(const std::vector<double>& p, double level)
{
    size_t hits = 0;
    for (double v : p) hits += v < level ? 1 : 0;
    return double(hits) / double(p.size());
}

struct MeanSe {
    double mean, se;
};
MeanSe mean_se(const std::vector<double>& v)
{
    double mean = 0, square = 0;
    for (double x : v) mean += x;
    mean /= double(v.size());
    for (double x : v) square += (x - mean) * (x - mean);
    return {mean, v.size() > 1 ? std::sqrt(square / double(v.size() - 1) / double(v.size())) : 0.0};
}

[[noreturn]] void stop(const std::string& message)
{
    std::fprintf(stderr, "phase_rates: %s\n", message.c_str());
    std::exit(1);
}

// A series of the same amplitudes with random phases: one surrogate of it.
void randomise_phases(float* series, int32_t steps, uint64_t seed)
{
    const std::vector<double> base(series, series + steps);
    const Surrogates one = draw_surrogates(base.data(), steps, 1, seed, "series");
    std::copy(one.values.begin(), one.values.end(), series);
}

// With random_phase_series, every series is replaced by one of its own
// surrogates before the tests: a series exchangeable with its surrogates by
// construction, which tells the phase test's own error from the series'.
void false_positives(int series_count, int64_t m, const std::vector<Process>& processes, bool random_phase_series)
{
    std::printf("%sFalse positives: share of %d null points x %d series with p < %.2f (+- standard error across "
                "series), phase test with %lld surrogates%s\n\n",
                random_phase_series ? "\n" : "", points, series_count, alpha, static_cast<long long>(m),
                random_phase_series ? "; each series replaced by one of its own surrogates" : "");
    std::printf("| process | steps | t, `chain` | t, `lag1` | t, `min` | `phase` |\n|---|---|---|---|---|---|\n");
    PhaseWork work;
    for (Process process : processes) {
        for (int32_t steps : {20, 40, 120, 480}) {
            TempDir dir;
            NormalStream normal(uint64_t(9000 + 1000 * int(process) + steps));
            const FieldValues field = process_field(normal, process, steps, points);
            FieldRun field_run;
            std::string error;
            if (!run_field(dir.path, field, field_run, error)) stop(error);
            std::vector<double> chain, lag1, min, phase;
            std::vector<float> series(static_cast<size_t>(steps));
            for (int s = 0; s < series_count; ++s) {
                process_series(normal, process, steps, series.data());
                if (random_phase_series) randomise_phases(series.data(), steps, uint64_t(100000 + s));
                SeriesRun run;
                if (!run_series(field_run, "series" + std::to_string(s), series.data(), steps, run, error))
                    stop(error);
                const std::vector<PairP> pairs = pair_p_values(field, field_run, series.data(), run);
                chain.push_back(share_below(pairs, &PairP::chain, alpha));
                lag1.push_back(share_below(pairs, &PairP::lag1, alpha));
                min.push_back(share_below(pairs, &PairP::min, alpha));
                phase.push_back(share_below(phase_test(field, series.data(), m, uint64_t(s + 1), work).p, alpha));
            }
            std::printf("| %s | %d |", process_name(process), steps);
            for (const std::vector<double>* column : {&chain, &lag1, &min, &phase}) {
                const MeanSe r = mean_se(*column);
                std::printf(" %.1f %% ± %.1f |", 100 * r.mean, 100 * r.se);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
}

struct Found {
    std::vector<double> region, outside;
    int floor_runs = 0; // runs whose FDR threshold is the smallest p possible, or none at all
};

// Share of the region's points at or below the FDR threshold, and the share of
// all discoveries that lie outside the region.
void count_found(const std::vector<double>& p, int32_t region, double floor, Found& found)
{
    const double threshold = fdr_threshold(p.data(), int64_t(p.size()), q);
    int64_t inside = 0, outside = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const bool hit = p[i] <= threshold;
        (int32_t(i) < region ? inside : outside) += hit ? 1 : 0;
    }
    found.region.push_back(double(inside) / double(region));
    found.outside.push_back(inside + outside > 0 ? double(outside) / double(inside + outside) : 0.0);
    if (floor > 0 && !(threshold > floor)) ++found.floor_runs;
}

void power(int repetitions, int64_t m)
{
    const int32_t steps = 240;
    std::printf("\nPower: AR(1) 0.6 points and series, %d steps, a region planted at r = 0.4, FDR q = %.2f, %d "
                "fields\n\n",
                steps, q, repetitions);
    std::printf("| region | test | region found | discoveries outside the region | runs with the FDR threshold at "
                "the floor or none |\n|---|---|---|---|---|\n");
    PhaseWork work;
    for (int32_t region : {500, 50}) {
        Found t_min, phase, phase_more;
        const int64_t more = 10 * m;
        for (int rep = 0; rep < repetitions; ++rep) {
            TempDir dir;
            NormalStream normal(uint64_t(50000 + 100 * region + rep));
            FieldValues field = ar1_field(normal, 0.6, steps, points);
            std::vector<float> series(static_cast<size_t>(steps));
            ar1_series(normal, 0.6, steps, series.data());
            plant_region(normal, field, series.data(), 0.4, 0.6, 0, region);
            FieldRun field_run;
            SeriesRun run;
            std::string error;
            if (!run_field(dir.path, field, field_run, error) ||
                !run_series(field_run, "series", series.data(), steps, run, error))
                stop(error);
            const std::vector<PairP> pairs = pair_p_values(field, field_run, series.data(), run);
            std::vector<double> p_min(pairs.size());
            for (size_t i = 0; i < pairs.size(); ++i) p_min[i] = pairs[i].min;
            count_found(p_min, region, 0.0, t_min);
            count_found(phase_test(field, series.data(), m, uint64_t(rep + 1), work).p, region, 1.0 / double(m + 1),
                        phase);
            count_found(phase_test(field, series.data(), more, uint64_t(rep + 1), work).p, region,
                        1.0 / double(more + 1), phase_more);
        }
        const auto row = [&](const char* test, const Found& f, bool floor) {
            const MeanSe in = mean_se(f.region), out = mean_se(f.outside);
            std::printf("| %d points | %s | %.1f %% ± %.1f | %.1f %% ± %.1f |", region, test, 100 * in.mean,
                        100 * in.se, 100 * out.mean, 100 * out.se);
            if (floor)
                std::printf(" %d of %d |\n", f.floor_runs, repetitions);
            else
                std::printf(" – |\n");
        };
        row("t, `min`", t_min, false);
        const std::string a = "`phase`, M = " + std::to_string(m), b = "`phase`, M = " + std::to_string(more);
        row(a.c_str(), phase, true);
        row(b.c_str(), phase_more, true);
        std::fflush(stdout);
    }
}

// A null field on a periodic side x side grid: independent AR(1) 0.6 points, or
// each point the mean of the 5 x 5 independent points around it (times 5, for
// unit variance), so that neighbours correlate at 0.8 and points 5 apart not at all.
FieldValues null_field(NormalStream& s, int32_t side, int32_t steps, bool smooth)
{
    FieldValues base = ar1_field(s, 0.6, steps, side * side);
    if (!smooth) return base;
    FieldValues f = base;
    std::vector<double> sum(static_cast<size_t>(steps));
    for (int32_t row = 0; row < side; ++row)
        for (int32_t col = 0; col < side; ++col) {
            std::fill(sum.begin(), sum.end(), 0.0);
            for (int32_t dr = -2; dr <= 2; ++dr)
                for (int32_t dc = -2; dc <= 2; ++dc) {
                    const int32_t r = (row + dr + side) % side, c = (col + dc + side) % side;
                    const float* x = &base.values[size_t(r * side + c) * size_t(steps)];
                    for (int32_t t = 0; t < steps; ++t) sum[size_t(t)] += x[t];
                }
            float* out = &f.values[size_t(row * side + col) * size_t(steps)];
            for (int32_t t = 0; t < steps; ++t) out[t] = float(sum[size_t(t)] / 5.0);
        }
    return f;
}

void field_significance(int fields, int64_t m)
{
    // An odd number of steps: no Nyquist term, so that a random-phase series is
    // exactly exchangeable with its surrogates.
    const int32_t steps = 121, side = 100;
    std::printf("\nField significance: %d null fields of %d x %d AR(1) 0.6 points, %d steps, new data each time, "
                "%lld surrogates\n\n",
                fields, side, side, steps, static_cast<long long>(m));
    std::printf("| points | series | field_p < 0.05 | field_p < 0.10 | points with p < 0.05, mean |\n"
                "|---|---|---|---|---|\n");
    PhaseWork work;
    const struct {
        bool smooth, random_phase;
    } settings[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& setting : settings) {
        const bool smooth = setting.smooth;
        NormalStream normal(uint64_t(77 + (smooth ? 1 : 0) + (setting.random_phase ? 2 : 0)));
        int below_5 = 0, below_10 = 0;
        double local = 0;
        std::vector<float> series(static_cast<size_t>(steps));
        for (int f = 0; f < fields; ++f) {
            const FieldValues field = null_field(normal, side, steps, smooth);
            ar1_series(normal, 0.6, steps, series.data());
            if (setting.random_phase) randomise_phases(series.data(), steps, uint64_t(100000 + f));
            const PhaseResult r = phase_test(field, series.data(), m, uint64_t(f + 1), work);
            below_5 += r.field_p < 0.05 ? 1 : 0;
            below_10 += r.field_p < 0.10 ? 1 : 0;
            local += share_below(r.p, alpha);
        }
        const auto share = [&](int hits) {
            const double p = double(hits) / fields;
            return MeanSe{p, std::sqrt(p * (1 - p) / fields)};
        };
        const MeanSe a = share(below_5), b = share(below_10);
        std::printf("| %s | %s | %.1f %% ± %.1f | %.1f %% ± %.1f | %.1f %% |\n",
                    smooth ? "correlated in space (5 x 5 means)" : "independent",
                    setting.random_phase ? "random phases by construction" : "AR(1) 0.6", 100 * a.mean, 100 * a.se,
                    100 * b.mean, 100 * b.se, 100 * local / fields);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int series_count = argc > 1 ? std::atoi(argv[1]) : 20;
    const int64_t m = argc > 2 ? std::atoll(argv[2]) : 1000;
    const int fields = argc > 3 ? std::atoi(argv[3]) : 300;
    const int repetitions = argc > 4 ? std::atoi(argv[4]) : 10;
    if (series_count < 2 || m < 1 || m * 10 > MAX_SURROGATES || fields < 1 || repetitions < 2) {
        std::fprintf(stderr, "usage: phase_rates [series >= 2] [surrogates, at most %lld] [null fields] "
                             "[power repetitions >= 2]\n",
                     static_cast<long long>(MAX_SURROGATES / 10));
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    try {
        false_positives(series_count, m, {Process::ar1, Process::ar2, Process::fast_slow}, false);
        false_positives(series_count, m, {Process::fast_slow}, true);
        power(repetitions, m);
        field_significance(fields, m);
    } catch (const RunError& e) {
        stop(e.file + ": " + e.cause);
    }
    std::printf("\n%.0f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return 0;
}
