#include "significance_map.hpp"

#include <algorithm>
#include <cmath>

#include "significance.hpp"

void find_fdr_threshold(MapTest& map, double q)
{
    std::vector<double>& p = map.p;
    map.p_fdr = fdr_threshold_reordering(p.data(), int64_t(p.size()), q, map.fdr);
    p = std::vector<double>{};
}

void fdr_mask(const MapTest& map, const double* p, int32_t n, signed char* mask)
{
    for (int32_t i = 0; i < n; ++i)
        mask[i] = std::isnan(p[i]) ? MASK_FILL : static_cast<signed char>(p[i] <= map.p_fdr);
}
