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
    if (tested.empty() || !(q > 0.0)) return std::nan("");
    std::sort(tested.begin(), tested.end());
    const double m = double(tested.size());
    // The step-up rule: the largest rank whose p is under its line decides, even
    // when smaller ranks lie above theirs.
    for (size_t i = tested.size(); i >= 1; --i)
        if (tested[i - 1] <= double(i) * q / m) return tested[i - 1];
    return std::nan("");
}
