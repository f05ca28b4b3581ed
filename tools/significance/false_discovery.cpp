#include <algorithm>
#include <cmath>
#include <vector>

#include "significance.hpp"

double fdr_threshold(const double* p, int64_t count, double q)
{
    std::vector<double> copy(p, p + std::max<int64_t>(count, 0));
    int64_t passed = 0;
    return fdr_threshold_reordering(copy.data(), count, q, passed);
}

double fdr_threshold_reordering(double* p, int64_t count, double q, int64_t& passed)
{
    passed = 0;
    const int64_t m = std::count_if(p, p + std::max<int64_t>(count, 0), [](double v) { return !std::isnan(v); });
    if (m <= 0 || !(q > 0.0)) return std::nan("");
    // The i-th smallest p passes only under its line i q / m, which never lies
    // above q: the p above q cannot decide, and only the rest is sorted.
    double* const low = std::partition(p, p + count, [q](double v) { return v <= q; });
    std::sort(p, low);
    const double lines = double(m);
    // The step-up rule: the largest rank whose p is under its line decides, even
    // when smaller ranks lie above theirs.
    for (int64_t i = low - p; i >= 1; --i)
        if (p[i - 1] <= double(i) * q / lines) {
            // An equal p ranked above would pass its own, higher line, so none is.
            passed = i;
            return p[i - 1];
        }
    return std::nan("");
}
