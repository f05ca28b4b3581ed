#include "picture_support.hpp"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <memory>

Pixels decode_png(const std::string& bytes)
{
    struct Reader {
        const std::string* s;
        size_t at;
    } reader{&bytes, 0};
    auto read = [](void* closure, unsigned char* data, unsigned int length) {
        auto* r = static_cast<Reader*>(closure);
        if (r->at + length > r->s->size()) return CAIRO_STATUS_READ_ERROR;
        std::copy_n(r->s->data() + r->at, length, data);
        r->at += length;
        return CAIRO_STATUS_SUCCESS;
    };
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> s(
        cairo_image_surface_create_from_png_stream(read, &reader), cairo_surface_destroy);
    Pixels p;
    if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return p;
    // An image with an alpha channel (rsvg-convert's) is composed over white.
    std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> flat(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, cairo_image_surface_get_width(s.get()),
                                   cairo_image_surface_get_height(s.get())),
        cairo_surface_destroy);
    {
        std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(flat.get()), cairo_destroy);
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
        cairo_paint(cr.get());
        cairo_set_source_surface(cr.get(), s.get(), 0, 0);
        cairo_paint(cr.get());
    }
    cairo_surface_flush(flat.get());
    p.width = cairo_image_surface_get_width(flat.get());
    p.height = cairo_image_surface_get_height(flat.get());
    const int stride = cairo_image_surface_get_stride(flat.get());
    const unsigned char* data = cairo_image_surface_get_data(flat.get());
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            p.rgb.push_back(reinterpret_cast<const uint32_t*>(data + size_t(y) * size_t(stride))[x] & 0xFFFFFFu);
    return p;
}

namespace {

bool white(uint32_t c) { return lightness(c) >= 3 * 250; }

// The longest run of indices whose count reaches the threshold.
std::pair<int, int> longest_run(const std::vector<int>& count, int threshold)
{
    std::pair<int, int> best{0, -1};
    int start = -1;
    for (int i = 0; i <= int(count.size()); ++i) {
        const bool in = i < int(count.size()) && count[size_t(i)] >= threshold;
        if (in && start < 0) start = i;
        if (!in && start >= 0) {
            if (i - 1 - start > best.second - best.first) best = {start, i - 1};
            start = -1;
        }
    }
    return best;
}

} // namespace

MapAndBar find_map_and_bar(const Pixels& p)
{
    MapAndBar out;
    if (p.width == 0) return out;
    // The map's columns are coloured all the way down it; text, ticks and the
    // bar colour a column for a few rows at most.
    std::vector<int> count(size_t(p.width));
    for (int x = 0; x < p.width; ++x)
        for (int y = 0; y < p.height; ++y) count[size_t(x)] += !white(p.at(x, y));
    const auto [x0, x1] = longest_run(count, (*std::max_element(count.begin(), count.end()) + 1) / 2);
    // Its rows are coloured across those columns (but for the dots' white rims).
    count.assign(size_t(p.height), 0);
    for (int y = 0; y < p.height; ++y)
        for (int x = x0; x <= x1; ++x) count[size_t(y)] += !white(p.at(x, y));
    const auto [y0, y1] = longest_run(count, (x1 - x0 + 2) / 2);
    out.map = {x0, x1, y0, y1};
    // The bar: below the map, the first row with an unbroken run of colour over
    // a quarter of the picture's width, and the rows that share that run.
    for (int y = y1 + 1; y < p.height && out.bar.x1 < 0; ++y) {
        std::vector<int> row(size_t(p.width));
        for (int x = 0; x < p.width; ++x) row[size_t(x)] = !white(p.at(x, y));
        const auto [b0, b1] = longest_run(row, 1);
        if (b1 - b0 + 1 < p.width / 4) continue;
        out.bar = {b0, b1, y, y};
        while (out.bar.y1 + 1 < p.height && !white(p.at((b0 + b1) / 2, out.bar.y1 + 1)) &&
               !white(p.at(b0 + 2, out.bar.y1 + 1)))
            ++out.bar.y1;
    }
    return out;
}

double bar_position_of(const Pixels& p, const Box& bar, uint32_t c)
{
    const int y = (bar.y0 + bar.y1) / 2;
    // The bar's outline takes a pixel or two at each end.
    const int x0 = bar.x0 + 2, x1 = bar.x1 - 2;
    int best_x = x0;
    long best = -1;
    for (int x = x0; x <= x1; ++x) {
        const uint32_t b = p.at(x, y);
        const long d = long(red(b) - red(c)) * (red(b) - red(c)) + long(green(b) - green(c)) * (green(b) - green(c)) +
                       long(blue(b) - blue(c)) * (blue(b) - blue(c));
        if (best < 0 || d < best) best = d, best_x = x;
    }
    return double(best_x - x0) / (x1 - x0);
}

int darkest_near(const Pixels& p, double x, double y, int radius)
{
    int best = 3 * 255;
    for (int j = int(std::lround(y)) - radius; j <= int(std::lround(y)) + radius; ++j)
        for (int i = int(std::lround(x)) - radius; i <= int(std::lround(x)) + radius; ++i)
            if (i >= 0 && j >= 0 && i < p.width && j < p.height) best = std::min(best, lightness(p.at(i, j)));
    return best;
}
