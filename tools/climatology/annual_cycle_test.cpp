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

__attribute__((target_clones("avx512f", "avx2", "default"))) CycleCount count_annual_cycles(const AnnualCycleTest& test, const float* values, int32_t points)
{
    CycleCount c;
    if (!test.usable || points <= 0) return c;
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
    const double n = test.steps, groups = test.groups;
    for (size_t i = 0; i < np; ++i) {
        if (bad[i]) continue;
        ++c.tested;
        double total = 0, between = 0;
        for (size_t j = 0; j < k; ++j) {
            const double s = group_sum[j * np + i];
            total += s;
            between += s * s / test.group_size[j];
        }
        const double within = std::fmax(0.0, squares[i] - between);
        between -= total * total / n;
        // F > critical without dividing: a cycle with nothing left around it
        // (within = 0) is a cycle, a constant point (both 0) is none.
        if (between * (n - groups) > test.f_critical * (groups - 1) * within) ++c.with_cycle;
    }
    return c;
}
