// The phase test against what can be worked out without it: a plain DFT and the
// surrogate written as a sum of cosines, correlations and ranks by a double loop
// with a full sort, and points whose answer is known (the series itself, a
// planted region).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "ar1_chain.hpp"
#include "phasetest.hpp"
#include "run_error.hpp"
#include "significance.hpp"

namespace {

const double two_pi = 6.283185307179586;

std::vector<double> ar1_doubles(NormalStream& s, double a, int32_t steps)
{
    std::vector<float> f(static_cast<size_t>(steps));
    ar1_series(s, a, steps, f.data());
    return std::vector<double>(f.begin(), f.end());
}

// X(f) = sum_t x(t) exp(-2 pi i f t / N), by the definition.
std::vector<std::complex<double>> plain_dft(const double* x, int32_t n)
{
    std::vector<std::complex<double>> out(size_t(n / 2 + 1));
    for (int32_t f = 0; f <= n / 2; ++f)
        for (int32_t t = 0; t < n; ++t) out[size_t(f)] += x[t] * std::polar(1.0, -two_pi * f * t / n);
    return out;
}

// A step-major tile built from point-major series.
struct Tile {
    int32_t steps = 0;
    std::vector<std::vector<float>> point; // point[i][t]
    std::vector<unsigned char> skip;
    std::vector<float> values;
    std::vector<double> r;

    void add(std::vector<float> x, bool skipped = false)
    {
        point.push_back(std::move(x));
        skip.push_back(skipped ? 1 : 0);
    }
    PhaseTile make(const std::vector<double>& series)
    {
        const size_t n = point.size();
        std::vector<float> s(series.begin(), series.end());
        values.assign(size_t(steps) * n, 0.0f);
        r.assign(n, 0.0);
        for (size_t i = 0; i < n; ++i) {
            for (int32_t t = 0; t < steps; ++t) values[size_t(t) * n + i] = point[i][size_t(t)];
            r[i] = pearson_r(s.data(), point[i].data(), steps);
        }
        return {values.data(), int32_t(n), steps, skip.data(), r.data()};
    }
};

std::vector<float> planted(NormalStream& s, const std::vector<double>& series, double c)
{
    std::vector<float> x(series.size());
    ar1_series(s, 0.6, int32_t(series.size()), x.data());
    for (size_t t = 0; t < x.size(); ++t) x[t] = float(c * series[t] + std::sqrt(1 - c * c) * x[t]);
    return x;
}

} // namespace

TEST(Surrogates, KeepTheAmplitudesAndDrawUniformPhases)
{
    for (int32_t n : {64, 63}) {
        SCOPED_TRACE(n);
        NormalStream normal(11);
        std::vector<double> x = ar1_doubles(normal, 0.6, n);
        for (int32_t t = 0; t < n; ++t) x[size_t(t)] += 5.0 + 0.5 * (t % 2 ? -1 : 1); // a mean, and power at N/2
        const int64_t m = 2000;
        const Surrogates s = draw_surrogates(x.data(), n, m, 7, "series");
        ASSERT_EQ(s.values.size(), size_t(m) * size_t(n));
        const std::vector<std::complex<double>> spectrum = plain_dft(x.data(), n);
        const int32_t free = (n - 1) / 2; // frequencies 1 .. free have a phase of their own
        double power = 0;
        for (int32_t f = 1; f <= free; ++f) power += std::norm(spectrum[size_t(f)]);

        std::complex<double> phase_sum = 0;
        double nyquist_square = 0;
        int nyquist_below_one = 0;
        double worst_amplitude = 0, worst_mean = 0, worst_norm = 0, nyquist_max = 0;
        for (int64_t k = 0; k < m; ++k) {
            const float* v = &s.values[size_t(k) * size_t(n)];
            std::vector<double> y(v, v + n);
            double sum = 0, square = 0;
            for (double value : y) {
                sum += value;
                square += value * value;
            }
            worst_mean = std::max(worst_mean, std::fabs(sum));
            worst_norm = std::max(worst_norm, std::fabs(square - 1));
            const std::vector<std::complex<double>> z = plain_dft(y.data(), n);
            double z_power = 0;
            for (int32_t f = 1; f <= free; ++f) z_power += std::norm(z[size_t(f)]);
            const double scale = std::sqrt(z_power / power);
            for (int32_t f = 1; f <= free; ++f) {
                const double a = std::abs(spectrum[size_t(f)]);
                worst_amplitude =
                    std::max(worst_amplitude, std::fabs(std::abs(z[size_t(f)]) - scale * a) / std::sqrt(z_power));
                phase_sum += std::polar(1.0, std::arg(z[size_t(f)]) - std::arg(spectrum[size_t(f)]));
            }
            if (n % 2 == 0) {
                const double ratio = std::abs(z[size_t(n / 2)]) / (scale * std::abs(spectrum[size_t(n / 2)]));
                nyquist_square += ratio * ratio;
                nyquist_below_one += ratio < 1 - 1e-3 ? 1 : 0;
                nyquist_max = std::max(nyquist_max, ratio);
            }
        }
        EXPECT_LT(worst_mean, 1e-5);
        EXPECT_LT(worst_norm, 1e-5);
        EXPECT_LT(worst_amplitude, 1e-6) << "relative to the surrogate's whole amplitude";
        // 2000 x 31 unit phasors: a uniform spread leaves a mean near 0.004.
        EXPECT_LT(std::abs(phase_sum) / double(m * free), 0.02);
        if (n % 2 == 0) {
            // sqrt(2) |cos u| with u uniform: never above sqrt(2), mean square 1,
            // below 1 half of the time.
            EXPECT_LE(nyquist_max, std::sqrt(2.0) + 1e-4);
            EXPECT_NEAR(nyquist_square / double(m), 1.0, 0.1);
            EXPECT_NEAR(nyquist_below_one / double(m), 0.5, 0.05);
        }
    }
}

TEST(Surrogates, AreTheDocumentedCosinesOfTheSeedsPhases)
{
    // Six steps: frequencies 1 and 2 with a phase each, then the Nyquist term.
    const int32_t n = 6;
    const std::vector<double> x = {0.3, -1.2, 2.5, 0.7, -0.4, 1.9};
    const std::vector<std::complex<double>> spectrum = plain_dft(x.data(), n);
    for (uint64_t seed : {uint64_t(1), uint64_t(2024)}) {
        const Surrogates s = draw_surrogates(x.data(), n, 5, seed, "series");
        std::mt19937_64 gen(seed);
        const auto angle = [&] { return two_pi * (double(gen() >> 11) * 0x1p-53); };
        for (int64_t k = 0; k < 5; ++k) {
            const double u1 = angle(), u2 = angle(), u3 = angle();
            std::vector<double> y(static_cast<size_t>(n));
            double square = 0;
            for (int32_t t = 0; t < n; ++t) {
                y[size_t(t)] = 2 * std::abs(spectrum[1]) * std::cos(two_pi * t / n + u1) +
                               2 * std::abs(spectrum[2]) * std::cos(two_pi * 2 * t / n + u2) +
                               std::sqrt(2.0) * std::abs(spectrum[3]) * std::cos(u3) * (t % 2 ? -1 : 1);
                square += y[size_t(t)] * y[size_t(t)];
            }
            for (int32_t t = 0; t < n; ++t)
                EXPECT_NEAR(s.values[size_t(k * n + t)], y[size_t(t)] / std::sqrt(square), 1e-6)
                    << "seed " << seed << " surrogate " << k << " step " << t;
        }
    }
    // The same seed gives the same bytes; another seed other surrogates.
    NormalStream normal(3);
    const std::vector<double> long_series = ar1_doubles(normal, 0.6, 200);
    const Surrogates a = draw_surrogates(long_series.data(), 200, 300, 9, "series");
    const Surrogates b = draw_surrogates(long_series.data(), 200, 300, 9, "series");
    const Surrogates c = draw_surrogates(long_series.data(), 200, 300, 10, "series");
    EXPECT_EQ(0, std::memcmp(a.values.data(), b.values.data(), a.values.size() * sizeof(float)));
    size_t same = 0;
    for (size_t i = 0; i < a.values.size(); ++i) same += a.values[i] == c.values[i] ? 1 : 0;
    EXPECT_LT(same, a.values.size() / 100);
}

TEST(PhaseTest, RefusesWhatItCannotTest)
{
    const std::vector<double> x = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::vector<double> flat(8, 2.5);
    const auto file_of = [](auto run) -> std::string {
        try {
            run();
        } catch (const RunError& e) {
            return e.file;
        }
        return "no error";
    };
    EXPECT_EQ(file_of([&] { draw_surrogates(x.data(), 8, 0, 1, "index.csv"); }), "--surrogates");
    EXPECT_EQ(file_of([&] { draw_surrogates(x.data(), 8, MAX_SURROGATES + 1, 1, "index.csv"); }), "--surrogates");
    EXPECT_EQ(file_of([&] { draw_surrogates(flat.data(), 8, 10, 1, "index.csv"); }), "index.csv");
    EXPECT_EQ(file_of([&] { draw_surrogates(x.data(), 2, 10, 1, "index.csv"); }), "index.csv");
    const Surrogates s = draw_surrogates(x.data(), 8, 10, 1, "index.csv");
    std::vector<float> values(7 * 3, 1.0f);
    const double r[3] = {0.1, 0.2, 0.3};
    const PhaseTile tile{values.data(), 3, 7, nullptr, r};
    PhaseWork work;
    FieldCounts counts = empty_field_counts(10);
    double p[3];
    EXPECT_EQ(file_of([&] { phase_test_tile(s, tile, 0.05, work, p, nullptr, counts); }), "tile");
    EXPECT_EQ(file_of([&] { critical_rank(10, 0.0); }), "--alpha");
}

TEST(PhaseTest, CriticalRankIsTheCeilingOfOneLessAlphaTimesM)
{
    // ceil((1 - alpha) M) worked out by hand, alphas as a user writes them.
    const struct {
        int64_t m;
        double alpha;
        int64_t rank;
    } table[] = {{1000, 0.05, 950}, {999, 0.05, 950}, {20, 0.15, 17}, {100, 0.29, 71},
                 {100, 0.07, 93},   {10, 0.5, 5},     {1, 0.05, 1}};
    for (const auto& row : table) EXPECT_EQ(critical_rank(row.m, row.alpha), row.rank) << row.m << " " << row.alpha;
}

namespace {
void check_against_double_loop(int64_t m, double alpha);
} // namespace

TEST(PhaseTest, CountsCriticalValuesAndFieldCountsAgreeWithAPlainDoubleLoop)
{
    // Many surrogates and a small alpha, as in use; and few, with half of them
    // beyond the critical value, where every value is a candidate for it.
    const struct {
        int64_t m;
        double alpha;
    } cases[] = {{400, 0.05}, {6, 0.5}, {11, 0.3}};
    for (const auto& run : cases) {
        SCOPED_TRACE(run.m);
        check_against_double_loop(run.m, run.alpha);
    }
}

namespace {

void check_against_double_loop(int64_t m, double alpha)
{
    const int32_t steps = 64;
    NormalStream normal(21);
    const std::vector<double> series = ar1_doubles(normal, 0.6, steps);
    const Surrogates s = draw_surrogates(series.data(), steps, m, 5, "series");
    Tile tile;
    tile.steps = steps;
    for (int i = 0; i < 60; ++i) tile.add(planted(normal, series, 0.015 * i), i % 13 == 5);
    tile.add(std::vector<float>(size_t(steps), 3.0f)); // constant: r is NaN
    for (int t = 0; t < steps; ++t) tile.point[17][size_t(t)] += 300.0f; // far from 0
    PhaseTile view = tile.make(series);

    PhaseWork work;
    work.block_bytes = 7 * m * int64_t(sizeof(float)); // blocks of 7 points
    FieldCounts counts = empty_field_counts(m);
    std::vector<double> p(size_t(view.points));
    std::vector<float> critical(size_t(view.points));
    phase_test_tile(s, view, alpha, work, p.data(), critical.data(), counts);

    const int64_t rank = critical_rank(m, alpha);
    std::vector<int64_t> field(size_t(m), 0), field_slack(size_t(m), 0);
    int64_t tested = 0, observed = 0, observed_slack = 0;
    for (int32_t i = 0; i < view.points; ++i) {
        SCOPED_TRACE(i);
        if (tile.skip[size_t(i)] || std::isnan(view.r[i])) {
            EXPECT_TRUE(std::isnan(p[size_t(i)]));
            EXPECT_TRUE(std::isnan(critical[size_t(i)]));
            continue;
        }
        ++tested;
        const std::vector<float>& x = tile.point[size_t(i)];
        double mean = 0, square = 0;
        for (float v : x) mean += v;
        mean /= steps;
        for (float v : x) square += (v - mean) * (v - mean);
        std::vector<double> r(static_cast<size_t>(m));
        for (int64_t k = 0; k < m; ++k) {
            double dot = 0;
            for (int32_t t = 0; t < steps; ++t)
                dot += double(s.values[size_t(k * steps + t)]) * (double(x[size_t(t)]) - mean);
            r[size_t(k)] = std::fabs(dot / std::sqrt(square));
        }
        const double observed_r = std::fabs(view.r[i]);
        int64_t reach = 0, near = 0;
        for (double v : r) {
            reach += v >= observed_r ? 1 : 0;
            near += std::fabs(v - observed_r) <= 1e-6 ? 1 : 0;
        }
        const int64_t count = std::llround(p[size_t(i)] * double(m + 1)) - 1;
        EXPECT_LE(std::llabs(count - reach), near) << "p " << p[size_t(i)];
        std::vector<double> sorted = r;
        std::sort(sorted.begin(), sorted.end());
        const double c = sorted[size_t(rank - 1)];
        EXPECT_NEAR(critical[size_t(i)], c, 1e-6);
        observed += observed_r >= c ? 1 : 0;
        observed_slack += std::fabs(observed_r - c) <= 1e-6 ? 1 : 0;
        // The surrogate at c always counts; only another within rounding of it may
        // swap places with it.
        int64_t close = 0;
        for (double v : r) close += std::fabs(v - c) <= 1e-6 ? 1 : 0;
        for (int64_t k = 0; k < m; ++k) {
            field[size_t(k)] += r[size_t(k)] >= c ? 1 : 0;
            if (close > 1 && std::fabs(r[size_t(k)] - c) <= 1e-6) ++field_slack[size_t(k)];
        }
    }
    EXPECT_EQ(counts.tested, tested);
    EXPECT_LE(std::llabs(counts.observed - observed), observed_slack);
    for (int64_t k = 0; k < m; ++k)
        EXPECT_LE(std::llabs(counts.surrogate[size_t(k)] - field[size_t(k)]), field_slack[size_t(k)]) << "surrogate " << k;

    // A point whose |r| is its own critical value has exactly the M - rank + 1
    // surrogates at or above it, and reaches the critical value.
    int64_t observed_after = counts.observed;
    for (int32_t i : {3, 40}) {
        observed_after += std::fabs(tile.r[size_t(i)]) >= critical[size_t(i)] ? 0 : 1;
        tile.r[size_t(i)] = double(critical[size_t(i)]);
    }
    FieldCounts again = empty_field_counts(m);
    phase_test_tile(s, view, alpha, work, p.data(), critical.data(), again);
    for (int32_t i : {3, 40}) EXPECT_EQ(p[size_t(i)], double(1 + m - rank + 1) / double(m + 1)) << i;
    EXPECT_EQ(again.observed, observed_after);
}

} // namespace

TEST(PhaseTest, TheSeriesItselfIsAtTheFloorAndIndependentPointsSpreadOverTheUnitInterval)
{
    const int32_t steps = 120;
    const int64_t m = 999;
    NormalStream normal(31);
    const std::vector<double> series = ar1_doubles(normal, 0.6, steps);
    const Surrogates s = draw_surrogates(series.data(), steps, m, 1, "series");
    Tile tile;
    tile.steps = steps;
    std::vector<float> same(series.begin(), series.end()), opposite(same);
    for (float& v : opposite) v = 7.0f - 2.0f * v;
    tile.add(same);
    tile.add(opposite);
    for (int i = 0; i < 2000; ++i) tile.add(planted(normal, series, 0.0));
    const PhaseTile view = tile.make(series);
    PhaseWork work;
    FieldCounts counts = empty_field_counts(m);
    std::vector<double> p(size_t(view.points));
    phase_test_tile(s, view, 0.05, work, p.data(), nullptr, counts);
    EXPECT_EQ(p[0], 1.0 / double(m + 1));
    EXPECT_EQ(p[1], 1.0 / double(m + 1)) << "two-sided";
    int below_5 = 0, below_half = 0;
    double lowest = 1, highest = 0;
    for (size_t i = 2; i < p.size(); ++i) {
        lowest = std::min(lowest, p[i]);
        highest = std::max(highest, p[i]);
        below_5 += p[i] <= 0.05 ? 1 : 0;
        below_half += p[i] <= 0.5 ? 1 : 0;
    }
    EXPECT_GT(lowest, 0.0);
    EXPECT_LE(highest, 1.0);
    EXPECT_GT(highest, 0.95);
    EXPECT_NEAR(below_5 / 2000.0, 0.05, 0.02);
    EXPECT_NEAR(below_half / 2000.0, 0.5, 0.05);
}

TEST(PhaseTest, FieldSignificanceFindsAPlantedRegionAndNotANullFieldOnAnyThreads)
{
    const int32_t steps = 120;
    const int64_t m = 499;
    NormalStream normal(41);
    const std::vector<double> series = ar1_doubles(normal, 0.6, steps);
    const Surrogates s = draw_surrogates(series.data(), steps, m, 3, "series");
    for (bool plant : {true, false}) {
        SCOPED_TRACE(plant ? "planted" : "null");
        // Four tiles of 100 points; with a region, the first 60 of the second tile.
        std::vector<Tile> tiles(4);
        std::vector<PhaseTile> views;
        for (size_t t = 0; t < tiles.size(); ++t) {
            tiles[t].steps = steps;
            for (int i = 0; i < 100; ++i) tiles[t].add(planted(normal, series, plant && t == 1 && i < 60 ? 0.6 : 0.0));
            views.push_back(tiles[t].make(series));
        }
        // In order on one thread, and in reverse on two threads with their own
        // counts added at the end: the same answer to the bit.
        FieldCounts one = empty_field_counts(m);
        PhaseWork work;
        std::vector<std::vector<double>> p_one(4, std::vector<double>(100)), p_two = p_one;
        for (size_t t = 0; t < 4; ++t) phase_test_tile(s, views[t], 0.05, work, p_one[t].data(), nullptr, one);
        std::vector<FieldCounts> per_thread(2, empty_field_counts(m));
        std::vector<std::thread> threads;
        for (int w = 0; w < 2; ++w)
            threads.emplace_back([&, w] {
                PhaseWork own;
                for (int t = 3 - w; t >= 0; t -= 2)
                    phase_test_tile(s, views[size_t(t)], 0.05, own, p_two[size_t(t)].data(), nullptr, per_thread[size_t(w)]);
            });
        for (std::thread& t : threads) t.join();
        FieldCounts two = empty_field_counts(m);
        for (const FieldCounts& c : per_thread) add_field_counts(two, c);
        EXPECT_EQ(p_one, p_two);
        EXPECT_EQ(one.surrogate, two.surrogate);
        EXPECT_EQ(one.observed, two.observed);
        EXPECT_EQ(one.tested, 400);

        if (plant)
            EXPECT_EQ(field_p(one), 1.0 / double(m + 1));
        else
            EXPECT_GT(field_p(one), 0.05);
    }
    EXPECT_TRUE(std::isnan(field_p(empty_field_counts(m))));
    // Counts by hand: three of five surrogates reach the observed 3.
    const FieldCounts hand{10, 3, {3, 2, 5, 3, 0}};
    EXPECT_EQ(field_p(hand), 4.0 / 6.0);
}
