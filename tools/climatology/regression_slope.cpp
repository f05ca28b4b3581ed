#include "regression_slope.hpp"

#include <cmath>

double regression_slope(const float* series, const float* point, int32_t n)
{
    if (n < 2) return std::nan("");
    double sx = 0, sy = 0;
    for (int32_t t = 0; t < n; ++t) {
        if (!std::isfinite(series[t]) || !std::isfinite(point[t])) return std::nan("");
        sx += double(series[t]);
        sy += double(point[t]);
    }
    const double mx = sx / n, my = sy / n;
    double sxx = 0, sxy = 0;
    for (int32_t t = 0; t < n; ++t) {
        const double dx = double(series[t]) - mx;
        sxx += dx * dx;
        sxy += dx * (double(point[t]) - my);
    }
    return sxx == 0 ? std::nan("") : sxy / sxx;
}
