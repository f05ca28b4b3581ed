// Text on a cairo context in the map's font (DejaVu Sans through fontconfig).
#pragma once

#include <cairo.h>
#include <string>

enum class Align { left, centre, right };

// Width of the text at that size, in user units.
double text_width(cairo_t* cr, const std::string& text, double size, bool bold = false);

// Draws the text with its baseline at y, placed by x as align says.
void draw_text(cairo_t* cr, const std::string& text, double x, double y, double size, Align align, bool bold = false);
