#include "map_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::vector<double> numbered_edges(int32_t n)
{
    std::vector<double> e(size_t(n) + 1);
    for (int32_t i = 0; i <= n; ++i) e[i] = i + 0.5;
    return e;
}

// The reason centres cannot be used, or "" with the unwrapped values in u.
std::string usable(const double* c, int32_t n, AxisKind kind, std::vector<double>& u)
{
    u.assign(c, c + n);
    for (int32_t i = 0; i < n; ++i)
        if (!std::isfinite(c[i])) return "a coordinate is not a finite number";
    if (kind == AxisKind::latitude)
        for (int32_t i = 0; i < n; ++i)
            if (std::fabs(c[i]) > 90) return "a latitude lies beyond 90 degrees";
    if (kind == AxisKind::longitude)
        for (int32_t i = 1; i < n; ++i) {
            double d = std::remainder(c[i] - c[i - 1], 360.0);
            if (d == -180) d = 180;
            u[i] = u[i - 1] + d;
        }
    for (int32_t i = 1; i < n; ++i)
        if (!((u[i] - u[i - 1]) * (u[1] - u[0]) > 0)) return "the coordinates do not rise or fall steadily";
    if (kind == AxisKind::longitude && n > 1) {
        const double step = std::fabs(u[n - 1] - u[0]) / (n - 1);
        if (std::fabs(u[n - 1] - u[0]) + step > 360 * (1 + 1e-9)) return "the longitudes go round more than once";
    }
    return "";
}

} // namespace

AxisGeometry axis_geometry(const double* centres, int32_t n, AxisKind kind)
{
    AxisGeometry g;
    if (!centres || n < 1) {
        g.edges = numbered_edges(n);
        return g;
    }
    std::vector<double> u;
    const std::string why = usable(centres, n, kind, u);
    if (!why.empty()) {
        g.note = why;
        g.edges = numbered_edges(n);
        return g;
    }
    g.kind = kind;
    g.edges.resize(size_t(n) + 1);
    if (n == 1) {
        // A lone cell has no neighbour to size it by: a degree, or a unit.
        g.edges[0] = u[0] - 0.5;
        g.edges[1] = u[0] + 0.5;
    } else {
        for (int32_t i = 1; i < n; ++i) g.edges[i] = 0.5 * (u[i - 1] + u[i]);
        g.edges[0] = u[0] - 0.5 * (u[1] - u[0]);
        g.edges[n] = u[n - 1] + 0.5 * (u[n - 1] - u[n - 2]);
    }
    if (kind == AxisKind::latitude)
        for (double& e : g.edges) e = std::clamp(e, -90.0, 90.0);
    if (kind == AxisKind::longitude && std::fabs(g.edges[n] - g.edges[0]) > 360) {
        // A global grid's outer half-cells would overlap: share the seam.
        const double excess = 0.5 * (std::fabs(g.edges[n] - g.edges[0]) - 360);
        const double sign = g.edges[n] > g.edges[0] ? 1 : -1;
        g.edges[0] += sign * excess;
        g.edges[n] -= sign * excess;
    }
    return g;
}

double to_picture(const AxisMap& m, double world) { return m.start + (world - m.from) / (m.to - m.from) * m.length; }

AxisMap horizontal_map(const AxisGeometry& g, double start, double length)
{
    const double a = g.edges.front(), b = g.edges.back();
    if (g.kind != AxisKind::plain) return {std::min(a, b), std::max(a, b), start, length};
    return {a, b, start, length};
}

AxisMap vertical_map(const AxisGeometry& g, bool row0_on_top, double start, double length)
{
    const double a = g.edges.front(), b = g.edges.back();
    if (g.kind != AxisKind::plain) return {std::max(a, b), std::min(a, b), start, length};
    return row0_on_top ? AxisMap{a, b, start, length} : AxisMap{b, a, start, length};
}

std::vector<int32_t> cell_of_pixels(const AxisGeometry& g, const AxisMap& m, int32_t pixels)
{
    const int32_t n = int32_t(g.edges.size()) - 1;
    const bool rising = g.edges.back() > g.edges.front();
    std::vector<int32_t> cell(static_cast<size_t>(pixels));
    for (int32_t p = 0; p < pixels; ++p) {
        const double w = m.from + (p + 0.5) / pixels * (m.to - m.from);
        // The first edge beyond w, counted in the direction the edges run.
        const auto it = rising ? std::upper_bound(g.edges.begin(), g.edges.end(), w)
                               : std::upper_bound(g.edges.begin(), g.edges.end(), w, std::greater<double>());
        cell[p] = std::clamp(int32_t(it - g.edges.begin()) - 1, 0, n - 1);
    }
    return cell;
}

std::string coordinate_text(double v, AxisKind kind, double step)
{
    const int decimals = step >= 1 ? 0 : step >= 0.1 - 1e-12 ? (std::fabs(step * 10 - std::round(step * 10)) < 1e-9 ? 1 : 2) : 3;
    if (kind == AxisKind::longitude) {
        v = std::remainder(v, 360.0);
        if (std::fabs(std::fabs(v) - 180) < 1e-9) v = 180;
    }
    if (std::fabs(v) < 1e-9) v = 0;
    const char* suffix = "";
    if (kind == AxisKind::latitude && v != 0) suffix = v > 0 ? "N" : "S";
    if (kind == AxisKind::longitude && v != 0 && v != 180) suffix = v > 0 ? "E" : "W";
    char text[64];
    if (kind == AxisKind::plain) {
        std::snprintf(text, sizeof text, "%s%.*f", v < 0 ? "\u2212" : "", decimals, std::fabs(v));
        if (std::fabs(v) >= 1e6 || (std::fabs(v) > 0 && std::fabs(v) < 1e-3)) std::snprintf(text, sizeof text, "%.3g", v);
    } else {
        std::snprintf(text, sizeof text, "%.*f\u00b0%s", decimals, std::fabs(v), suffix);
    }
    return text;
}

std::vector<AxisTick> axis_ticks(const AxisGeometry& g, const AxisMap& m, TickRoom room)
{
    const double lo = std::min(m.from, m.to), hi = std::max(m.from, m.to);
    const double span = hi - lo;
    if (!(span > 0)) return {};
    std::vector<double> steps;
    if (g.kind != AxisKind::plain) {
        for (double s : {0.1, 0.2, 0.25, 0.5, 1.0, 2.0, 2.5, 5.0, 10.0, 15.0, 20.0, 30.0, 45.0, 60.0, 90.0}) steps.push_back(s);
    } else {
        const double unit = std::pow(10.0, std::floor(std::log10(span)) - 3);
        for (int k = 0; k < 6; ++k)
            for (double f : {1.0, 2.0, 5.0}) steps.push_back(f * unit * std::pow(10.0, k));
    }
    const double scale = std::fabs(m.length / (m.to - m.from)); // picture units per world unit
    for (double step : steps) {
        if (g.kind == AxisKind::plain && g.edges.front() == 0.5 && step < 1) continue; // cell numbers are whole
        const double k0 = std::ceil(lo / step - 1e-9), k1 = std::floor(hi / step + 1e-9);
        // Plain axes (often long runs of cell numbers) get at most 11 labels.
        if (k1 - k0 > (g.kind == AxisKind::plain ? 10 : 24)) continue;
        std::vector<AxisTick> ticks;
        for (double k = k0; k <= k1; ++k) ticks.push_back({k * step, coordinate_text(k * step, g.kind, step)});
        bool fits = true;
        for (size_t i = 0; i + 1 < ticks.size() && fits; ++i) {
            auto chars = [](const std::string& s) {
                return double(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
            };
            const double half = 0.5 * (room.per_char * (chars(ticks[i].label) + chars(ticks[i + 1].label))) + room.fixed;
            fits = step * scale >= half + room.gap;
        }
        if (fits) return ticks;
    }
    return {};
}
