#include "significance_map.hpp"

#include <algorithm>
#include <cmath>

#include "significance.hpp"

void find_fdr_threshold(MapTest& map, double q)
{
    std::vector<double>& p = map.p;
    p.erase(std::remove_if(p.begin(), p.end(), [](double v) { return std::isnan(v); }), p.end());
    std::sort(p.begin(), p.end());
    map.p_fdr = fdr_threshold_sorted(p.data(), int64_t(p.size()), q);
    map.fdr = std::upper_bound(p.begin(), p.end(), map.p_fdr) - p.begin();
    if (std::isnan(map.p_fdr)) map.fdr = 0;
    p = std::vector<double>{};
}

void fdr_mask(const MapTest& map, const double* p, int32_t n, signed char* mask)
{
    for (int32_t i = 0; i < n; ++i)
        mask[i] = std::isnan(p[i]) ? MASK_FILL : static_cast<signed char>(p[i] <= map.p_fdr);
}
