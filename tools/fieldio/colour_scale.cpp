#include "colour_scale.hpp"

#include <cmath>

namespace {

constexpr Rgb SEQUENTIAL[] = {{40, 20, 110}, {35, 85, 175}, {25, 145, 160}, {75, 190, 95}, {200, 215, 45}, {250, 245, 150}};

// The cold half of the diverging scale, from 0 outwards; the warm half is the same
// with red and blue swapped, so that +v and -v are equally strong.
constexpr Rgb COLD[] = {{247, 247, 247}, {180, 200, 240}, {90, 120, 215}, {45, 35, 160}};

template <int N>
Rgb interpolate(const Rgb (&anchors)[N], double x)
{
    if (!(x > 0)) x = 0;
    if (x > 1) x = 1;
    const double pos = x * (N - 1);
    int i = int(pos);
    if (i >= N - 1) i = N - 2;
    const double f = pos - i;
    const Rgb a = anchors[i], b = anchors[i + 1];
    auto mix = [f](unsigned char u, unsigned char v) { return (unsigned char)std::lround(u + (v - u) * f); };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

} // namespace

Rgb ramp_colour(double x) { return interpolate(SEQUENTIAL, x); }

Rgb diverging_colour(double s)
{
    if (std::isnan(s)) s = 0;
    const Rgb c = interpolate(COLD, std::fabs(s));
    return s > 0 ? Rgb{c.b, c.g, c.r} : c;
}

Rgb bar_colour(ColourScale scale, double x)
{
    return scale == ColourScale::diverging ? diverging_colour(2 * x - 1) : ramp_colour(x);
}
