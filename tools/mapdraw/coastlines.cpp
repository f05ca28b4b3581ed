#include "coastlines.hpp"

#include <algorithm>
#include <cmath>

// c is GSHHG's 25 km generalisation, l 5 km, i 1 km: a resolution is chosen
// once a picture unit covers a few times its detail, finer ones only add points
// that land on the same pixel.
char coast_resolution(double degrees_per_unit)
{
    if (degrees_per_unit >= 0.25) return 'c';
    if (degrees_per_unit >= 0.05) return 'l';
    return 'i';
}

std::string gshhg_file(const std::string& directory, char resolution)
{
    return directory + "/binned_GSHHS_" + resolution + ".nc";
}

CoastLines coast_in_box(const CoastData& coast, double lon_lo, double lon_hi, double lat_lo, double lat_hi)
{
    CoastLines out;
    out.starts.push_back(0);
    for (const CoastSegment& s : coast.segments) {
        if (s.level != LEVEL_LAND_SEA || s.point_count < 2) continue;
        const CoastPoint* p = coast.points.data() + s.first_point;
        double x0 = p[0].lon, x1 = x0, y0 = p[0].lat, y1 = y0;
        for (int64_t i = 1; i < s.point_count; ++i) {
            x0 = std::min(x0, p[i].lon), x1 = std::max(x1, p[i].lon);
            y0 = std::min(y0, p[i].lat), y1 = std::max(y1, p[i].lat);
        }
        if (y1 < lat_lo || y0 > lat_hi) continue;
        const double k0 = std::ceil((lon_lo - x1) / 360), k1 = std::floor((lon_hi - x0) / 360);
        for (double k = k0; k <= k1; ++k) {
            for (int64_t i = 0; i < s.point_count; ++i) out.points.push_back({p[i].lon + 360 * k, p[i].lat});
            out.starts.push_back(out.points.size());
        }
    }
    return out;
}
