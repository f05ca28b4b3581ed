// The colour side of a map: the range a scale spans, where a value lies on it,
// its colour, and the round values the bar is ticked at.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "map_picture.hpp"
#include "series_file.hpp"

struct Rgb {
    unsigned char r, g, b;
};

inline constexpr Rgb MISSING_GREY = {160, 160, 160};

// Whether a cell has a value to colour (not the missing marker, not NaN).
inline bool has_value(float v) { return v != MISSING_VALUE && !std::isnan(v); }

struct ColourRange {
    double lo = 0, hi = 1; // p_log: p-values, 0 < lo
};

// |v| rounded up at its first significant digit: 0.67 → 0.7, 0.7 → 0.7,
// 0.043 → 0.05, 2.3 → 3. Values a float's rounding above a round value (0.6f is
// 0.600000024) stay at it.
double round_up_first_digit(double v);

// The default range of the scale over the finite, non-missing values (see
// MapPicture). A sequential range of one value is widened to show it mid-bar.
ColourRange default_range(const float* values, int64_t n, ColourScale scale);

// Symmetric about 0, the largest finite |value| rounded up to a tenth, at least
// ±0.1 (0.67 → ±0.7, 0.043 → ±0.1): the range of correlation maps, so that maps
// of r side by side share one scale. The tools pass it as a fixed range.
ColourRange tenths_range(const float* values, int64_t n);

// Position 0 … 1 (clamped) of v along the bar; p_log on log10 p, p ≤ 0 at 0.
double bar_position(double v, ColourRange range, ColourScale scale);

// The colour of a value: diverging colours grow with |v| / max(|lo|, |hi|), so
// that -v and +v are equally strong whatever the range.
Rgb value_colour(double v, ColourRange range, ColourScale scale);

struct BarTick {
    double value;
    double position; // 0 … 1 along the bar
    std::string label;
};

// 5 to 9 ticks at round values inside the range (fewer only when no round step
// gives that many): steps of 1, 2 or 5 × 10^k, 2.5 × 10^k where those fail;
// p_log at decades, with 3 × or 2 × and 5 × in between when the range spans
// fewer than five. Labels use a minus sign, and p below 1e-4 as 10⁻ⁿ.
std::vector<BarTick> bar_ticks(ColourRange range, ColourScale scale);
