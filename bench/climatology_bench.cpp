// CPU time of the climatology on one tile as the driver holds it (10000 points
// × 480 monthly steps, step-major floats): anomalies and detrending, the
// annual-cycle F test, and the three-harmonic daily cycle on 480 days, each the
// median of `runs` (default 7). A 720 × 360 grid is 25.92 such tiles.
//   climatology_bench [runs]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

#include "annual_cycle_test.hpp"
#include "cf_time.hpp"
#include "climatology.hpp"

namespace {

double cpu_seconds()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + 1e-9 * double(ts.tv_nsec);
}

template <class F> double median_cpu(int runs, const std::vector<float>& tile, F f)
{
    std::vector<double> t;
    std::vector<float> work;
    for (int r = 0; r < runs; ++r) {
        work = tile;
        const double start = cpu_seconds();
        f(work.data());
        t.push_back(cpu_seconds() - start);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

std::vector<StepDate> dates(const char* units, int steps)
{
    std::vector<double> v(static_cast<size_t>(steps));
    for (int t = 0; t < steps; ++t) v[size_t(t)] = t;
    return cf_time_axis(v.data(), v.size(), units, "standard", "time").dates;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    const int steps = 480, points = 10000;
    std::vector<float> tile(size_t(steps) * points);
    std::mt19937_64 gen(1);
    std::normal_distribution<float> noise(280, 5);
    for (float& x : tile) x = noise(gen);

    const std::vector<StepDate> months = dates("months since 1980-01-01", steps);
    const std::vector<StepDate> days = dates("days since 1980-01-01", steps);
    const ClimatologyPlan monthly = plan_climatology(months, steps, StepKind::monthly, Calendar::standard, true, false);
    const ClimatologyPlan both = plan_climatology(months, steps, StepKind::monthly, Calendar::standard, true, true);
    const ClimatologyPlan daily = plan_climatology(days, steps, StepKind::daily, Calendar::standard, true, true);
    const AnnualCycleTest test = plan_annual_cycle_test(months, StepKind::monthly);
    const double tiles = 720.0 * 360.0 / points;

    std::printf("one tile of %d points x %d steps, median CPU seconds of %d; x %.2f for a 720 x 360 grid\n", points,
                steps, runs, tiles);
    const struct {
        const char* what;
        double seconds;
    } rows[] = {
        {"calendar-month anomalies", median_cpu(runs, tile, [&](float* v) { remove_climatology(monthly, v, points); })},
        {"anomalies + detrend", median_cpu(runs, tile, [&](float* v) { remove_climatology(both, v, points); })},
        {"annual-cycle F test", median_cpu(runs, tile, [&](float* v) { count_annual_cycles(test, v, points); })},
        {"3 harmonics + detrend (daily)", median_cpu(runs, tile, [&](float* v) { remove_climatology(daily, v, points); })},
    };
    for (const auto& r : rows) std::printf("  %-30s %8.4f s per tile  %7.3f s per grid\n", r.what, r.seconds, r.seconds * tiles);
    return 0;
}
