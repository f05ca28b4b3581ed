// The autocorrelation kernel against the plain scalar definition, byte for byte.
#include <gtest/gtest.h>

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

TEST(Autocorrelation, OneToFourGivesTheKnownLags)
{
    const Field aut = kernel_autocorrelations({{1}, {2}, {3}, {4}}, 1);
    ASSERT_EQ(aut.size(), 3u);
    EXPECT_FLOAT_EQ(aut[0][0], 0.1875f);
    EXPECT_FLOAT_EQ(aut[1][0], -0.225f);
    EXPECT_FLOAT_EQ(aut[2][0], -0.3375f);
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

TEST(Autocorrelation, MatchesPlainDefinitionOnRandomAndHostileFields)
{
    for (int steps : {0, 1, 2, 3, 7, 16, 17, 33, 257}) {
        for (bool hostile : {false, true}) {
            const int points = 37;
            const Field x = random_field(steps, points, unsigned(steps * 2 + hostile), hostile);
            SCOPED_TRACE(testing::Message() << "steps " << steps << (hostile ? " hostile" : ""));
            expect_same_bits(reference_autocorrelations(x, points), kernel_autocorrelations(x, points));
        }
    }
}
