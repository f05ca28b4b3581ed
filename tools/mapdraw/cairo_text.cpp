#include "cairo_text.hpp"

namespace {

void set_font(cairo_t* cr, double size, bool bold)
{
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

} // namespace

double text_width(cairo_t* cr, const std::string& text, double size, bool bold)
{
    set_font(cr, size, bold);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

void draw_text(cairo_t* cr, const std::string& text, double x, double y, double size, Align align, bool bold)
{
    const double w = text_width(cr, text, size, bold);
    const double left = align == Align::left ? x : align == Align::centre ? x - w / 2 : x - w;
    cairo_move_to(cr, left, y);
    cairo_show_text(cr, text.c_str());
}
