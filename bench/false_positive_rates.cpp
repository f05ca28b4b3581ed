// false_positive_rates: the share of null points called significant at alpha = 0.05
// with each choice of the effective sample size, measured through the built chain.
//
// For each length, a field of 10000 AR(1) points (lag-1 coefficient 0.6) and a
// number of independent AR(1) series (also 0.6) go through lagscan, sigcut and
// nstar as a user runs them; every series is tested against every point. The
// "+-" is the standard error of the rate across series, whose sample
// autocorrelations move a whole map's rate at short lengths.
//
// Usage: false_positive_rates [series per length]   (default 20)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "ar1_chain.hpp"
#include "significance.hpp"
#include "test_support.hpp"

namespace {

constexpr double coefficient = 0.6;
constexpr double alpha = 0.05;
constexpr int32_t points = 10000;

struct Column {
    const char* title;
    double PairP::*p;
};
const Column columns[] = {
    {"with N", &PairP::with_n}, {"chain", &PairP::chain}, {"lag1", &PairP::lag1}, {"min", &PairP::min}};

} // namespace

int main(int argc, char** argv)
{
    const int series_count = argc > 1 ? std::atoi(argv[1]) : 20;
    if (series_count < 2) {
        std::fprintf(stderr, "usage: false_positive_rates [series per length, at least 2]\n");
        return 2;
    }
    std::printf("Share of %d null points x %d series called significant at alpha = %.2f (AR(1), 0.6 and 0.6)\n\n",
                points, series_count, alpha);
    std::printf("| steps |");
    for (const Column& c : columns) std::printf(" %-15s |", c.title);
    std::printf(" mean neff (chain, lag1) |\n|---|---|---|---|---|---|\n");

    for (int32_t steps : {20, 30, 40, 60, 240}) {
        TempDir dir;
        NormalStream normal(uint64_t(7000 + steps));
        const FieldValues field = ar1_field(normal, coefficient, steps, points);
        FieldRun field_run;
        std::string error;
        if (!run_field(dir.path, field, field_run, error)) {
            std::fprintf(stderr, "false_positive_rates: %s\n", error.c_str());
            return 1;
        }
        std::vector<std::vector<double>> rates(std::size(columns));
        double neff_chain = 0, neff_lag1 = 0;
        std::vector<float> series(static_cast<size_t>(steps));
        for (int s = 0; s < series_count; ++s) {
            ar1_series(normal, coefficient, steps, series.data());
            SeriesRun run;
            if (!run_series(field_run, "series" + std::to_string(s), series.data(), steps, run, error)) {
                std::fprintf(stderr, "false_positive_rates: %s\n", error.c_str());
                return 1;
            }
            const std::vector<PairP> pairs = pair_p_values(field, field_run, series.data(), run);
            for (size_t c = 0; c < std::size(columns); ++c)
                rates[c].push_back(share_below(pairs, columns[c].p, alpha));
            for (int32_t p = 0; p < points; ++p) {
                neff_chain += run.neff[size_t(p)];
                neff_lag1 += lag1_neff(run.a1, field_run.b1[size_t(p)], steps);
            }
        }
        std::printf("| %5d |", steps);
        for (const std::vector<double>& r : rates) {
            double mean = 0, square = 0;
            for (double v : r) mean += v;
            mean /= double(r.size());
            for (double v : r) square += (v - mean) * (v - mean);
            const double se = std::sqrt(square / double(r.size() - 1) / double(r.size()));
            std::printf(" %5.1f %% +- %3.1f |", 100 * mean, 100 * se);
        }
        const double pairs = double(series_count) * points;
        std::printf(" %6.1f, %6.1f |\n", neff_chain / pairs, neff_lag1 / pairs);
        std::fflush(stdout);
    }
    return 0;
}
