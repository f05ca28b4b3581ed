// The significance statistics on cases whose answers are known independently:
// tabulated critical values, closed forms, quadrature and hand-worked lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <limits>
#include <vector>

#include "significance.hpp"

namespace {

const double nan_ = std::numeric_limits<double>::quiet_NaN();
const double inf_ = std::numeric_limits<double>::infinity();
const double pi = 3.14159265358979323846;

// The r whose t statistic at dof degrees of freedom is t.
double r_for_t(double t, double dof) { return t / std::sqrt(t * t + dof); }

// Two-sided p of Student's t by Simpson's rule over the density on [0, t], from
// the gamma function alone: an oracle that shares no code with the incomplete
// beta function behind the library.
double p_by_quadrature(double t, double dof)
{
    const double c = std::exp(std::lgamma((dof + 1) / 2) - std::lgamma(dof / 2)) / std::sqrt(dof * pi);
    const auto f = [&](double x) { return c * std::pow(1 + x * x / dof, -(dof + 1) / 2); };
    const int n = 20000;
    const double h = t / n;
    double s = f(0) + f(t);
    for (int i = 1; i < n; ++i) s += f(i * h) * (i % 2 ? 4 : 2);
    return 1 - 2 * (s * h / 3);
}

} // namespace

TEST(TwoSidedP, TabulatedFivePercentCriticalValues)
{
    const struct {
        double dof, t;
    } table[] = {{10, 2.228139}, {30, 2.042272}};
    for (const auto& row : table) {
        const double r = r_for_t(row.t, row.dof);
        EXPECT_NEAR(two_sided_p(r, row.dof), 0.05, 2e-7) << "dof " << row.dof;
        EXPECT_EQ(two_sided_p(-r, row.dof), two_sided_p(r, row.dof)) << "two-sided";
    }
    // The same r is less significant with fewer degrees of freedom.
    const double r = r_for_t(2.042272, 30);
    EXPECT_GT(two_sided_p(r, 10), 0.05);
}

TEST(TwoSidedP, RealValuedDofAgainstClosedFormsAndQuadrature)
{
    for (double t : {0.3, 1.0, 2.5, 12.0}) {
        EXPECT_NEAR(two_sided_p(r_for_t(t, 1), 1), 1 - 2 * std::atan(t) / pi, 1e-12) << t;
        EXPECT_NEAR(two_sided_p(r_for_t(t, 2), 2), 1 - t / std::sqrt(2 + t * t), 1e-12) << t;
    }
    // dof = neff - 2 is seldom a whole number.
    for (double dof : {0.7, 7.3, 57.85})
        for (double t : {0.5, 1.9, 3.2})
            EXPECT_NEAR(two_sided_p(r_for_t(t, dof), dof), p_by_quadrature(t, dof), 1e-9) << dof << " " << t;
}

TEST(TwoSidedP, PerfectUndefinedAndUntestableCases)
{
    EXPECT_EQ(two_sided_p(1.0, 10), 0.0);
    EXPECT_EQ(two_sided_p(-1.0, 0.5), 0.0);
    EXPECT_EQ(two_sided_p(0.0, 10), 1.0);
    EXPECT_TRUE(std::isnan(two_sided_p(nan_, 10)));
    for (double dof : {0.0, -0.5, -3.0, inf_, nan_}) EXPECT_TRUE(std::isnan(two_sided_p(0.3, dof))) << dof;
    EXPECT_TRUE(std::isnan(two_sided_p(1.5, 10)));
    // r within a rounding of 1 still gives a tiny p, not NaN or a negative.
    const double p = two_sided_p(std::nextafter(1.0, 0.0), 20);
    EXPECT_GE(p, 0.0);
    EXPECT_LT(p, 1e-30);
}

TEST(Lag1Neff, HandComputedCases)
{
    // a1 b1 = 0.3: 240 x 0.7 / 1.3.
    EXPECT_NEAR(lag1_neff(0.6, 0.5, 240), 129.23076923076923, 1e-12);
    // Opposite signs give more than N: 240 x 1.3 / 0.7.
    EXPECT_NEAR(lag1_neff(0.6, -0.5, 240), 445.71428571428571, 1e-11);
    EXPECT_EQ(lag1_neff(0.0, 0.9, 20), 20.0);
    EXPECT_TRUE(std::isnan(lag1_neff(nan_, 0.5, 240)));
    EXPECT_TRUE(std::isnan(lag1_neff(0.5, inf_, 240)));
}

TEST(PearsonR, HandWorkedCaseAndAffineCopies)
{
    const float x5[] = {1, 2, 3, 4, 5}, y5[] = {2, 4, 5, 4, 5};
    EXPECT_NEAR(pearson_r(x5, y5, 5), std::sqrt(0.6), 1e-15);

    // Steps of 1/8 and a power-of-two length: every copy below is exact in float.
    const int n = 64;
    std::vector<float> x(n), same(n), neg(n), scaled(n), affine(n);
    for (int t = 0; t < n; ++t) {
        x[t] = float((t * 37) % 101 - 50) / 8.0f;
        same[t] = x[t];
        neg[t] = -x[t];
        scaled[t] = 0.25f * x[t];
        affine[t] = 8.0f - 4.0f * x[t];
    }
    EXPECT_EQ(pearson_r(x.data(), same.data(), n), 1.0);
    EXPECT_EQ(pearson_r(x.data(), neg.data(), n), -1.0);
    EXPECT_EQ(pearson_r(x.data(), scaled.data(), n), 1.0);
    EXPECT_EQ(pearson_r(x.data(), affine.data(), n), -1.0);
}

TEST(PearsonR, LargeOffsetLosesNoDigits)
{
    // Temperature-like levels under small anomalies. The anomalies are taken back
    // out of the stored floats exactly, so both calls see the same deviations;
    // raw sums of squares, or float sums, would lose digits to the levels.
    const int n = 4096;
    std::vector<float> a(n), b(n), da(n), db(n);
    for (int t = 0; t < n; ++t) {
        a[t] = 280.0f + 0.37f * std::sin(0.05f * float(t));
        b[t] = 1000.0f + 0.21f * std::cos(0.031f * float(t)) + 0.1f * std::sin(0.05f * float(t));
        da[t] = float(double(a[t]) - 280.0);
        db[t] = float(double(b[t]) - 1000.0);
    }
    const double r = pearson_r(da.data(), db.data(), n);
    EXPECT_NEAR(r, 0.447009, 1e-6);
    EXPECT_NEAR(pearson_r(a.data(), b.data(), n), r, 1e-12);
}

TEST(PearsonR, UndefinedCases)
{
    const float x[] = {1, 2, 3, 4}, flat[] = {7, 7, 7, 7};
    EXPECT_TRUE(std::isnan(pearson_r(x, flat, 4)));
    EXPECT_TRUE(std::isnan(pearson_r(flat, x, 4)));
    EXPECT_TRUE(std::isnan(pearson_r(x, x, 1)));
    EXPECT_TRUE(std::isnan(pearson_r(x, x, 0)));
    const float with_nan[] = {1, std::nanf(""), 3, 4}, with_inf[] = {1, 2, INFINITY, 4};
    EXPECT_TRUE(std::isnan(pearson_r(x, with_nan, 4)));
    EXPECT_TRUE(std::isnan(pearson_r(with_inf, x, 4)));
    // Only the first n steps count.
    const float tail_nan[] = {1, 3, 2, std::nanf("")};
    EXPECT_FALSE(std::isnan(pearson_r(x, tail_nan, 3)));
}

// The points side by side give each point's r to the bit, whatever its values:
// gaps, infinities, the missing marker, huge, tiny and subnormal numbers,
// constants, exact copies, and series of 1 to 480 steps.
TEST(PearsonR, PointsSideBySideGiveThePlainValueToTheBit)
{
    const float missing = 8999999488.0f, tiny = 1e-42f, huge = 3e38f;
    std::mt19937 rng(5);
    std::normal_distribution<float> normal(0.0f, 1.0f);
    for (const int lanes : {4, 8, 16})
        for (const int n : {1, 2, 3, 17, 480})
            for (const int series_kind : {0, 1, 2}) {
                std::vector<float> y(static_cast<size_t>(n)), x(static_cast<size_t>(n * lanes));
                for (int t = 0; t < n; ++t)
                    y[size_t(t)] = series_kind == 1 ? 2.5f : series_kind == 2 && t == n / 2 ? NAN : normal(rng);
                for (int k = 0; k < lanes; ++k)
                    for (int t = 0; t < n; ++t) {
                        float v = normal(rng);
                        switch (k % 12) {
                        case 1: v = 280.0f + 0.01f * v; break;             // a large level
                        case 2: v = 7.0f; break;                            // constant
                        case 3: v = y[size_t(t)]; break;                    // the series itself
                        case 4: v = 8.0f - 4.0f * y[size_t(t)]; break;      // its negated copy
                        case 5: v = t == n - 1 ? NAN : v; break;
                        case 6: v = t == 0 ? INFINITY : v; break;
                        case 7: v = t == n / 3 ? -INFINITY : v; break;
                        case 8: v = t == 1 ? missing : v; break;
                        case 9: v = tiny * v; break;                        // subnormal
                        case 10: v = t % 2 ? huge : -huge; break;           // sums overflow float, not double
                        case 11: v = v * 1e-20f; break;
                        default: break;
                        }
                        x[size_t(t) * size_t(lanes) + size_t(k)] = v;
                    }
                for (const LanesBuild build : {LanesBuild::plain, LanesBuild::avx2, LanesBuild::avx512}) {
                if (!lanes_build_runs(build)) continue;
                std::vector<double> r(static_cast<size_t>(lanes));
                pearson_r_lanes(build, y.data(), x.data(), lanes, n, r.data());
                for (int k = 0; k < lanes; ++k) {
                    std::vector<float> column(static_cast<size_t>(n));
                    for (int t = 0; t < n; ++t) column[size_t(t)] = x[size_t(t) * size_t(lanes) + size_t(k)];
                    const double want = pearson_r(y.data(), column.data(), n);
                    const double got = r[size_t(k)];
                    EXPECT_TRUE((std::isnan(want) && std::isnan(got)) || std::memcmp(&want, &got, sizeof got) == 0)
                        << "build " << int(build) << ", " << lanes << " lanes, " << n << " steps, series "
                        << series_kind << ", lane " << k << ": " << got << " against " << want;
                }
                }
            }
}

TEST(FdrThreshold, StepUpOverTestedValuesOnly)
{
    // m = 8, q = 0.25: the lines are i/32. Ranks 1, 3 and 5 lie under theirs, 2 and 4
    // above; the largest, rank 5 (0.15), decides.
    std::vector<double> p = {0.22, 0.07, 0.9, 0.15, 0.01, 0.19, 0.13, 0.09};
    EXPECT_EQ(fdr_threshold(p.data(), int64_t(p.size()), 0.25), 0.15);
    // NaN entries are not tested: counted in m they would move the lines to i/40
    // and leave only 0.01.
    std::vector<double> with_nan = p;
    with_nan.insert(with_nan.begin() + 3, nan_);
    with_nan.push_back(nan_);
    EXPECT_EQ(fdr_threshold(with_nan.data(), int64_t(with_nan.size()), 0.25), 0.15);
    // A p equal to its line qualifies: m = 4, q = 0.5, lines 0.125, 0.25, ...
    const double on_line[] = {1.0, 0.25, 0.5, 0.125};
    EXPECT_EQ(fdr_threshold(on_line, 4, 0.5), 0.25);
    const double all[] = {0.001, 0.002, 0.003};
    EXPECT_EQ(fdr_threshold(all, 3, 0.1), 0.003);
}

TEST(FdrThreshold, NoneQualify)
{
    const double p[] = {0.5, 0.04, 0.7, 0.3};
    EXPECT_TRUE(std::isnan(fdr_threshold(p, 4, 0.1))); // 0.04 > 0.1/4
    EXPECT_EQ(fdr_threshold(p, 4, 0.2), 0.04);
    const double only_nan[] = {nan_, nan_};
    EXPECT_TRUE(std::isnan(fdr_threshold(only_nan, 2, 0.1)));
    EXPECT_TRUE(std::isnan(fdr_threshold(p, 0, 0.1)));
    EXPECT_TRUE(std::isnan(fdr_threshold(p, 4, 0.0)));
    EXPECT_TRUE(std::isnan(fdr_threshold(p, 4, nan_)));
}
