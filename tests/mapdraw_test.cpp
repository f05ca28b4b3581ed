// The map library against facts known without it: where the world's coasts are,
// what round ticks a range should get, how colours read, and what other programs
// (xmllint, rsvg-convert, pdfinfo, pdftotext, pdftoppm) make of its files.
#include <gtest/gtest.h>

#include <cairo.h>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "colour_bar.hpp"
#include "gshhg_reader.hpp"
#include "map_layout.hpp"
#include "map_picture.hpp"
#include "picture_support.hpp"
#include "run_error.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string GSHHG = "/usr/share/gmt-gshhg";

std::string as_string(const std::vector<unsigned char>& b) { return std::string(b.begin(), b.end()); }

std::vector<double> steps_from(double first, double step, int n)
{
    std::vector<double> v(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) v[i] = first + step * i;
    return v;
}

struct CoastSample {
    const char* place;
    double lon, lat;
};

// Points on the shore, from atlases, within half a degree.
constexpr CoastSample SHORES[] = {
    {"Gabon coast at the equator", 9.3, 0.0},      {"Cape Point", 18.47, -34.35},
    {"Strait of Gibraltar", -5.6, 36.0},          {"Lima", -77.15, -12.05},
    {"Sydney", 151.28, -33.85},                    {"Mumbai", 72.82, 18.95},
    {"Hawaii, Hilo", -155.08, 19.72},              {"Viti Levu, Fiji", 177.45, -17.6},
    {"Panama City", -79.52, 8.95},                 {"Luzon, Manila Bay", 120.6, 14.45},
};
// Open ocean, hundreds of kilometres from any land.
constexpr CoastSample OCEAN[] = {
    {"north-east Pacific", -130, 30},   {"central North Atlantic", -40, 30}, {"South Atlantic", -20, -40},
    {"southern Indian Ocean", 80, -30}, {"South Pacific", -120, -40},        {"North Pacific", -170, 40},
    {"equatorial Pacific", -120, 0},    {"Coral Sea", 157, -20},
};

// A map of one value on the given longitudes and latitudes, drawn as a PNG.
struct ConstantMap {
    std::vector<double> lon, lat;
    std::vector<float> values;
    MapPicture map;
    MapLayout layout;
    Pixels pixels;
    std::vector<std::string> notes;
};

void draw_constant(ConstantMap& c, const std::string& directory = GSHHG)
{
    c.values.assign(c.lon.size() * c.lat.size(), 3.0f);
    c.map.values = c.values.data();
    c.map.columns = int32_t(c.lon.size());
    c.map.rows = int32_t(c.lat.size());
    c.map.column_axis = {c.lon.data(), AxisKind::longitude};
    c.map.row_axis = {c.lat.data(), AxisKind::latitude};
    c.map.coast_directory = directory;
    c.layout = plan_map(c.map, PictureFormat::png, "map.png");
    const RenderedPicture r = render_map(c.map, PictureFormat::png, "map.png");
    c.pixels = decode_png(as_string(r.bytes));
    c.notes = r.notes;
}

} // namespace

TEST(GshhgReader, CoarseBinOfTheGulfOfGuineaAndEveryPointInsideItsBin)
{
    const CoastData c = read_gshhg(GSHHG + "/binned_GSHHS_c.nc");
    ASSERT_EQ(c.bin_degrees, 20);
    // The bin from 0° E, 10° S to 20° E, 10° N: fifth row from the north, first column.
    std::vector<const CoastSegment*> bin;
    for (const CoastSegment& s : c.segments)
        if (s.bin == 4 * 18) bin.push_back(&s);
    ASSERT_FALSE(bin.empty());
    const CoastSegment& guinea = *bin.front();
    const CoastPoint* p = c.points.data() + guinea.first_point;
    EXPECT_EQ(guinea.level, 1);
    EXPECT_NEAR(p[0].lon, 0.00, 0.01);
    EXPECT_NEAR(p[0].lat, 5.59, 0.01);
    EXPECT_NEAR(p[guinea.point_count - 1].lon, 13.41, 0.01);
    EXPECT_NEAR(p[guinea.point_count - 1].lat, -10.00, 0.01);
    double crossing = NAN;
    for (int64_t i = 1; i < guinea.point_count; ++i)
        if ((p[i - 1].lat > 0) != (p[i].lat > 0))
            crossing = p[i - 1].lon + (p[i].lon - p[i - 1].lon) * (0 - p[i - 1].lat) / (p[i].lat - p[i - 1].lat);
    EXPECT_NEAR(crossing, 9.5, 0.5);

    // Islands and a lake, each a segment wholly inside its box.
    struct Expected {
        const char* name;
        int level;
        double lon0, lon1, lat0, lat1;
    } expected[] = {{"Bioko", 1, 8.3, 9.1, 3.1, 3.9}, {"Sao Tome", 1, 6.3, 6.9, -0.1, 0.5}, {"Lake Volta", 2, -0.1, 1.0, 6.0, 9.1}};
    for (const Expected& e : expected) {
        bool found = false;
        for (const CoastSegment* s : bin) {
            bool inside = s->level == e.level;
            for (int64_t i = 0; i < s->point_count && inside; ++i) {
                const CoastPoint q = c.points[s->first_point + i];
                inside = q.lon >= e.lon0 && q.lon <= e.lon1 && q.lat >= e.lat0 && q.lat <= e.lat1;
            }
            found = found || inside;
        }
        EXPECT_TRUE(found) << e.name;
    }

    for (const char r : {'c', 'l', 'i'}) {
        const CoastData d = r == 'c' ? c : read_gshhg(GSHHG + "/binned_GSHHS_" + r + ".nc");
        int64_t outside = 0;
        for (const CoastSegment& s : d.segments) {
            const double lon0 = (s.bin % d.bins_per_row) * d.bin_degrees, lat1 = 90 - (s.bin / d.bins_per_row) * d.bin_degrees;
            for (int64_t i = 0; i < s.point_count; ++i) {
                const CoastPoint q = d.points[s.first_point + i];
                outside += q.lon < lon0 - 1e-9 || q.lon > lon0 + d.bin_degrees + 1e-9 || q.lat > lat1 + 1e-9 ||
                           q.lat < lat1 - d.bin_degrees - 1e-9;
            }
        }
        EXPECT_EQ(outside, 0) << r;
        EXPECT_EQ(int64_t(d.points.size()), [&] {
            int64_t n = 0;
            for (const CoastSegment& s : d.segments) n += s.point_count;
            return n;
        }()) << r;
    }
    EXPECT_THROW(read_gshhg(GSHHG + "/no_such_file.nc"), RunError);
}

TEST(MapCoast, ShoresInkedAndOpenOceanClearOnGlobalAndDateLineGrids)
{
    // A global 2.5° grid from 0° E, the same from 180° W, and a box over the
    // tropical Pacific from 120° E to 70° W whose longitudes jump from 180 to -177.5.
    ConstantMap grids[3];
    grids[0].lon = steps_from(0, 2.5, 144);
    grids[0].lat = steps_from(-90, 2.5, 73);
    grids[1].lon = steps_from(-180, 2.5, 144);
    grids[1].lat = steps_from(90, -2.5, 73);
    for (double l = 120; l <= 290; l += 2.5) grids[2].lon.push_back(l > 180 ? l - 360 : l);
    grids[2].lat = steps_from(-30, 2, 31);
    for (ConstantMap& g : grids) {
        SCOPED_TRACE(g.lon.front());
        draw_constant(g);
        ASSERT_GT(g.pixels.width, 0);
        EXPECT_TRUE(g.notes.empty());
        const uint32_t field = g.pixels.at(int(g.layout.map_x + g.layout.map_w / 2), int(g.layout.map_y + 2));
        const int field_sum = red(field) + green(field) + blue(field);
        int inside = 0;
        for (const CoastSample& s : SHORES) {
            double x, y;
            if (!lonlat_to_picture(g.layout, s.lon, s.lat, x, y)) continue;
            ++inside;
            EXPECT_LT(darkest_near(g.pixels, x, y, 2), field_sum - 150) << s.place << " at " << x << ", " << y;
        }
        for (const CoastSample& s : OCEAN) {
            double x, y;
            const MapLayout& m = g.layout;
            if (!lonlat_to_picture(m, s.lon, s.lat, x, y)) continue;
            if (x < m.map_x + 10 || x > m.map_x + m.map_w - 10 || y < m.map_y + 10 || y > m.map_y + m.map_h - 10)
                continue; // the frame is dark too
            ++inside;
            EXPECT_GE(darkest_near(g.pixels, x, y, 8), field_sum - 30) << s.place;
        }
        EXPECT_GE(inside, 7);
    }
    // The mapping itself, from each grid's outer cell edges worked out by hand:
    // Hilo lies at 204.92° E, that is 155.08° W.
    const double west[3] = {-1.25, -181.25, 118.75}, east[3] = {358.75, 178.75, 291.25};
    const double north[3] = {90, 90, 31}, south[3] = {-90, -90, -31};
    const double hilo_lon[3] = {204.92, -155.08, 204.92};
    for (int k = 0; k < 3; ++k) {
        double x, y;
        ASSERT_TRUE(lonlat_to_picture(grids[k].layout, -155.08, 19.72, x, y));
        const MapLayout& m = grids[k].layout;
        EXPECT_NEAR(x, m.map_x + (hilo_lon[k] - west[k]) / (east[k] - west[k]) * m.map_w, 1e-6) << k;
        EXPECT_NEAR(y, m.map_y + (north[k] - 19.72) / (north[k] - south[k]) * m.map_h, 1e-6) << k;
    }

    // Without the data files: a note, and the map all the same; a grid that is
    // not latitude/longitude gets no coast and no note.
    TempDir empty;
    ConstantMap bare;
    bare.lon = grids[0].lon;
    bare.lat = grids[0].lat;
    draw_constant(bare, empty.path);
    ASSERT_EQ(bare.notes.size(), 1u);
    EXPECT_NE(bare.notes[0].find("gmt-gshhg-low"), std::string::npos);
    double x, y;
    ASSERT_TRUE(lonlat_to_picture(bare.layout, -79.52, 8.95, x, y));
    EXPECT_GT(darkest_near(bare.pixels, x, y, 2), 250);
    std::vector<float> v(144 * 73, 1.0f);
    MapPicture plain;
    plain.values = v.data();
    plain.columns = 144;
    plain.rows = 73;
    plain.coast_directory = empty.path;
    EXPECT_TRUE(render_map(plain, PictureFormat::png, "p.png").notes.empty());
}

TEST(ColourBar, RangeRoundingAndRoundTicksOnHandMadeCases)
{
    struct Rounding {
        double v, want;
    } rounding[] = {{0.67, 0.7}, {0.7, 0.7}, {double(0.6f), 0.6}, {0.61, 0.7}, {0.043, 0.05}, {2.3, 3}, {-0.91, 1}, {0, 0}};
    for (const Rounding& r : rounding) EXPECT_NEAR(round_up_first_digit(r.v), r.want, 1e-12) << r.v;

    const float m = MISSING_VALUE, nan = NAN, inf = INFINITY;
    const float data[] = {0.2f, -0.67f, m, nan, inf, 0.5f};
    const ColourRange d = default_range(data, 6, ColourScale::diverging);
    EXPECT_NEAR(d.lo, -0.7, 1e-12);
    EXPECT_NEAR(d.hi, 0.7, 1e-12);
    const ColourRange s = default_range(data, 6, ColourScale::sequential);
    EXPECT_NEAR(s.lo, -0.67, 1e-6);
    EXPECT_NEAR(s.hi, 0.5, 1e-6);
    const float missing_only[] = {m, nan};
    const ColourRange none = default_range(missing_only, 2, ColourScale::sequential);
    EXPECT_LT(none.lo, none.hi);
    const float constant[] = {5, 5};
    const ColourRange one = default_range(constant, 2, ColourScale::sequential);
    EXPECT_NEAR(0.5 * (one.lo + one.hi), 5, 1e-12);
    EXPECT_LT(one.lo, one.hi);

    struct Ticks {
        ColourRange range;
        ColourScale scale;
        std::vector<double> values;
        std::vector<std::string> labels;
    } cases[] = {
        {{-0.7, 0.7}, ColourScale::diverging, {-0.6, -0.4, -0.2, 0, 0.2, 0.4, 0.6}, {"\u22120.6", "\u22120.4", "\u22120.2", "0", "0.2", "0.4", "0.6"}},
        {{0, 1}, ColourScale::sequential, {0, 0.2, 0.4, 0.6, 0.8, 1}, {"0", "0.2", "0.4", "0.6", "0.8", "1.0"}},
        {{37.3, 211.8}, ColourScale::sequential, {40, 60, 80, 100, 120, 140, 160, 180, 200}, {"40", "60", "80", "100", "120", "140", "160", "180", "200"}},
        {{3, 4}, ColourScale::sequential, {3, 3.2, 3.4, 3.6, 3.8, 4}, {"3.0", "3.2", "3.4", "3.6", "3.8", "4.0"}},
        {{-1200, 5300}, ColourScale::sequential, {-1000, 0, 1000, 2000, 3000, 4000, 5000}, {"\u22121000", "0", "1000", "2000", "3000", "4000", "5000"}},
        {{1e-4, 1}, ColourScale::p_log, {1e-4, 1e-3, 0.01, 0.1, 1}, {"0.0001", "0.001", "0.01", "0.1", "1"}},
        {{0.001, 1}, ColourScale::p_log, {0.001, 0.003, 0.01, 0.03, 0.1, 0.3, 1}, {"0.001", "0.003", "0.01", "0.03", "0.1", "0.3", "1"}},
        {{1e-8, 1}, ColourScale::p_log, {1e-8, 1e-6, 1e-4, 1e-2, 1}, {"10\u207b\u2078", "10\u207b\u2076", "0.0001", "0.01", "1"}},
    };
    for (const Ticks& c : cases) {
        SCOPED_TRACE(c.range.lo);
        const std::vector<BarTick> t = bar_ticks(c.range, c.scale);
        ASSERT_EQ(t.size(), c.values.size());
        for (size_t i = 0; i < t.size(); ++i) {
            EXPECT_NEAR(t[i].value, c.values[i], 1e-9 * std::max(1.0, std::fabs(c.values[i])));
            EXPECT_EQ(t[i].label, c.labels[i]);
            // Where the tick sits along the bar, worked out on the scale's own terms.
            const double want = c.scale == ColourScale::p_log
                                    ? std::log(c.values[i] / c.range.lo) / std::log(c.range.hi / c.range.lo)
                                    : (c.values[i] - c.range.lo) / (c.range.hi - c.range.lo);
            EXPECT_NEAR(t[i].position, want, 1e-9);
        }
    }

    // p on its log scale: alpha = 0.05 lies at (log10 0.05 + 4) / 4 of a 1e-4 … 1 bar,
    // p = 0 and anything below 1e-4 at its start, and smaller p darker.
    EXPECT_NEAR(bar_position(0.05, {1e-4, 1}, ColourScale::p_log), 0.6747425, 1e-6);
    EXPECT_EQ(bar_position(0, {1e-4, 1}, ColourScale::p_log), 0);
    EXPECT_EQ(bar_position(1e-7, {1e-4, 1}, ColourScale::p_log), 0);
    const auto lightness = [](Rgb c) { return c.r + c.g + c.b; };
    EXPECT_LT(lightness(value_colour(1e-3, {1e-4, 1}, ColourScale::p_log)),
              lightness(value_colour(0.04, {1e-4, 1}, ColourScale::p_log)));
    EXPECT_LT(lightness(value_colour(0.04, {1e-4, 1}, ColourScale::p_log)),
              lightness(value_colour(0.3, {1e-4, 1}, ColourScale::p_log)));
    // Diverging: -v and +v equally strong, red above 0 and blue below, also on a lopsided range.
    const Rgb plus = value_colour(0.3, {-0.2, 0.8}, ColourScale::diverging);
    const Rgb minus = value_colour(-0.3, {-0.8, 0.2}, ColourScale::diverging);
    EXPECT_EQ(plus.r, minus.b);
    EXPECT_EQ(plus.b, minus.r);
    EXPECT_GT(plus.r, plus.b);

    EXPECT_THROW(check_colour_range(ColourScale::p_log, 0, 1), RunError);
    EXPECT_THROW(check_colour_range(ColourScale::sequential, 2, 1), RunError);
    EXPECT_THROW(check_colour_range(ColourScale::sequential, 0, INFINITY), RunError);
    EXPECT_NO_THROW(check_colour_range(ColourScale::p_log, 0.001, 1));
}

TEST(MapFiles, SvgParsesAndShowsTheMapPdfOpensWithItsTitle)
{
    // West half strongly negative, east half strongly positive, one missing cell
    // in the middle of the north-west quarter, on a global 5° grid.
    const std::vector<double> lon = steps_from(2.5, 5, 72), lat = steps_from(-87.5, 5, 36);
    std::vector<float> v(72 * 36);
    for (int r = 0; r < 36; ++r)
        for (int c = 0; c < 72; ++c) v[r * 72 + c] = c < 36 ? -0.9f : 0.9f;
    v[30 * 72 + 10] = MISSING_VALUE; // 62.5° N, 52.5° E
    MapPicture map;
    map.values = v.data();
    map.columns = 72;
    map.rows = 36;
    map.column_axis = {lon.data(), AxisKind::longitude};
    map.row_axis = {lat.data(), AxisKind::latitude};
    map.scale = ColourScale::diverging;
    map.coastlines = false;
    map.title = "Correlation with the Nino3.4 index";
    map.bar_name = "Pearson correlation";
    map.subtitle = "r\xe9gion 1"; // Latin-1 from a file's attribute: not UTF-8
    map.size = {800, 500};
    TempDir dir;

    // Cell centres (and the missing one) in picture units, from the grid by hand.
    const MapLayout m = plan_map(map, PictureFormat::svg, "m.svg");
    const double west_x = m.map_x + 0.25 * m.map_w, east_x = m.map_x + 0.75 * m.map_w, mid_y = m.map_y + 0.25 * m.map_h;
    const double hole_x = m.map_x + (52.5 / 360) * m.map_w, hole_y = m.map_y + (90 - 62.5) / 180 * m.map_h;
    const auto shows_map = [&](const Pixels& p, double scale) {
        ASSERT_GT(p.width, 0);
        const uint32_t w = p.at(int(west_x * scale), int(mid_y * scale)), e = p.at(int(east_x * scale), int(mid_y * scale));
        const uint32_t hole = p.at(int(hole_x * scale), int(hole_y * scale));
        EXPECT_GT(blue(w), red(w) + 60);
        EXPECT_GT(red(e), blue(e) + 60);
        EXPECT_LT(std::abs(red(hole) - blue(hole)), 12);
        EXPECT_LT(std::abs(red(hole) - green(hole)), 12);
        EXPECT_GT(red(hole), 100);
        EXPECT_LT(red(hole), 210);
    };

    const std::string svg = dir.file("m.svg"), pdf = dir.file("m.pdf");
    write_file(svg, as_string(render_map(map, PictureFormat::svg, svg).bytes));
    write_file(pdf, as_string(render_map(map, PictureFormat::pdf, pdf).bytes));

    const RunResult xml = run_program(XMLLINT_EXE, "", dir.path, {"--noout", svg});
    EXPECT_EQ(xml.status, 0) << xml.err;
    // rsvg-convert at 800 pixels wide: one pixel per point.
    const RunResult raster = run_program(RSVG_CONVERT_EXE, "", dir.path, {"-w", "800", "-o", dir.file("svg.png"), svg});
    ASSERT_EQ(raster.status, 0) << raster.err;
    const Pixels svg_pixels = decode_png(read_file(dir.file("svg.png")));
    EXPECT_EQ(svg_pixels.width, 800);
    EXPECT_EQ(svg_pixels.height, 500);
    shows_map(svg_pixels, 1);

    const RunResult info = run_program(PDFINFO_EXE, "", dir.path, {pdf});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("Page size:       800 x 500 pts"), std::string::npos) << info.out;
    const RunResult text = run_program(PDFTOTEXT_EXE, "", dir.path, {pdf, "-"});
    EXPECT_NE(text.out.find("Correlation with the Nino3.4 index"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Pearson correlation"), std::string::npos);
    EXPECT_NE(text.out.find("r\uFFFDgion 1"), std::string::npos);
    // pdftoppm at 144 dpi: two pixels per point.
    const RunResult page = run_program(PDFTOPPM_EXE, "", dir.path, {"-png", "-r", "144", "-singlefile", pdf, dir.file("pdf")});
    ASSERT_EQ(page.status, 0) << page.err;
    shows_map(decode_png(read_file(dir.file("pdf.png"))), 2);

    EXPECT_EQ(picture_format_of("a/map.PDF"), PictureFormat::pdf);
    EXPECT_EQ(picture_format_of("map.svg"), PictureFormat::svg);
    EXPECT_EQ(picture_format_of("map.png"), PictureFormat::png);
    for (const char* bad : {"map.jpg", "map", "maps.png/out", "map.png.nc"}) EXPECT_THROW(picture_format_of(bad), RunError) << bad;
    EXPECT_EQ(parse_picture_size("1200x700").width, 1200);
    EXPECT_EQ(parse_picture_size("1200x700").height, 700);
    for (const char* bad : {"1200", "1200x", "x700", "12x700", "40000x700", "1200x700x3", "-5x700"})
        EXPECT_THROW(parse_picture_size(bad), RunError) << bad;
    EXPECT_THROW(check_picture_size(PictureFormat::png, {32767, 32767}, "big.png"), RunError);
    EXPECT_NO_THROW(check_picture_size(PictureFormat::pdf, {32767, 32767}, "big.pdf"));
}

TEST(MapShapes, LongThinAndMillionPointGridsFitAndKeepALoneDot)
{
    // One column of 10000 cells, and 2000 × 1500 cells: both drawn within cairo's
    // limits, with the one stippled cell's dot where that cell lies.
    struct Shape {
        int32_t columns, rows, dot_column, dot_row;
    } shapes[] = {{1, 10000, 0, 5000}, {2000, 1500, 1234, 321}};
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.columns);
        std::vector<float> v(size_t(s.columns) * s.rows);
        for (size_t i = 0; i < v.size(); ++i) v[i] = float(i % 977) / 977;
        std::vector<unsigned char> dots(v.size());
        dots[size_t(s.dot_row) * s.columns + s.dot_column] = 1;
        MapPicture map;
        map.values = v.data();
        map.columns = s.columns;
        map.rows = s.rows;
        map.stipple = dots.data();
        map.row0_on_top = true;
        const MapLayout m = plan_map(map, PictureFormat::png, "s.png");
        const Pixels p = decode_png(as_string(render_map(map, PictureFormat::png, "s.png").bytes));
        ASSERT_GT(p.width, 0);
        EXPECT_LE(p.width, 4000);
        EXPECT_LE(p.height, 4000);
        EXPECT_GE(std::min(m.map_w, m.map_h), 100); // a strip, not a line
        const double x = m.map_x + (s.dot_column + 0.5) / s.columns * m.map_w;
        const double y = m.map_y + (s.dot_row + 0.5) / s.rows * m.map_h;
        EXPECT_LT(darkest_near(p, x, y, 5), 40);
        // Elsewhere no dot: the sequential scale's darkest colour is far from black.
        EXPECT_GT(darkest_near(p, m.map_x + 0.5 * m.map_w, m.map_y + 0.1 * m.map_h, 5), 100);
    }
}
