// Science with fixed seeds: AR(1) points against AR(1) series (both with lag-1
// autocorrelation 0.6, independent) through lagscan, sigcut and nstar as a user
// runs them, then the significance test on what the programs wrote.
//
// Each experiment pairs several series with one field, so that the rates average
// over series realisations as well as points: at short lengths one series' sample
// autocorrelation moves the rate of a whole map.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "ar1_chain.hpp"
#include "significance.hpp"
#include "test_support.hpp"

namespace {

constexpr double coefficient = 0.6;
constexpr double alpha = 0.05;
constexpr double q = 0.10;

struct Experiment {
    TempDir dir;
    FieldValues field;
    FieldRun field_run;
    std::vector<std::vector<float>> series;
    std::vector<std::vector<PairP>> maps; // maps[s][p]: series s against point p
};

// `planted` points at the start of the field follow series 0 at r = 0.5.
std::unique_ptr<Experiment> run_experiment(int32_t steps, int32_t series_count, int32_t points, int32_t planted,
                                           uint64_t seed)
{
    auto e = std::make_unique<Experiment>();
    NormalStream normal(seed);
    e->field = ar1_field(normal, coefficient, steps, points);
    for (int32_t s = 0; s < series_count; ++s) {
        e->series.emplace_back(size_t(steps));
        ar1_series(normal, coefficient, steps, e->series.back().data());
    }
    if (planted > 0) plant_region(normal, e->field, e->series[0].data(), 0.5, coefficient, 0, planted);

    std::string error;
    if (!run_field(e->dir.path, e->field, e->field_run, error)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    for (int32_t s = 0; s < series_count; ++s) {
        SeriesRun run;
        if (!run_series(e->field_run, "series" + std::to_string(s), e->series[size_t(s)].data(), steps, run, error)) {
            ADD_FAILURE() << error;
            return nullptr;
        }
        e->maps.push_back(pair_p_values(e->field, e->field_run, e->series[size_t(s)].data(), run));
    }
    return e;
}

// Every (series, point) pair of the experiment.
std::vector<PairP> all_pairs(const Experiment& e)
{
    std::vector<PairP> all;
    for (const std::vector<PairP>& map : e.maps) all.insert(all.end(), map.begin(), map.end());
    return all;
}

void report(int32_t steps, const std::vector<PairP>& pairs)
{
    std::printf("null, %d steps, %zu pairs: with N %.1f %%, chain %.1f %%, lag1 %.1f %%, min %.1f %%\n", steps,
                pairs.size(), 100 * share_below(pairs, &PairP::with_n, alpha),
                100 * share_below(pairs, &PairP::chain, alpha), 100 * share_below(pairs, &PairP::lag1, alpha),
                100 * share_below(pairs, &PairP::min, alpha));
}

// Null maps in which Benjamini-Hochberg at q flags at least one point: each
// series' map cut into ten maps of a tenth of the field each.
int maps_flagged(const Experiment& e, double PairP::*which, int& maps)
{
    const size_t cut = 10, size = e.maps[0].size() / cut;
    int flagged = 0;
    maps = 0;
    for (const std::vector<PairP>& map : e.maps)
        for (size_t c = 0; c < cut; ++c) {
            std::vector<double> p;
            for (size_t i = c * size; i < (c + 1) * size; ++i) p.push_back(map[i].*which);
            const double threshold = fdr_threshold(p.data(), int64_t(p.size()), q);
            bool any = false;
            for (double v : p) any = any || v <= threshold;
            flagged += any ? 1 : 0;
            ++maps;
        }
    return flagged;
}

} // namespace

TEST(Science, NullMapsAt240Steps)
{
    const int32_t steps = 240;
    // The rate hardly varies from one series to the next at this length.
    const auto e = run_experiment(steps, 8, 4000, 0, 240240);
    ASSERT_NE(e, nullptr);
    const std::vector<PairP> null = all_pairs(*e);
    report(steps, null);
    // The data must be persistent enough that ignoring it shows: with N the rate
    // is about three times alpha.
    EXPECT_GT(share_below(null, &PairP::with_n, alpha), 0.10);
    EXPECT_NEAR(share_below(null, &PairP::chain, alpha), 0.05, 0.015);
    EXPECT_NEAR(share_below(null, &PairP::min, alpha), 0.05, 0.015);

    // Under the null, BH flags a map with probability q when p is uniform. Here it
    // flags fewer: the t test with neff is conservative far in the tail, where
    // q/m = 2.5e-4 lies. Without the correction nearly every map is flagged.
    int maps = 0;
    const int flagged = maps_flagged(*e, &PairP::min, maps);
    const int flagged_with_n = maps_flagged(*e, &PairP::with_n, maps);
    std::printf("FDR at q = %.2f flagged a point in %d of %d null maps (%d with N)\n", q, flagged, maps,
                flagged_with_n);
    EXPECT_LE(double(flagged) / maps, 1.5 * q);
    EXPECT_GT(double(flagged_with_n) / maps, 0.5);
}

TEST(Science, PlantedRegionIsFoundAfterFdr)
{
    const int32_t steps = 240, points = 4000, planted = 200;
    const auto e = run_experiment(steps, 1, points, planted, 515151);
    ASSERT_NE(e, nullptr);
    double mean_r = 0;
    for (int32_t i = 0; i < planted; ++i)
        mean_r += pearson_r(e->series[0].data(), &e->field.values[size_t(i) * steps], steps) / planted;
    EXPECT_NEAR(mean_r, 0.5, 0.05);
    std::vector<double> p;
    for (const PairP& pair : e->maps[0]) p.push_back(pair.min);
    const double threshold = fdr_threshold(p.data(), int64_t(p.size()), q);
    ASSERT_FALSE(std::isnan(threshold));
    int inside = 0, outside = 0;
    for (int32_t i = 0; i < points; ++i)
        if (p[size_t(i)] <= threshold) ++(i < planted ? inside : outside);
    std::printf("FDR threshold %.3g: %d of %d planted points (mean r %.3f), %d others\n", threshold, inside, planted,
                mean_r, outside);
    EXPECT_GE(inside, 0.9 * planted);
    // The false share among the discoveries stays near q.
    EXPECT_LE(double(outside) / double(inside + outside), 2 * q);
}

TEST(Science, DefaultMethodKeepsFivePercentFromTwentySteps)
{
    for (int32_t steps : {20, 40}) {
        const auto e = run_experiment(steps, 12, 4000, 0, uint64_t(1000 + steps));
        ASSERT_NE(e, nullptr);
        const std::vector<PairP> null = all_pairs(*e);
        report(steps, null);
        // The chain alone is too liberal this short: its critical-lag search
        // seldom finds a lag.
        EXPECT_NEAR(share_below(null, &PairP::min, alpha), 0.05, 0.015) << steps << " steps";
    }
}
