#include "annual_cycle_test.hpp"

#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>

#include "series_file.hpp"

AnnualCycleTest plan_annual_cycle_test(const std::vector<StepDate>& dates, StepKind kind)
{
    AnnualCycleTest test;
    if (kind != StepKind::monthly && kind != StepKind::daily) return test;
    int index[12], count[12] = {};
    for (const StepDate& d : dates) ++count[d.date.month - 1];
    for (int m = 0; m < 12; ++m) index[m] = count[m] ? test.groups++ : -1;
    const int64_t n = int64_t(dates.size());
    if (test.groups < 2 || n <= test.groups) return test;
    test.usable = true;
    test.steps = int32_t(n);
    test.group_size.assign(size_t(test.groups), 0.0);
    for (const StepDate& d : dates) {
        test.group.push_back(index[d.date.month - 1]);
        test.group_size[size_t(index[d.date.month - 1])] += 1;
    }
    const boost::math::fisher_f dist(double(test.groups - 1), double(n - test.groups));
    test.f_critical = boost::math::quantile(boost::math::complement(dist, ANNUAL_CYCLE_P));
    return test;
}

namespace {

// Whether a point's calendar-month means differ: F > critical without dividing.
// A cycle with nothing left around it (within = 0) is a cycle, a constant point
// (both 0) is none.
bool has_cycle(const AnnualCycleTest& test, const double* sums, size_t stride, double squares)
{
    const double n = test.steps, groups = test.groups;
    double total = 0, between = 0;
    for (size_t j = 0; j < size_t(test.groups); ++j) {
        const double s = sums[j * stride];
        total += s;
        between += s * s / test.group_size[j];
    }
    const double within = std::fmax(0.0, squares - between);
    between -= total * total / n;
    return between * (n - groups) > test.f_critical * (groups - 1) * within;
}

// The sums of one block of L points side by side (values[t * L + i]), the
// width known: each point's sums in step order as for any width.
template <int L>
[[gnu::always_inline]] inline CycleCount count_block(const AnnualCycleTest& test, const float* values)
{
    double g[12][L] = {}, q[L] = {};
    int bad[L] = {};
    const float* first = values;
    for (int32_t t = 0; t < test.steps; ++t) {
        const float* row = values + size_t(t) * L;
        double* gt = g[test.group[size_t(t)]];
        for (int i = 0; i < L; ++i) {
            bad[i] |= row[i] == MISSING_VALUE || !std::isfinite(row[i]);
            const double z = double(row[i]) - double(first[i]);
            gt[i] += z;
            q[i] += z * z;
        }
    }
    CycleCount c;
    for (int i = 0; i < L; ++i) {
        if (bad[i]) continue;
        ++c.tested;
        c.with_cycle += has_cycle(test, &g[0][i], L, q[i]);
    }
    return c;
}

} // namespace

__attribute__((target_clones("avx512f", "avx2", "default"))) CycleCount count_annual_cycles(const AnnualCycleTest& test, const float* values, int32_t points)
{
    CycleCount c;
    if (!test.usable || points <= 0) return c;
    // At most twelve calendar months: the sums of a block of the kernels' widths
    // stay on the stack.
    switch (points) {
    case 16: return count_block<16>(test, values);
    case 8: return count_block<8>(test, values);
    case 4: return count_block<4>(test, values);
    default: break;
    }
    const size_t np = size_t(points), k = size_t(test.groups);
    // Sums of each point's values less its first value, which keeps the sum of
    // squares from cancelling for data far from zero (temperatures in kelvin).
    std::vector<double> group_sum(k * np, 0.0), squares(np, 0.0);
    std::vector<unsigned char> bad(np, 0);
    const float* first = values;
    for (int32_t t = 0; t < test.steps; ++t) {
        const float* __restrict row = values + size_t(t) * np;
        double* __restrict g = group_sum.data() + size_t(test.group[size_t(t)]) * np;
        double* __restrict q = squares.data();
        unsigned char* __restrict b = bad.data();
        for (size_t i = 0; i < np; ++i) {
            b[i] |= row[i] == MISSING_VALUE || !std::isfinite(row[i]);
            const double z = double(row[i]) - double(first[i]);
            g[i] += z;
            q[i] += z * z;
        }
    }
    for (size_t i = 0; i < np; ++i) {
        if (bad[i]) continue;
        ++c.tested;
        c.with_cycle += has_cycle(test, &group_sum[i], np, squares[i]);
    }
    return c;
}
