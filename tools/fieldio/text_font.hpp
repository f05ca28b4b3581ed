// A 5 × 7 bitmap font for titles, tick labels and numbers: printable ASCII and the
// degree sign.
#pragma once

inline constexpr int GLYPH_WIDTH = 5;
inline constexpr int GLYPH_HEIGHT = 7;
inline constexpr int GLYPH_ADVANCE = 6; // width plus one blank column

// The degree sign's code in this font (Latin-1); text_glyph turns UTF-8 "°" into it.
inline constexpr char DEGREE_SIGN = '\xB0';

// Row r (0 = top) of the glyph for c as 5 bits, the leftmost column in bit 4.
// A character without a glyph is drawn as a hollow box, so that it shows.
unsigned glyph_row(char c, int r);

// The next character of UTF-8 text s as a glyph code, advancing s past it: ASCII
// as is, "°" as DEGREE_SIGN, any other character as one code that has no glyph.
char next_glyph(const char*& s);

// Characters of s as next_glyph counts them.
int glyph_count(const char* s);
