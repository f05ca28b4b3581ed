// The plain autocorrelation loop against hand-computed values, the textbook formula
// in double precision, and an independently written single-precision loop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "autocorrelation.hpp"
#include "reference.hpp"
#include "test_support.hpp"

namespace {

Field kernel_autocorrelations(const Field& x, int n)
{
    std::unique_ptr<float, decltype(&release_tiles)> xs_store(reserve_tiles(), &release_tiles);
    std::unique_ptr<float, decltype(&release_tiles)> aut(reserve_tiles(), &release_tiles);
    FieldSeries xs;
    xs.v = xs_store.get();
    xs.count = int32_t(x.size());
    for (size_t t = 0; t < x.size(); ++t)
        for (size_t p = 0; p < x[t].size(); ++p) column(xs, int32_t(p))[t] = x[t][p];
    compute_autocorrelations_plain(xs, n, aut.get());
    Field out(x.size() > 1 ? x.size() - 1 : 0, std::vector<float>(size_t(n)));
    for (size_t j = 0; j < out.size(); ++j)
        for (int p = 0; p < n; ++p) out[j][size_t(p)] = aut.get()[j * MAX_POINTS + size_t(p)];
    return out;
}

void expect_same_bits(const Field& want, const Field& got)
{
    ASSERT_EQ(want.size(), got.size());
    for (size_t j = 0; j < want.size(); ++j)
        for (size_t p = 0; p < want[j].size(); ++p)
            ASSERT_TRUE(same_value(want[j][p], got[j][p])) << bits(want[j][p]) << " wanted, " << bits(got[j][p]) << " found at" << "lag " << j + 1 << " point " << p;
}

} // namespace

TEST(Medvar, MeanAndVarianceOfOneToFour)
{
    const float x[4] = {1, 2, 3, 4};
    const MeanVariance mv = medvar(4, x);
    EXPECT_EQ(mv.mean, 2.5f);
    EXPECT_EQ(mv.variance, 5.0f / 3.0f);
}

TEST(Autocorrelation, OneToFourGivesTheKnownLagsToTheBit)
{
    // Mean 2.5, deviations -1.5 -0.5 0.5 1.5, squares 5: all exact. The variance
    // 5/3 rounds to 1.6666666 (0x3fd55555). Lag sums 1.25, -1.5, -2.25 over N = 4
    // give 0.3125, -0.375, -0.5625, exact; divided by the rounded variance they are
    // 0.1875 exactly, 0.22500000536 (nearest float 0xbe666667, one step past the
    // float nearest -0.225) and 0.33750000805 (0xbeaccccd, the float nearest -0.3375).
    const Field aut = kernel_autocorrelations({{1}, {2}, {3}, {4}}, 1);
    ASSERT_EQ(aut.size(), 3u);
    EXPECT_EQ(bits(aut[0][0]), 0x3e400000u);
    EXPECT_EQ(bits(aut[1][0]), 0xbe666667u);
    EXPECT_EQ(bits(aut[2][0]), 0xbeaccccdu);
}

TEST(Autocorrelation, HandComputedShortSeries)
{
    // N = 2: mean 2, deviations -1 and 1, variance 2 / 1; lag 1: -1 / 2 / 2.
    EXPECT_EQ(kernel_autocorrelations({{1}, {3}}, 1)[0][0], -0.25f);
    // N = 3 of 0, 0, 3: mean 1, deviations -1 -1 2, variance 6 / 2 = 3; lag 1:
    // (-1)(-1) + 2(-1) = -1, / 3 / 3; lag 2: 2(-1) = -2, / 3 / 3.
    const Field three = kernel_autocorrelations({{0}, {0}, {3}}, 1);
    EXPECT_EQ(three[0][0], (-1.0f / 3.0f) / 3.0f);
    EXPECT_EQ(three[1][0], (-2.0f / 3.0f) / 3.0f);
    // A constant series has no variance: 0 / 0 is NaN at every lag, unguarded.
    for (const auto& lag : kernel_autocorrelations({{5}, {5}, {5}, {5}}, 1)) EXPECT_TRUE(std::isnan(lag[0]));
    // Zero or one step: no lag at all.
    EXPECT_TRUE(kernel_autocorrelations({{7}}, 1).empty());
}

TEST(Autocorrelation, MissingOnlyAtTheSecondStepMarksThePoint)
{
    const Field x = {{1, MISSING_VALUE, 1}, {MISSING_VALUE, 2, 2}, {3, 3, MISSING_VALUE}, {4, 4, 4}};
    const Field aut = kernel_autocorrelations(x, 3);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(aut[size_t(j)][0], MISSING_VALUE);
        EXPECT_NE(aut[size_t(j)][1], MISSING_VALUE);
        EXPECT_NE(aut[size_t(j)][2], MISSING_VALUE);
    }
}

TEST(Autocorrelation, AgreesWithTheTextbookFormulaInDoublePrecision)
{
    // Series of mean about 100 and unit noise, and short smooth ones with large
    // autocorrelations: single precision stays within its rounding of the
    // double-precision estimate (mean rounding costs about 1e-5 per deviation).
    for (int steps : {2, 3, 7, 16, 33, 257, 2000}) {
        const int points = 9;
        Field x = random_field(steps, points, unsigned(steps * 5 + 1), false);
        for (int t = 0; t < steps; ++t) x[size_t(t)][0] = std::sin(0.05f * float(t)) * 3.0f;
        const std::vector<std::vector<double>> want = textbook_autocorrelations(x, points);
        const Field got = kernel_autocorrelations(x, points);
        ASSERT_EQ(want.size(), got.size());
        for (size_t j = 0; j < want.size(); ++j)
            for (size_t p = 0; p < size_t(points); ++p)
                ASSERT_NEAR(got[j][p], want[j][p], 2e-4) << steps << " steps, lag " << j + 1 << ", point " << p;
    }
    // The estimator divides by N, not N - j: a series alternating around its mean
    // has lag-j autocorrelation (-1)^j (N - j) / N times (N - 1) / N.
    Field alt;
    for (int t = 0; t < 10; ++t) alt.push_back({t % 2 ? 1.0f : -1.0f});
    const Field got = kernel_autocorrelations(alt, 1);
    for (int j = 1; j < 10; ++j)
        EXPECT_NEAR(got[size_t(j - 1)][0], (j % 2 ? -1.0 : 1.0) * (10.0 - j) / 10.0 * 9.0 / 10.0, 1e-6) << j;
}

TEST(Autocorrelation, SameBitsAsAnIndependentlyWrittenLoopOnHostileFields)
{
    for (int steps : {0, 1, 2, 3, 7, 16, 17, 33, 257}) {
        for (bool hostile : {false, true}) {
            const int points = 37;
            const Field x = hostile ? hostile_points_field(steps, points, unsigned(steps))
                                    : random_field(steps, points, unsigned(steps * 2 + 1), true);
            SCOPED_TRACE(testing::Message() << "steps " << steps << (hostile ? " hostile points" : " sprinkled"));
            expect_same_bits(plain_autocorrelations(x, points), kernel_autocorrelations(x, points));
        }
    }
}
