// Anomalies, detrending, the annual-cycle test and the slope against sums
// worked out plainly in the test, a known sinusoid and planted trends.
#include <gtest/gtest.h>

#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "annual_cycle_test.hpp"
#include "cf_time.hpp"
#include "climatology.hpp"
#include "regression_slope.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

std::vector<StepDate> dates_of(const std::string& units, const std::string& calendar, int steps)
{
    std::vector<double> v(static_cast<size_t>(steps));
    for (int t = 0; t < steps; ++t) v[size_t(t)] = t;
    return cf_time_axis(v.data(), v.size(), units, calendar, "time").dates;
}

// Anomalies from calendar-month means, then the least-squares line, as a
// scientist's script writes them: each step's month mean, then the line's
// slope and intercept by the textbook formulas.
std::vector<double> by_hand(const std::vector<double>& x, const std::vector<StepDate>& d, bool months, bool line)
{
    const size_t n = x.size();
    std::vector<double> y = x;
    if (months) {
        double sum[13] = {}, count[13] = {};
        for (size_t t = 0; t < n; ++t) {
            sum[d[t].date.month] += x[t];
            count[d[t].date.month] += 1;
        }
        for (size_t t = 0; t < n; ++t) y[t] = x[t] - sum[d[t].date.month] / count[d[t].date.month];
    }
    if (line) {
        double st = 0, sy = 0, stt = 0, sty = 0;
        for (size_t t = 0; t < n; ++t) {
            st += double(t);
            sy += y[t];
            stt += double(t) * double(t);
            sty += double(t) * y[t];
        }
        const double b = (n * sty - st * sy) / (n * stt - st * st), a = (sy - b * st) / n;
        for (size_t t = 0; t < n; ++t) y[t] -= a + b * double(t);
    }
    return y;
}

} // namespace

TEST(Climatology, MonthMeansAndLineAgainstTheScientistsScript)
{
    const int steps = 40; // three years and four months: some months thrice
    const std::vector<StepDate> d = dates_of("months since 1990-01-01", "", steps);
    std::mt19937_64 gen(5);
    std::normal_distribution<double> noise;
    std::vector<double> x(steps);
    for (int t = 0; t < steps; ++t) // a cycle, a trend and noise, far from zero
        x[size_t(t)] = double(float(280 + 8 * std::cos(2 * std::numbers::pi * t / 12) + 0.05 * t + noise(gen)));
    for (const bool months : {false, true})
        for (const bool line : {false, true}) {
            if (!months && !line) continue;
            SCOPED_TRACE(std::to_string(months) + std::to_string(line));
            const ClimatologyPlan plan = plan_climatology(d, steps, StepKind::monthly, Calendar::standard, months, line);
            std::vector<float> v(x.begin(), x.end());
            remove_climatology(plan, v.data(), 1);
            const std::vector<double> want = by_hand(x, d, months, line);
            for (int t = 0; t < steps; ++t) EXPECT_NEAR(v[size_t(t)], want[size_t(t)], 2e-5) << t;
        }
}

TEST(Climatology, ThreeAnnualHarmonicsLeaveTheFourth)
{
    // Three no-leap years of daily values: a mean, the first three harmonics
    // of the year and a fourth; only the fourth, orthogonal to the others over
    // whole years, may be left.
    const int steps = 3 * 365;
    const std::vector<StepDate> d = dates_of("days since 2001-01-01", "noleap", steps);
    std::vector<float> v(steps);
    std::vector<double> fourth(steps);
    for (int t = 0; t < steps; ++t) {
        const double w = 2 * std::numbers::pi * (t % 365) / 365.0;
        fourth[size_t(t)] = 0.5 * std::cos(4 * w);
        v[size_t(t)] = float(10 + 3 * std::cos(w) + 2 * std::sin(2 * w) - std::cos(3 * w) + 0.7 * std::sin(3 * w) +
                             fourth[size_t(t)]);
    }
    const ClimatologyPlan plan = plan_climatology(d, steps, StepKind::daily, Calendar::noleap, true, false);
    EXPECT_EQ(plan.cycle, CycleKind::annual_harmonics);
    remove_climatology(plan, v.data(), 1);
    double worst = 0;
    for (int t = 0; t < steps; ++t) worst = std::fmax(worst, std::fabs(v[size_t(t)] - fourth[size_t(t)]));
    EXPECT_LT(worst, 1e-5); // the float inputs' own rounding
}

TEST(Climatology, EachPointOfATileAsIfAlone)
{
    // Vectorised across points, a tile (any width, the kernels' 16, 8 and 4
    // included) must give each point exactly what it gives that point alone; a
    // point with a gap stays as it was.
    const auto check = [](const ClimatologyPlan& plan, int steps, int points, int seed) {
        std::mt19937_64 gen(seed);
        std::normal_distribution<float> noise(100, 30);
        std::vector<float> tile(size_t(steps) * size_t(points));
        for (float& x : tile) x = noise(gen);
        tile[size_t(17) * size_t(points) + 3] = MISSING_VALUE;
        tile[size_t(4) * size_t(points) + 1] = INFINITY;
        std::vector<float> done = tile;
        remove_climatology(plan, done.data(), points);
        for (int i = 0; i < points; ++i) {
            std::vector<float> alone(static_cast<size_t>(steps));
            for (int t = 0; t < steps; ++t) alone[size_t(t)] = tile[size_t(t) * size_t(points) + size_t(i)];
            if (i != 3 && i != 1) remove_climatology(plan, alone.data(), 1);
            for (int t = 0; t < steps; ++t)
                ASSERT_EQ(std::memcmp(&alone[size_t(t)], &done[size_t(t) * size_t(points) + size_t(i)], 4), 0)
                    << points << " points, point " << i << ", step " << t;
        }
    };
    const std::vector<StepDate> months = dates_of("months since 2000-01-01", "360_day", 36);
    const std::vector<StepDate> days = dates_of("days since 2003-11-20", "noleap", 400);
    for (const int points : {37, 16, 8, 4}) {
        for (const bool detrend : {false, true}) {
            SCOPED_TRACE(detrend ? "detrended" : "not detrended");
            check(plan_climatology(months, 36, StepKind::monthly, Calendar::day360, true, detrend), 36, points, 9);
            check(plan_climatology(months, 36, StepKind::yearly, Calendar::day360, true, detrend), 36, points, 10);
            check(plan_climatology(days, 400, StepKind::daily, Calendar::noleap, true, detrend), 400, points, 11);
        }
        check(plan_climatology(months, 36, StepKind::monthly, Calendar::day360, false, true), 36, points, 12);
    }
}

TEST(Climatology, PeriodsTooShortForACycleAreRefused)
{
    const auto refusal = [](const std::vector<StepDate>& d, StepKind kind) {
        try {
            plan_climatology(d, int32_t(d.size()), kind, Calendar::standard, true, false);
        } catch (const RunError& e) {
            return e.file;
        }
        return std::string("no error");
    };
    EXPECT_EQ(refusal(dates_of("months since 2000-01-01", "", 18), StepKind::monthly), "--anomalies");
    EXPECT_EQ(refusal(dates_of("months since 2000-01-01", "", 24), StepKind::monthly), "no error");
    EXPECT_EQ(refusal(dates_of("days since 2000-01-01", "", 300), StepKind::daily), "--anomalies");
    EXPECT_EQ(refusal(dates_of("days since 2000-01-01", "", 366), StepKind::daily), "no error");
}

TEST(AnnualCycle, FTestDecidesAsBoostsPValueOfAPlainAnalysisOfVariance)
{
    const int steps = 60, points = 400;
    const std::vector<StepDate> d = dates_of("months since 1990-01-01", "", steps);
    const AnnualCycleTest test = plan_annual_cycle_test(d, StepKind::monthly);
    ASSERT_TRUE(test.usable);
    std::mt19937_64 gen(3);
    std::normal_distribution<double> noise;
    std::vector<float> tile(size_t(steps) * points);
    // Amplitudes from none to plain, so that decisions fall on both sides of p = 0.001.
    for (int i = 0; i < points; ++i)
        for (int t = 0; t < steps; ++t)
            tile[size_t(t) * points + size_t(i)] =
                float(250 + (i % 40) * 0.03 * std::sin(2 * std::numbers::pi * t / 12) + noise(gen));
    int64_t want = 0;
    for (int i = 0; i < points; ++i) {
        double mean = 0, month_sum[12] = {}, ss_within = 0, ss_between = 0;
        for (int t = 0; t < steps; ++t) {
            mean += tile[size_t(t) * points + size_t(i)] / double(steps);
            month_sum[t % 12] += tile[size_t(t) * points + size_t(i)];
        }
        for (int t = 0; t < steps; ++t) {
            const double m = month_sum[t % 12] / 5, x = tile[size_t(t) * points + size_t(i)];
            ss_within += (x - m) * (x - m);
            ss_between += (m - mean) * (m - mean);
        }
        const double f = (ss_between / 11) / (ss_within / (steps - 12));
        want += boost::math::cdf(boost::math::complement(boost::math::fisher_f(11, steps - 12), f)) < 0.001;
    }
    const CycleCount c = count_annual_cycles(test, tile.data(), points);
    EXPECT_EQ(c.tested, points);
    EXPECT_EQ(c.with_cycle, want);
    EXPECT_GT(want, points / 10);
    EXPECT_LT(want, points * 9 / 10);
    // After anomalies there is no cycle left anywhere.
    remove_climatology(plan_climatology(d, steps, StepKind::monthly, Calendar::standard, true, false), tile.data(), points);
    EXPECT_EQ(count_annual_cycles(test, tile.data(), points).with_cycle, 0);
}

TEST(Slope, APlantedMultipleAndTheUndefined)
{
    std::mt19937_64 gen(11);
    std::normal_distribution<float> noise(0, 3);
    std::vector<float> x(200), y(200);
    for (size_t t = 0; t < x.size(); ++t) {
        x[t] = noise(gen);
        y[t] = -2.5f * x[t] + 7.0f;
    }
    EXPECT_NEAR(regression_slope(x.data(), y.data(), 200), -2.5, 1e-6);
    const std::vector<float> flat(200, 4.0f);
    EXPECT_TRUE(std::isnan(regression_slope(flat.data(), y.data(), 200)));
    EXPECT_EQ(regression_slope(x.data(), flat.data(), 200), 0.0);
    x[7] = INFINITY;
    EXPECT_TRUE(std::isnan(regression_slope(x.data(), y.data(), 200)));
}
