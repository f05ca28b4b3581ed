// A 5 × 7 bitmap font for the characters of a formatted number: 0-9 . - + e.
#pragma once

inline constexpr int GLYPH_WIDTH = 5;
inline constexpr int GLYPH_HEIGHT = 7;
inline constexpr int GLYPH_ADVANCE = 6; // width plus one blank column

// Row r (0 = top) of the glyph for c as 5 bits, the leftmost column in bit 4.
// Characters without a glyph are blank.
unsigned glyph_row(char c, int r);
