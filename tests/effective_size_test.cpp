// Effective sample sizes of hand-made inputs, and of random ones against the
// formula in double precision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "effective_size.hpp"
#include "reference.hpp"
#include "test_support.hpp"

namespace {

const float nan_value = std::numeric_limits<float>::quiet_NaN();

// The field autocorrelations laid out as nstar holds them (lag-major rows) and as
// lagscan's kernels leave them (tiles of 16 or 8 points, with the series' own
// values beyond the lags), which must all give the same bits.
std::vector<float> effective_sizes(const std::vector<float>& r1, const Field& ac2, float clag1,
                                   const std::vector<float>& clag2)
{
    const int32_t lags = int32_t(r1.size());
    const int n = int(clag2.size());
    const Field stored(ac2.begin(), ac2.begin() + std::min(ac2.size(), r1.size()));
    struct Layout {
        int32_t lanes, depth;
    };
    const Layout layouts[] = {{MAX_POINTS, lags + 1}, {16, lags + 2}, {8, MAX_STEPS}};
    std::vector<float> first;
    for (const Layout& l : layouts) {
        const TiledField f = tiled_field(stored, n, l.lanes, l.depth, MISSING_VALUE);
        std::vector<float> neff(size_t(n), -1.0f);
        compute_effective_sizes(r1.data(), lags, f.s, clag1, clag2.data(), n, neff.data());
        if (first.empty()) first = neff;
        for (int p = 0; p < n; ++p)
            if (!same_value(first[size_t(p)], neff[size_t(p)]))
                ADD_FAILURE() << l.lanes << " lanes, point " << p << ": " << neff[size_t(p)] << " against "
                              << first[size_t(p)] << " from rows";
    }
    return first;
}

} // namespace

TEST(EffectiveSize, WorkedCaseOfFortyLags)
{
    std::vector<float> r1(40, 0.0f);
    Field ac2(40, {0.0f});
    r1[0] = 0.5f, r1[1] = 0.25f, r1[2] = 0.125f;
    ac2[0][0] = 0.4f, ac2[1][0] = 0.2f, ac2[2][0] = 0.1f;
    ac2[3][0] = 0.9f; // lag 4 lies beyond both critical lags
    r1[3] = 0.9f;
    const float neff = effective_sizes(r1, ac2, 3.0f, {2.0f})[0];
    EXPECT_NEAR(neff, 26.2295f, 1e-4f);
    EXPECT_EQ(neff, 40.0f / (1.0f + ((2.0f * 0.5f) * 0.4f + 0.0f + (2.0f * 0.25f) * 0.2f + (2.0f * 0.125f) * 0.1f)));
}

TEST(EffectiveSize, LagsAreTruncatedAndTheLastLagWeighsNothing)
{
    std::vector<float> r1 = {0.5f, 0.5f, 0.5f, 0.5f};
    Field ac2 = {{0.5f}, {0.5f}, {0.5f}, {0.5f}};
    // 2.9 counts as 2: S = 2 * 0.25 * 2 = 1, neff = 4 / 2.
    EXPECT_EQ(effective_sizes(r1, ac2, 2.9f, {0.0f})[0], 2.0f);
    // K = L = 4: lags 1..3 weigh 2, lag 4 weighs 0: S = 1.5, neff = 4 / 2.5.
    EXPECT_EQ(effective_sizes(r1, ac2, 4.0f, {1.0f})[0], 1.6f);
    // K above L, even above the capacity, adds nothing beyond the stored lags.
    EXPECT_EQ(effective_sizes(r1, ac2, 1e9f, {3000.0f})[0], 1.6f);
    // Both critical lags below 1: no terms.
    EXPECT_EQ(effective_sizes(r1, ac2, 0.5f, {-3.0f})[0], 4.0f);
}

TEST(EffectiveSize, MissingAndNaNCriticalLagsOnEitherSide)
{
    std::vector<float> r1 = {0.5f, 0.5f, 0.5f};
    Field ac2 = {{0.5f, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f}, {0.5f, 0.5f, 0.5f, 0.5f}};
    // Points: missing field lag, NaN field lag, ordinary lag 2, lag above the 32-bit range.
    const std::vector<float> clag2 = {MISSING_VALUE, nan_value, 2.0f, 3e9f};
    const std::vector<float> with_series = effective_sizes(r1, ac2, 1.0f, clag2);
    EXPECT_EQ(with_series[0], MISSING_VALUE);
    EXPECT_EQ(with_series[1], 3.0f) << "a NaN field lag makes the larger lag NaN: no terms";
    EXPECT_EQ(with_series[2], 3.0f / 2.0f);
    EXPECT_EQ(with_series[3], 3.0f);
    const std::vector<float> nan_series = effective_sizes(r1, ac2, nan_value, clag2);
    EXPECT_EQ(nan_series[2], 3.0f / 2.0f) << "a NaN series lag is passed over";
    const std::vector<float> missing_series = effective_sizes(r1, ac2, MISSING_VALUE, clag2);
    EXPECT_EQ(missing_series[0], MISSING_VALUE);
    for (size_t p = 1; p < 4; ++p) EXPECT_EQ(missing_series[p], 3.0f) << p;
}

TEST(EffectiveSize, NoLagsGiveZeroWithoutDividingByZero)
{
    EXPECT_EQ(effective_sizes({}, {}, 5.0f, {3.0f, 0.0f, MISSING_VALUE}),
              (std::vector<float>{0.0f, 0.0f, MISSING_VALUE}));
}

TEST(EffectiveSize, AgreesWithTheFormulaInDoublePrecision)
{
    // Positive autocorrelations (so 1 + S stays well away from 0) and critical
    // lags of every kind: fractional, above L, missing, NaN, beyond 32 bits.
    for (int lags : {1, 2, 7, 40, 333, 2000}) {
        Field ac2 = random_field(lags, 29, unsigned(lags * 3 + 1), false);
        std::vector<float> r1;
        for (int k = 0; k < lags; ++k) {
            r1.push_back(std::exp(-float(k) / 9.0f));
            for (float& v : ac2[size_t(k)]) v = std::fabs(v) / 150.0f * std::exp(-float(k) / 25.0f);
        }
        std::vector<float> clag2 = random_field(1, 29, unsigned(lags), false)[0];
        for (float& v : clag2) v = std::fmod(std::fabs(v), 60.0f) + 0.5f;
        clag2[1] = MISSING_VALUE;
        clag2[2] = nan_value;
        clag2[3] = 3e9f;
        clag2[4] = float(lags) + 1000.0f;
        for (float clag1 : {0.0f, 3.0f, 17.9f, nan_value, MISSING_VALUE, float(lags)}) {
            const std::vector<double> want = textbook_effective_sizes(r1, ac2, clag1, clag2);
            const std::vector<float> got = effective_sizes(r1, ac2, clag1, clag2);
            for (size_t p = 0; p < want.size(); ++p)
                ASSERT_NEAR(got[p], want[p], 1e-5 * std::fabs(want[p]))
                    << "lags " << lags << " clag1 " << clag1 << " point " << p;
        }
    }
}
