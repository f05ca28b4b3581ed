// Critical lags of hand-made autocorrelations, and of random ones against the
// bound computed in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "critical_lag.hpp"
#include "reference.hpp"
#include "test_support.hpp"

namespace {

// Runs the scan over autocorrelations given as [lag - 1][point], laid out as
// sigcut holds them (lag-major rows) and as lagscan's kernels leave them (tiles
// of 16, 8 or 4 points, as deep as the series or the capacity, with the series'
// own values beyond the lags), which must all give the same bits.
std::vector<float> critical_lags(const Field& x, int n)
{
    const int32_t lags = int32_t(x.size());
    struct Layout {
        int32_t lanes, depth;
    };
    const Layout layouts[] = {{MAX_POINTS, lags + 1}, {16, lags + 2}, {8, MAX_STEPS}, {4, lags + 2}};
    std::vector<float> first;
    for (const Layout& l : layouts) {
        // Cells beyond the lags hold the marker: read as lag 2, it would mark a point missing.
        const TiledField f = tiled_field(x, n, l.lanes, l.depth, MISSING_VALUE);
        std::vector<float> lag(size_t(n), -1.0f);
        compute_critical_lags(f.s, n, lag.data());
        if (first.empty()) first = lag;
        for (int p = 0; p < n; ++p)
            if (!same_value(first[size_t(p)], lag[size_t(p)]))
                ADD_FAILURE() << l.lanes << " lanes, point " << p << ": " << lag[size_t(p)] << " against "
                              << first[size_t(p)] << " from rows";
    }
    return first;
}

// One point's autocorrelations as a single-point field.
Field one_point(const std::vector<float>& lags)
{
    Field x;
    for (float v : lags) x.push_back({v});
    return x;
}

float only(const std::vector<float>& lags) { return critical_lags(one_point(lags), 1)[0]; }

} // namespace

TEST(CriticalLag, WorkedCaseOfFortyLagsGivesTwo)
{
    std::vector<float> x(40, 0.05f);
    x[0] = 0.9f;
    x[1] = 0.8f;
    x[2] = 0.5f;
    x[3] = 0.1f;
    EXPECT_EQ(only(x), 2.0f);
}

TEST(CriticalLag, LargestPassingLagWinsWhateverFailsBelowIt)
{
    // L = 40 with small values; 0.9 passes anywhere early, so lags 1, 2 and 5 pass.
    std::vector<float> x(40, 0.0f);
    x[0] = 0.9f;
    x[1] = 0.9f;
    x[4] = 0.95f;
    EXPECT_EQ(only(x), 5.0f);
    EXPECT_EQ(only(std::vector<float>(40, 0.01f)), 0.0f) << "no lag beyond its bound gives 0";
}

TEST(CriticalLag, ValueExactlyOnItsBoundDoesNotPass)
{
    // With L = 8 and only lag 1 set, the bound of x is 1.96 * sqrt((2x^2 + 1) / 8).
    // Search for a float x whose bound rounds to exactly x.
    const float factor = CRITICAL_FACTOR;
    float on_bound = 0.0f;
    for (float x = 3.4f; x < 3.6f && on_bound == 0.0f; x = std::nextafter(x, 5.0f)) {
        const float s = x * x + 0.0f;
        if (factor * std::sqrt(((s + s) + 1.0f) / 8.0f) == x) on_bound = x;
    }
    ASSERT_NE(on_bound, 0.0f) << "some float between 3.4 and 3.6 lies exactly on its bound";
    std::vector<float> x(8, 0.0f);
    x[0] = on_bound;
    EXPECT_EQ(only(x), 0.0f);
    x[0] = on_bound + 0.001f;
    EXPECT_EQ(only(x), 1.0f) << "just above the bound passes";
}

TEST(CriticalLag, ShortFilesRarelyOrNeverPass)
{
    for (int L = 1; L <= 7; ++L) {
        std::vector<float> x(size_t(L), 1e30f);
        EXPECT_EQ(only(x), 0.0f) << "L = " << L;
        std::vector<float> y(size_t(L), -0.999f);
        EXPECT_EQ(only(y), 0.0f) << "L = " << L;
    }
    std::vector<float> x(8, 0.0f);
    x[0] = 3.6f;
    EXPECT_EQ(only(x), 1.0f);
    x[0] = 3.4f;
    EXPECT_EQ(only(x), 0.0f);
}

TEST(CriticalLag, MissingIsReadFromTheSecondLagOnly)
{
    // Point 0: missing at lag 2. Point 1: missing at lag 1 only (a huge ordinary value).
    // Point 2: NaN at lag 2 is not missing, and poisons every later bound.
    Field x(40, {0.0f, 0.0f, 0.0f});
    x[1][0] = MISSING_VALUE;
    x[0][1] = MISSING_VALUE;
    x[0][2] = 0.9f;
    x[1][2] = std::numeric_limits<float>::quiet_NaN();
    x[2][2] = 0.99f;
    const std::vector<float> lag = critical_lags(x, 3);
    EXPECT_EQ(lag[0], MISSING_VALUE);
    EXPECT_EQ(lag[1], 1.0f) << "the marker at lag 1 is an ordinary, huge value";
    EXPECT_EQ(lag[2], 1.0f);
    // A single lag record leaves the second row unfilled: nothing counts as missing.
    EXPECT_EQ(only({MISSING_VALUE}), 0.0f);
}

TEST(CriticalLag, ASquareThatOverflowsSinglePrecisionStopsThePoint)
{
    // 3e19 squared is beyond the largest float: the sum of squares, and so every
    // bound from there on, is infinite and no later lag passes. (In double
    // precision lag 2 would pass.)
    std::vector<float> x(40, 0.0f);
    x[0] = 0.9f;
    x[1] = 3e19f;
    x[2] = 0.95f;
    EXPECT_EQ(only(x), 1.0f);
}

TEST(CriticalLag, AgreesWithTheBoundInDoublePrecision)
{
    int compared = 0;
    for (int lags : {0, 1, 2, 8, 13, 40, 199, 2000}) {
        // Autocorrelation-sized values, with lags decaying like a persistent series
        // so that passing and failing lags alternate, and points missing at lag 2,
        // NaN or infinite somewhere: single and double precision treat those alike.
        Field x = random_field(lags, 41, unsigned(lags + 17), false);
        for (int j = 0; j < lags; ++j)
            for (int p = 0; p < 41; ++p) {
                float& v = x[size_t(j)][size_t(p)];
                v = v / 300.0f * std::exp(-float(j) / float(p + 1));
                if (p == 7 && j == 1) v = MISSING_VALUE;
                if (p == 8 && j == 3) v = std::numeric_limits<float>::quiet_NaN();
                if (p == 9 && j == 2) v = -std::numeric_limits<float>::infinity();
            }
        const TextbookLags want = textbook_critical_lags(x, 41);
        const std::vector<float> got = critical_lags(x, 41);
        for (size_t p = 0; p < got.size(); ++p) {
            if (want.closest[p] < 1e-5) continue; // too close to its bound to call
            ++compared;
            EXPECT_TRUE(same_value(want.lag[p], got[p]))
                << "lags " << lags << " point " << p << ": " << want.lag[p] << " wanted, " << got[p] << " found";
        }
    }
    EXPECT_GT(compared, 300) << "almost every point lies clear of its bounds";
}
