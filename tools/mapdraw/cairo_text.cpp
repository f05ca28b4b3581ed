#include "cairo_text.hpp"

#include <cstdint>

namespace {

// Titles and labels come from file names and attributes, which may be Latin-1;
// cairo refuses text that is not UTF-8, so each byte that does not start a
// well-formed sequence becomes U+FFFD.
std::string as_utf8(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = (unsigned char)s[i];
        const int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = n > 0 && i + n <= s.size();
        uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1Fu : n == 3 ? c & 0x0Fu : c & 0x07u;
        for (int k = 1; ok && k < n; ++k) {
            const unsigned char d = (unsigned char)s[i + k];
            ok = (d >> 6) == 2;
            cp = cp << 6 | (d & 0x3Fu);
        }
        // No overlong forms, surrogates or code points past U+10FFFF.
        ok = ok && !(n == 2 && cp < 0x80) && !(n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) &&
             !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF));
        if (ok) out.append(s, i, size_t(n)), i += size_t(n);
        else out += "\uFFFD", ++i;
    }
    return out;
}

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
    cairo_text_extents(cr, as_utf8(text).c_str(), &e);
    return e.x_advance;
}

void draw_text(cairo_t* cr, const std::string& text, double x, double y, double size, Align align, bool bold)
{
    const double w = text_width(cr, text, size, bold);
    const double left = align == Align::left ? x : align == Align::centre ? x - w / 2 : x - w;
    cairo_move_to(cr, left, y);
    cairo_show_text(cr, as_utf8(text).c_str());
}
