#include <algorithm>
#include <cmath>
#include <vector>

#include "significance.hpp"

double fdr_threshold(const double* p, int64_t count, double q)
{
    std::vector<double> tested;
    tested.reserve(count > 0 ? size_t(count) : 0);
    for (int64_t i = 0; i < count; ++i)
        if (!std::isnan(p[i])) tested.push_back(p[i]);
    std::sort(tested.begin(), tested.end());
    return fdr_threshold_sorted(tested.data(), int64_t(tested.size()), q);
}

double fdr_threshold_sorted(const double* sorted, int64_t count, double q)
{
    if (count <= 0 || !(q > 0.0)) return std::nan("");
    const double m = double(count);
    // The step-up rule: the largest rank whose p is under its line decides, even
    // when smaller ranks lie above theirs.
    for (int64_t i = count; i >= 1; --i)
        if (sorted[i - 1] <= double(i) * q / m) return sorted[i - 1];
    return std::nan("");
}
