#include "colour_bar.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "run_error.hpp"
#include "series_file.hpp"

namespace {

// Dark blue through teal and green to pale yellow, brightening steadily so that
// order reads without the bar.
constexpr Rgb SEQUENTIAL[] = {{40, 20, 110}, {35, 85, 175}, {25, 145, 160}, {75, 190, 95}, {200, 215, 45}, {250, 245, 150}};
// The cold half of the diverging scale from 0 outwards; the warm half swaps red and blue.
constexpr Rgb COLD[] = {{247, 247, 247}, {180, 200, 240}, {90, 120, 215}, {45, 35, 160}};
// p from the smallest (strongest evidence) to 1.
constexpr Rgb P_SCALE[] = {{100, 0, 20}, {190, 25, 35}, {240, 100, 60}, {252, 180, 130}, {254, 235, 215}};

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

// Tolerance in units of the rounding step: floats carry about 7 digits.
constexpr double ROUNDING_SLACK = 1e-5;

std::string number_text(double v, int decimals)
{
    if (std::fabs(v) < 1e-12) return "0";
    char text[64];
    if (std::fabs(v) >= 1e6) std::snprintf(text, sizeof text, "%.3g", std::fabs(v));
    else std::snprintf(text, sizeof text, "%.*f", decimals, std::fabs(v));
    return (v < 0 ? "\u2212" : "") + std::string(text);
}

const char* const SUPERSCRIPT[] = {"\u2070", "\u00b9", "\u00b2", "\u00b3", "\u2074",
                                   "\u2075", "\u2076", "\u2077", "\u2078", "\u2079"};

// p as written on the bar: 0.0001, 0.003, 1; below 1e-4 as 10⁻⁵ or 3×10⁻⁵.
std::string p_text(int mantissa, int exponent)
{
    if (exponent >= -4) {
        char text[32];
        std::snprintf(text, sizeof text, "%.*f", exponent < 0 ? -exponent : 0, mantissa * std::pow(10.0, exponent));
        return text;
    }
    std::string s = mantissa == 1 ? "" : std::to_string(mantissa) + "\u00d7";
    s += "10\u207b";
    const std::string digits = std::to_string(-exponent);
    for (char d : digits) s += SUPERSCRIPT[d - '0'];
    return s;
}

std::vector<BarTick> linear_ticks(ColourRange range, ColourScale scale)
{
    const double span = range.hi - range.lo;
    const double base = std::pow(10.0, std::floor(std::log10(span)) - 2);
    struct Choice {
        double step = 0;
        int count = 0, score = 1 << 30;
    } best;
    // Steps from span/1000 up; a step is scored by how far its count lies
    // outside 5 … 9, then by 2.5 × 10^k, then by distance from 7 ticks.
    for (int k = 0; k < 5; ++k)
        for (double m : {1.0, 2.0, 2.5, 5.0}) {
            const double step = m * base * std::pow(10.0, k);
            const double first = std::ceil(range.lo / step - ROUNDING_SLACK);
            const double last = std::floor(range.hi / step + ROUNDING_SLACK);
            const int count = int(last - first) + 1;
            const int outside = count < 5 ? 5 - count : count > 9 ? count - 9 : 0;
            const int score = outside * 100 + (m == 2.5 ? 10 : 0) + std::abs(count - 7);
            if (score < best.score) best = {step, count, score};
        }
    const int decimals = std::max(0, int(-std::floor(std::log10(best.step) + ROUNDING_SLACK)) +
                                         (std::fabs(best.step / std::pow(10.0, std::floor(std::log10(best.step))) - 2.5) < 1e-9));
    std::vector<BarTick> ticks;
    const double first = std::ceil(range.lo / best.step - ROUNDING_SLACK);
    for (int i = 0; i < best.count; ++i) {
        const double v = (first + i) * best.step;
        ticks.push_back({v, bar_position(v, range, scale), number_text(v, decimals)});
    }
    return ticks;
}

std::vector<BarTick> log_ticks(ColourRange range)
{
    const double l0 = std::log10(range.lo), l1 = std::log10(range.hi);
    const int e0 = int(std::ceil(l0 - ROUNDING_SLACK)), e1 = int(std::floor(l1 + ROUNDING_SLACK));
    // Mantissas within each decade, tried from the sparsest; decades are thinned
    // to every second or third when there are too many.
    const std::vector<int> sets[] = {{1}, {1, 3}, {1, 2, 5}};
    std::vector<BarTick> best;
    for (int every = 3; every >= 1; --every)
        for (const std::vector<int>& set : sets) {
            if (every > 1 && set.size() > 1) continue;
            std::vector<BarTick> ticks;
            for (int e = e0 - 1; e <= e1; ++e) {
                if (every > 1 && (e % every) != 0) continue;
                for (int m : set) {
                    const double v = m * std::pow(10.0, e);
                    const double lv = std::log10(v);
                    if (lv < l0 - ROUNDING_SLACK || lv > l1 + ROUNDING_SLACK) continue;
                    ticks.push_back({v, (lv - l0) / (l1 - l0), p_text(m, e)});
                }
            }
            const int n = int(ticks.size());
            const int best_n = int(best.size());
            const auto outside = [](int c) { return c < 5 ? 5 - c : c > 9 ? c - 9 : 0; };
            if (best.empty() || outside(n) < outside(best_n)) best = ticks;
            if (outside(n) == 0) return ticks;
        }
    return best;
}

} // namespace

double round_up_first_digit(double v)
{
    v = std::fabs(v);
    if (!(v > 0) || !std::isfinite(v)) return v;
    const double unit = std::pow(10.0, std::floor(std::log10(v)));
    return std::ceil(v / unit - ROUNDING_SLACK) * unit;
}

ColourRange default_range(const float* values, int64_t n, ColourScale scale)
{
    if (scale == ColourScale::p_log) return {1e-4, 1};
    bool any = false;
    double lo = 0, hi = 0, largest = 0;
    for (int64_t i = 0; i < n; ++i) {
        const float v = values[i];
        if (v == MISSING_VALUE || !std::isfinite(v)) continue;
        if (!any || v < lo) lo = v;
        if (!any || v > hi) hi = v;
        largest = std::max(largest, std::fabs(double(v)));
        any = true;
    }
    if (scale == ColourScale::diverging) {
        const double m = round_up_first_digit(largest);
        return m > 0 ? ColourRange{-m, m} : ColourRange{-1, 1};
    }
    if (!any) return {0, 1};
    if (lo == hi) {
        const double d = lo != 0 ? std::fabs(lo) * 0.1 : 1;
        return {lo - d, hi + d};
    }
    return {lo, hi};
}

ColourRange tenths_range(const float* values, int64_t n)
{
    double largest = 0;
    for (int64_t i = 0; i < n; ++i)
        if (values[i] != MISSING_VALUE && std::isfinite(values[i])) largest = std::max(largest, std::fabs(double(values[i])));
    // A float a rounding above a tenth (0.6f is 0.600000024) stays at it.
    const double m = std::max(1.0, std::ceil(largest * 10 * (1 - ROUNDING_SLACK))) / 10;
    return {-m, m};
}

void check_colour_range(ColourScale scale, double lo, double hi)
{
    if (!std::isfinite(lo) || !std::isfinite(hi)) fail("--range", "both ends must be finite numbers");
    if (!(lo < hi)) fail("--range", "the low end must be below the high end");
    if (scale == ColourScale::p_log && !(lo > 0)) fail("--range", "p is drawn on a log scale, so its low end must be above 0");
}

double bar_position(double v, ColourRange range, ColourScale scale)
{
    double x;
    if (scale == ColourScale::p_log)
        x = v > 0 ? (std::log10(v) - std::log10(range.lo)) / (std::log10(range.hi) - std::log10(range.lo)) : 0;
    else x = (v - range.lo) / (range.hi - range.lo);
    if (std::isnan(x)) return 0.5;
    return x < 0 ? 0 : x > 1 ? 1 : x;
}

Rgb value_colour(double v, ColourRange range, ColourScale scale)
{
    if (scale == ColourScale::sequential) return interpolate(SEQUENTIAL, bar_position(v, range, scale));
    if (scale == ColourScale::p_log) return interpolate(P_SCALE, bar_position(v, range, scale));
    const double m = std::max(std::fabs(range.lo), std::fabs(range.hi));
    const double clamped = v < range.lo ? range.lo : v > range.hi ? range.hi : v;
    const double s = clamped / m;
    const Rgb c = interpolate(COLD, std::fabs(s));
    return s > 0 ? Rgb{c.b, c.g, c.r} : c;
}

std::vector<BarTick> bar_ticks(ColourRange range, ColourScale scale)
{
    if (scale == ColourScale::p_log) {
        std::vector<BarTick> t = log_ticks(range);
        if (t.size() >= 3) return t;
    }
    return linear_ticks(range, scale);
}

std::string with_units(const std::string& name, const std::string& units)
{
    return units.empty() || units == "1" ? name : name + " (" + units + ")";
}
