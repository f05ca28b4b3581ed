#include "axis_ticks.hpp"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>

#include "text_font.hpp"

namespace {

// Pixels kept clear between neighbouring labels: more between labels stacked on
// a vertical edge, where a tight column of them reads as a table.
constexpr int LABEL_GAP = 12;
constexpr int STACKED_LABEL_GAP = 40;

// Steps that read as round degrees; plain axes take 1, 2, 5 × 10^k.
constexpr double DEGREE_STEPS[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 45, 60, 90};

// The change from one coordinate to the next; a longitude that wraps (350 to 0)
// moves by the short way round.
double coordinate_step(const double* c, int32_t i, AxisKind kind)
{
    double d = c[i + 1] - c[i];
    if (kind == AxisKind::longitude) {
        if (d > 180) d -= 360;
        if (d < -180) d += 360;
    }
    return d;
}

// Ticks at every multiple of step inside the coordinate's range, placed by linear
// interpolation between the neighbouring cells.
AxisTicks ticks_at_step(const double* c, int32_t n, AxisKind kind, double first, double last, double step)
{
    AxisTicks t;
    const double lo = first < last ? first : last, hi = first < last ? last : first;
    const double k0 = std::ceil(lo / step - 1e-9), k1 = std::floor(hi / step + 1e-9);
    if (!(k1 - k0 + 1 <= MAX_TICKS)) {
        t.count = -1; // too many: the caller tries a larger step
        return t;
    }
    // Counted in whole steps from k0: far from 0, k0 + 1 may round back to k0.
    double wanted[MAX_TICKS];
    const int wanted_count = k1 < k0 ? 0 : int(k1 - k0) + 1;
    for (int w = 0; w < wanted_count; ++w) {
        const double v = (k0 + w) * step;
        wanted[w] = std::fabs(v) < step * 1e-9 ? 0.0 : v;
    }
    bool placed[MAX_TICKS] = {};
    double a = first;
    for (int32_t i = 0; i + 1 < n; ++i) {
        const double b = a + coordinate_step(c, i, kind);
        for (int w = 0; w < wanted_count; ++w) {
            const double v = wanted[w];
            const double tol = std::fabs(b - a) * 1e-9;
            if (placed[w] || v < (a < b ? a : b) - tol || v > (a < b ? b : a) + tol) continue;
            placed[w] = true;
            t.cell[t.count] = i + (v - a) / (b - a);
            tick_text(v, kind, t.text[t.count]);
            ++t.count;
        }
        a = b;
    }
    return t;
}

// Whether labels at these ticks keep LABEL_GAP pixels apart.
bool labels_fit(const AxisTicks& t, int cell_px, bool horizontal, int scale)
{
    for (int i = 0; i + 1 < t.count; ++i) {
        const double apart = std::fabs(t.cell[i + 1] - t.cell[i]) * cell_px;
        double needed = GLYPH_HEIGHT * scale + STACKED_LABEL_GAP;
        if (horizontal) {
            const int wider = std::max(glyph_count(t.text[i]), glyph_count(t.text[i + 1]));
            needed = wider * GLYPH_ADVANCE * scale + LABEL_GAP;
        }
        if (apart < needed) return false;
    }
    return true;
}

} // namespace

void tick_text(double v, AxisKind kind, char (&text)[TICK_TEXT])
{
    if (kind == AxisKind::longitude) {
        v = std::fmod(v, 360.0);
        if (v > 180) v -= 360;
        if (v <= -180) v += 360;
    }
    const char* suffix = "";
    if (kind == AxisKind::latitude && v != 0) suffix = v > 0 ? "N" : "S";
    if (kind == AxisKind::longitude && v != 0 && v != 180) suffix = v > 0 ? "E" : "W";
    if (kind != AxisKind::plain) v = std::fabs(v);
    std::snprintf(text, TICK_TEXT, "%.6g%s", v, suffix);
}

AxisTicks choose_ticks(const double* c, int32_t n, AxisKind kind, int cell_px, bool horizontal, int scale)
{
    if (!c || n < 2) return {};
    double last = c[0];
    int direction = 0;
    for (int32_t i = 0; i < n; ++i)
        if (!std::isfinite(c[i])) return {};
    for (int32_t i = 0; i + 1 < n; ++i) {
        const double d = coordinate_step(c, i, kind);
        const int dir = d > 0 ? 1 : d < 0 ? -1 : 0;
        if (dir == 0 || (direction != 0 && dir != direction)) return {};
        direction = dir;
        last += d;
    }
    const double span = std::fabs(last - c[0]);
    if (!std::isfinite(span)) return {};

    // Round steps from small to large; the first whose labels fit wins.
    double steps[40];
    int step_count = 0;
    if (kind != AxisKind::plain)
        for (double s : DEGREE_STEPS) steps[step_count++] = s;
    if (step_count == 0 || span < DEGREE_STEPS[0] || span > 90 * MAX_TICKS) {
        step_count = 0;
        double unit = std::pow(10.0, std::floor(std::log10(span / MAX_TICKS)));
        for (int i = 0; i < 12 && step_count + 3 <= 40; ++i, unit *= 10)
            for (double m : {1.0, 2.0, 5.0}) steps[step_count++] = m * unit;
    }
    for (int i = 0; i < step_count; ++i) {
        const AxisTicks t = ticks_at_step(c, n, kind, c[0], last, steps[i]);
        if (t.count >= 0 && labels_fit(t, cell_px, horizontal, scale)) return t;
    }
    return {};
}
