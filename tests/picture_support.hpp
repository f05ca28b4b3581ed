// Looking at the tools' pictures from outside: a PNG decoded by cairo, the map
// and the colour bar found by where the picture is densely coloured, and a
// colour found along the bar. Nothing here asks the drawing code where it put
// anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Pixels {
    int width = 0, height = 0; // 0 × 0: not a PNG
    std::vector<uint32_t> rgb;  // 0xRRGGBB, row by row
    uint32_t at(int x, int y) const { return rgb[size_t(y) * size_t(width) + size_t(x)]; }
};

Pixels decode_png(const std::string& bytes);

inline int red(uint32_t c) { return int(c >> 16 & 255); }
inline int green(uint32_t c) { return int(c >> 8 & 255); }
inline int blue(uint32_t c) { return int(c & 255); }
inline int lightness(uint32_t c) { return red(c) + green(c) + blue(c); }

// A rectangle of the picture, x0 … x1 and y0 … y1 inclusive.
struct Box {
    int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
};

// The map: the widest run of columns coloured over at least half as many rows
// as the most coloured column, cut to the rows coloured across most of those
// columns; it may take in the frame drawn around it, a pixel or so. The bar:
// the first rows below it with an unbroken run of colour across a quarter of
// the picture.
struct MapAndBar {
    Box map, bar;
};
MapAndBar find_map_and_bar(const Pixels& p);

// Where along the bar (0 at its left end, 1 at its right) the bar's middle row
// comes closest to colour c.
double bar_position_of(const Pixels& p, const Box& bar, uint32_t c);

// The darkest r + g + b within radius pixels of (x, y).
int darkest_near(const Pixels& p, double x, double y, int radius);
