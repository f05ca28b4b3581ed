// The two colour scales of a map: sequential for sizes and counts, diverging about
// 0 for signed values such as correlations.
#pragma once

struct Rgb {
    unsigned char r, g, b;
};

enum class ColourScale { sequential, diverging };

// Position x in 0 … 1 (clamped) on the sequential scale: dark blue through teal
// and green to pale yellow, brightening steadily so that order reads without the bar.
Rgb ramp_colour(double x);

// Signed position s in -1 … 1 (clamped) on the diverging scale: blue below 0,
// near-white at 0, red above. The two halves mirror each other exactly: the colour
// at -s is the colour at s with red and blue swapped.
Rgb diverging_colour(double s);

// Position x in 0 … 1 along the colour bar of the given scale.
Rgb bar_colour(ColourScale scale, double x);
