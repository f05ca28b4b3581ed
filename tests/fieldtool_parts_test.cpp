// fieldtool's pieces that decide values: CSV cells, unpacking of stored numbers,
// the shortest text of a float, and what the map draws: colours, dots, ticks, text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "csv_series.hpp"
#include "run_error.hpp"
#include "map_picture.hpp"
#include "missing_points.hpp"
#include "png_output.hpp"
#include "run_error.hpp"
#include "text_font.hpp"
#include "value_ranges.hpp"
#include "netcdf_input.hpp"
#include "series_file.hpp"
#include "summary.hpp"
#include "test_support.hpp"

// The reader from-csv and neffmap share, on the cells the old column reader was
// held to: quotes, blanks, every spelling of NaN, values below the normal range.
TEST(FieldtoolCsv, CellsQuotesAndValues)
{
    SeriesSource s;
    read_csv_series("year,\"Nino 3.4, anomaly\",\"say \"\"hi\"\"\"\r\n"
                    " 1990 , -0.1 ,\"7\"\n1991,+2.5e3,\n1992,1e-42,\n1993,,\n"
                    "1994,NaN,\n1995,-nan,\n1996,nan(1),\n1997,n/a,\n",
                    "in.csv", "Nino 3.4, anomaly", SeriesReadOptions{}, s);
    const std::vector<float> want = {-0.1f, 2500.0f, 1e-42f, MISSING_VALUE, MISSING_VALUE, MISSING_VALUE,
                                     MISSING_VALUE, MISSING_VALUE};
    ASSERT_EQ(s.values.size(), want.size());
    for (size_t t = 0; t < want.size(); ++t) EXPECT_EQ(bits(s.values[t]), bits(want[t])) << t;
    EXPECT_GT(s.values[2], 0.0f) << "below the normal range is still a value";
    read_csv_series("a,\"say \"\"hi\"\"\"\n1,2\n", "in.csv", "say \"hi\"", SeriesReadOptions{}, s);
    EXPECT_EQ(s.values, std::vector<float>{2.0f});
    for (const char* bad : {"a\n1\n\"2\n", "a\n1e50\n", "a\n-1e39\n", "a\n-inf\n"}) {
        try {
            read_csv_series(bad, "in.csv", "", SeriesReadOptions{}, s);
            ADD_FAILURE() << bad;
        } catch (const RunError& e) {
            EXPECT_EQ(e.cause.rfind("line ", 0), 0u) << e.cause;
        }
    }
}

TEST(FieldtoolGaps, APointMissingAnyStepIsMarkedMissingAtStepTwo)
{
    const float M = MISSING_VALUE;
    // 3 steps of 4 points: point 0 complete, 1 misses step 3, 2 misses step 1,
    // 3 is missing at step 2 already.
    float v[12] = {1, 2, M, 4, 5, 6, 7, M, 9, M, 11, 12};
    EXPECT_EQ(mark_points_with_gaps(v, 3, 4), 3);
    const float want[12] = {1, 2, M, 4, 5, M, M, M, 9, M, 11, 12};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bits(v[i]), bits(want[i])) << i;
    // A single step has no step 2 to mark.
    float one[2] = {M, 3};
    EXPECT_EQ(mark_points_with_gaps(one, 1, 2), 1);
    EXPECT_EQ(bits(one[1]), bits(3.0f));
    // NaN is not the marker: the readers turn NaN into the marker before this rule.
    float nan[4] = {NAN, 1, 2, 3};
    EXPECT_EQ(mark_points_with_gaps(nan, 2, 2), 0);
}

TEST(FieldtoolUnpacking, FillMissingNanAndScaleOffset)
{
    Unpacking u;
    u.has_fill = true;
    u.fill = -32767;
    u.missing_count = 2;
    u.missing[0] = -999;
    u.missing[1] = 32767;
    u.scale = 0.01;
    u.offset = 20;
    for (double stored : {-32767.0, -999.0, 32767.0, double(NAN)}) EXPECT_EQ(bits(unpack_value(u, stored)), bits(MISSING_VALUE)) << stored;
    // Unpacked in double and rounded once to single precision.
    EXPECT_EQ(bits(unpack_value(u, 1)), bits(float(20.01)));
    EXPECT_EQ(unpack_value(u, -2000), 0.0f);
    // Without a fill value the same stored number is data.
    u.has_fill = false;
    EXPECT_EQ(bits(unpack_value(u, -32767)), bits(float(-32767 * 0.01 + 20)));
}

TEST(FieldtoolText, ShortestFormReadsBackToTheSameFloat)
{
    std::mt19937 gen(12345);
    char buf[40];
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const float f = from_bits(uint32_t(gen()));
        if (!std::isfinite(f)) continue;
        const int n = shortest_text(f, buf, sizeof buf);
        buf[n] = '\0';
        ASSERT_EQ(bits(std::strtof(buf, nullptr)), bits(f)) << buf;
        ++checked;
    }
    EXPECT_GT(checked, 190000);
    int n = shortest_text(MISSING_VALUE, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, size_t(n)), "9e+09");
    n = shortest_text(0.1f, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, size_t(n)), "0.1");
}

TEST(FieldtoolMap, CellsBarAndGreyForMissing)
{
    // 2 columns x 2 rows: row 0 = {0, MISSING}, row 1 = {NaN, 1}.
    const float v[4] = {0.0f, MISSING_VALUE, NAN, 1.0f};
    MapStyle style;
    const MapLayout m = plan_map(2, 2, style);
    EXPECT_EQ(m.cell, 64);
    EXPECT_GE(m.bar_w, 256);
    std::vector<unsigned char> rgb(size_t(m.width) * size_t(m.height) * 3);
    auto at = [&](int x, int y) {
        const unsigned char* p = &rgb[(size_t(y) * size_t(m.width) + size_t(x)) * 3];
        return Rgb{p[0], p[1], p[2]};
    };
    auto same = [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
    auto centre = [&](int col, int screen_row) { return at(m.map_x + col * m.cell + m.cell / 2, m.map_y + screen_row * m.cell + m.cell / 2); };

    draw_map(v, 2, 2, style, m, rgb.data());
    EXPECT_TRUE(same(centre(0, 1), ramp_colour(0))) << "row 0 is drawn at the bottom";
    EXPECT_TRUE(same(centre(1, 1), MISSING_GREY));
    EXPECT_TRUE(same(centre(0, 0), MISSING_GREY)) << "NaN is grey too";
    EXPECT_TRUE(same(centre(1, 0), ramp_colour(1)));
    EXPECT_TRUE(same(at(m.bar_x, m.bar_y + m.bar_h / 2), ramp_colour(0)));
    EXPECT_TRUE(same(at(m.bar_x + m.bar_w - 1, m.bar_y + m.bar_h / 2), ramp_colour(1)));
    int ink = 0;
    for (int y = m.label_y; y < m.height; ++y)
        for (int x = 0; x < m.width; ++x) ink += same(at(x, y), INK);
    EXPECT_GT(ink, 20) << "the range is written under the bar";

    style.row0_on_top = true;
    draw_map(v, 2, 2, style, m, rgb.data());
    EXPECT_TRUE(same(centre(0, 0), ramp_colour(0))) << "row 0 on top when asked";
    for (int i = 0; i <= 20; ++i) EXPECT_FALSE(same(ramp_colour(i / 20.0), MISSING_GREY));
}

namespace {

bool same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
bool whiteish(Rgb c) { return c.r >= 240 && c.g >= 240 && c.b >= 240; }
Rgb swapped(Rgb c) { return {c.b, c.g, c.r}; }

// A map drawn in memory, read back by pixel.
struct Drawn {
    MapLayout m;
    std::vector<unsigned char> rgb;
    Rgb at(int x, int y) const
    {
        const unsigned char* p = &rgb[(size_t(y) * size_t(m.width) + size_t(x)) * 3];
        return {p[0], p[1], p[2]};
    }
    // The centre pixel of the cell drawn in screen row `row` (0 = top).
    Rgb cell(int col, int row) const { return at(m.map_x + col * m.cell + m.cell / 2, m.map_y + row * m.cell + m.cell / 2); }
    int ink(int x0, int y0, int x1, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += same(at(x, y), INK);
        return n;
    }
};

Drawn draw(const std::vector<float>& v, int32_t columns, int32_t rows, const MapStyle& style)
{
    Drawn d;
    d.m = plan_map(columns, rows, style);
    d.rgb.assign(size_t(d.m.width) * size_t(d.m.height) * 3, 0);
    draw_map(v.data(), columns, rows, style, d.m, d.rgb.data());
    return d;
}

// The coordinate at a fractional cell index, by linear interpolation.
double coordinate_at(const std::vector<double>& c, double f)
{
    const size_t i = std::min(size_t(f), c.size() - 2);
    return c[i] + (c[i + 1] - c[i]) * (f - double(i));
}

// A tick label back as a number: N and E positive, S and W negative.
double label_value(const std::string& s)
{
    double v = std::strtod(s.c_str(), nullptr);
    if (s.back() == 'S' || s.back() == 'W') v = -v;
    return v;
}

} // namespace

TEST(FieldtoolMap, DivergingScaleIsWhiteAtZeroAndMirroredAboutIt)
{
    EXPECT_TRUE(whiteish(diverging_colour(0)));
    for (int i = 1; i <= 20; ++i) {
        const double s = i / 20.0;
        const Rgb warm = diverging_colour(s), cold = diverging_colour(-s);
        EXPECT_TRUE(same(cold, swapped(warm))) << s;
        EXPECT_GT(warm.r, warm.b) << s;
        EXPECT_FALSE(same(warm, MISSING_GREY));
    }

    // One row: -0.6, 0, 0.6, -0.3 over the default range ±0.6.
    MapStyle style;
    style.scale = ColourScale::diverging;
    const Drawn d = draw({-0.6f, 0.0f, 0.6f, -0.3f}, 4, 1, style);
    EXPECT_TRUE(whiteish(d.cell(1, 0)));
    EXPECT_TRUE(same(d.cell(0, 0), diverging_colour(-1)));
    EXPECT_TRUE(same(d.cell(2, 0), diverging_colour(1)));
    EXPECT_TRUE(same(d.cell(3, 0), diverging_colour(-0.5)));
    EXPECT_TRUE(whiteish(d.at(d.m.bar_x + d.m.bar_w / 2, d.m.bar_y + d.m.bar_h / 2))) << "the bar is white in the middle";
    EXPECT_GT(d.ink(d.m.bar_x + d.m.bar_w / 2 - 8, d.m.label_y, d.m.bar_x + d.m.bar_w / 2 + 8, d.m.height), 10)
        << "0 is written under the bar's middle";

    // A lopsided range keeps 0 white, each side reaching its own end.
    style.fixed_range = true;
    style.lo = -0.3;
    style.hi = 1.5;
    const Drawn l = draw({-0.6f, 0.0f, 0.75f, -0.3f}, 4, 1, style);
    EXPECT_TRUE(whiteish(l.cell(1, 0)));
    EXPECT_TRUE(same(l.cell(0, 0), diverging_colour(-1))) << "clamped at LO";
    EXPECT_TRUE(same(l.cell(3, 0), diverging_colour(-1)));
    EXPECT_TRUE(same(l.cell(2, 0), diverging_colour(0.5)));
}

TEST(FieldtoolMap, FixedRangeClampsAndMissingStaysGrey)
{
    MapStyle style;
    style.fixed_range = true;
    style.lo = 0;
    style.hi = 1;
    const float inf = INFINITY;
    const Drawn d = draw({-5, 0, 0.5f, 1, 7, MISSING_VALUE, NAN, -inf, inf}, 9, 1, style);
    EXPECT_TRUE(same(d.cell(0, 0), ramp_colour(0)));
    EXPECT_TRUE(same(d.cell(1, 0), ramp_colour(0)));
    EXPECT_TRUE(same(d.cell(2, 0), ramp_colour(0.5)));
    EXPECT_TRUE(same(d.cell(3, 0), ramp_colour(1)));
    EXPECT_TRUE(same(d.cell(4, 0), ramp_colour(1)));
    EXPECT_TRUE(same(d.cell(5, 0), MISSING_GREY));
    EXPECT_TRUE(same(d.cell(6, 0), MISSING_GREY));
    EXPECT_TRUE(same(d.cell(7, 0), ramp_colour(0)));
    EXPECT_TRUE(same(d.cell(8, 0), ramp_colour(1)));

    style.scale = ColourScale::diverging;
    style.fixed_range = false;
    const Drawn g = draw({MISSING_VALUE, NAN, 0.5f}, 3, 1, style);
    EXPECT_TRUE(same(g.cell(0, 0), MISSING_GREY));
    EXPECT_TRUE(same(g.cell(1, 0), MISSING_GREY));
    EXPECT_TRUE(same(g.cell(2, 0), diverging_colour(1)));
}

TEST(FieldtoolMap, StippledCellsShowADotAtEveryCellSize)
{
    // Square grids from 64-pixel cells down to 1-pixel cells; one value everywhere,
    // the left half of the columns stippled.
    for (const int32_t n : {2, 85, 170, 200, 400, 1100}) {
        std::vector<float> v(size_t(n) * size_t(n), 0.25f);
        std::vector<unsigned char> dots(v.size(), 0);
        for (int32_t r = 0; r < n; ++r)
            for (int32_t c = 0; c < n / 2; ++c) dots[size_t(r) * size_t(n) + size_t(c)] = 1;
        MapStyle style;
        style.fixed_range = true;
        style.lo = 0;
        style.hi = 1;
        style.stipple = dots.data();
        const Drawn d = draw(v, n, n, style);
        const Rgb fill = ramp_colour(0.25);
        const MapLayout& m = d.m;
        SCOPED_TRACE("grid " + std::to_string(n) + ", cell " + std::to_string(m.cell) + " px");
        const int half = (n / 2) * m.cell;

        // Every block of k x k stippled cells holds a black core and a white rim.
        const int block = m.stipple_every * m.cell;
        int blocks = 0, marked = 0;
        for (int y = 0; y + block <= m.map_h; y += block)
            for (int x = 0; x + block <= half; x += block) {
                ++blocks;
                bool core = false, rim = false;
                for (int j = 0; j < block; ++j)
                    for (int i = 0; i < block; ++i) {
                        const Rgb p = d.at(m.map_x + x + i, m.map_y + y + j);
                        core |= same(p, DOT);
                        rim |= same(p, DOT_RIM);
                    }
                marked += core && rim;
            }
        EXPECT_GT(blocks, 0);
        EXPECT_EQ(marked, blocks);

        // The unstippled half is plain colour, and the stippled half still mostly shows it.
        int plain = 0, coloured = 0;
        for (int y = 0; y < m.map_h; ++y)
            for (int x = 0; x < m.map_w; ++x) {
                const bool is_fill = same(d.at(m.map_x + x, m.map_y + y), fill);
                if (x >= half + 2) plain += !is_fill;
                if (x < half) coloured += is_fill;
            }
        EXPECT_EQ(plain, 0);
        EXPECT_GT(coloured, half * m.map_h / 2);
    }
}

TEST(FieldtoolMap, ALoneStippledCellShowsOnSmallCells)
{
    // 400 x 400 cells of 2 pixels share one dot per block: a single stippled cell
    // in a corner of its block, away from where the dot goes, must still get one.
    const int32_t n = 400;
    std::vector<float> v(size_t(n) * size_t(n), 0.5f);
    std::vector<unsigned char> dots(v.size(), 0);
    MapStyle style;
    style.row0_on_top = true;
    style.stipple = dots.data();
    dots[size_t(n) * 8 + 9] = 1; // row 8, column 9
    const Drawn d = draw(v, n, n, style);
    const MapLayout& m = d.m;
    ASSERT_GT(m.stipple_every, 1);
    const int block = m.stipple_every * m.cell;
    int inside = 0, elsewhere = 0;
    for (int y = 0; y < m.map_h; ++y)
        for (int x = 0; x < m.map_w; ++x) {
            if (!same(d.at(m.map_x + x, m.map_y + y), DOT)) continue;
            const bool in_block = x / block == 9 * m.cell / block && y / block == 8 * m.cell / block;
            (in_block ? inside : elsewhere) += 1;
        }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(elsewhere, 0);
}

TEST(FieldtoolMap, TitleIsDrawnAboveTheMapAndWidensThePicture)
{
    const std::vector<float> v = {1, 2, 3, 4};
    MapStyle style;
    const Drawn plain = draw(v, 2, 2, style);
    style.title = "r  series nino34.csv  N 240  alpha 0.05  q 0.10  significant 1234";
    const Drawn titled = draw(v, 2, 2, style);
    ASSERT_EQ(titled.m.title_scale, 2);
    EXPECT_GT(titled.m.width, plain.m.width) << "the title is wider than the map";
    EXPECT_GT(titled.m.map_y, plain.m.map_y);
    EXPECT_EQ(titled.m.height - titled.m.map_y, plain.m.height - plain.m.map_y);

    // The first character is the glyph of 'r' at twice its size.
    const int s = titled.m.title_scale;
    for (int r = 0; r < GLYPH_HEIGHT; ++r)
        for (int k = 0; k < GLYPH_WIDTH; ++k) {
            const bool on = glyph_row('r', r) & (1u << (GLYPH_WIDTH - 1 - k));
            const Rgb p = titled.at(titled.m.title_x + k * s + 1, titled.m.title_y + r * s + 1);
            EXPECT_EQ(same(p, INK), on) << "row " << r << " column " << k;
        }
    EXPECT_GT(titled.ink(0, titled.m.title_y, titled.m.width, titled.m.title_y + GLYPH_HEIGHT * s), 500);
    EXPECT_EQ(titled.ink(0, 0, titled.m.width, titled.m.title_y), 0);

    // A title too long for any map is drawn at half size rather than widening without end.
    const std::string long_title(300, 'x');
    style.title = long_title.c_str();
    const Drawn small = draw(v, 2, 2, style);
    EXPECT_EQ(small.m.title_scale, 1);
    EXPECT_LE(small.m.width, 1100);
}

TEST(FieldtoolMapTicks, RoundLatitudesAndLongitudesAtTheirCells)
{
    // 36 latitudes from 87.5 down to -87.5; 144 longitudes from 1.25 to 358.75.
    std::vector<double> lat(36), lon(144);
    for (int i = 0; i < 36; ++i) lat[size_t(i)] = 87.5 - 5 * i;
    for (int i = 0; i < 144; ++i) lon[size_t(i)] = 1.25 + 2.5 * i;

    const AxisTicks lt = choose_ticks(lat.data(), 36, AxisKind::latitude, 14, false, 2);
    ASSERT_GE(lt.count, 3);
    EXPECT_LE(lt.count, 9);
    bool equator = false;
    for (int i = 0; i < lt.count; ++i) {
        const std::string s = lt.text[i];
        equator |= s == "0";
        EXPECT_NEAR(coordinate_at(lat, lt.cell[i]), label_value(s), 1e-9) << s;
        EXPECT_EQ(std::fmod(label_value(s), 15.0), 0.0) << s << " is a round latitude";
        if (i > 0) {
            EXPECT_GE((lt.cell[i] - lt.cell[i - 1]) * 14, 2 * 14) << "labels keep well apart";
        }
    }
    EXPECT_TRUE(equator);

    const AxisTicks ln = choose_ticks(lon.data(), 144, AxisKind::longitude, 3, true, 2);
    ASSERT_GE(ln.count, 3);
    bool dateline = false;
    for (int i = 0; i < ln.count; ++i) {
        const std::string s = ln.text[i];
        dateline |= s == "180";
        const double want = std::fmod(coordinate_at(lon, ln.cell[i]) + 540.0, 360.0) - 180.0;
        EXPECT_NEAR(std::fabs(want) == 180 ? 180 : want, label_value(s), 1e-9) << s;
    }
    EXPECT_TRUE(dateline);

    // Longitudes that run 180 … 359, 0 … 179 cross 0 once: still monotonic.
    std::vector<double> wrap(360);
    for (int i = 0; i < 360; ++i) wrap[size_t(i)] = (180 + i) % 360;
    const AxisTicks wt = choose_ticks(wrap.data(), 360, AxisKind::longitude, 1, true, 2);
    bool zero_at_180 = false;
    for (int i = 0; i < wt.count; ++i) zero_at_180 |= std::string(wt.text[i]) == "0" && std::fabs(wt.cell[i] - 180) < 1e-9;
    EXPECT_TRUE(zero_at_180);

    // No ticks where the coordinate cannot place them.
    const double zigzag[] = {0, 10, 5, 20}, flat[] = {3, 3, 3}, gap[] = {0, NAN, 20};
    EXPECT_EQ(choose_ticks(zigzag, 4, AxisKind::plain, 64, true, 2).count, 0);
    EXPECT_EQ(choose_ticks(flat, 3, AxisKind::latitude, 64, false, 2).count, 0);
    EXPECT_EQ(choose_ticks(gap, 3, AxisKind::plain, 64, true, 2).count, 0);
    EXPECT_EQ(choose_ticks(lat.data(), 1, AxisKind::latitude, 64, false, 2).count, 0);
    const double huge[] = {-1.5e308, 1.5e308}, far[] = {1e20, 1e20 + 65536};
    EXPECT_EQ(choose_ticks(huge, 2, AxisKind::plain, 64, true, 2).count, 0);
    const AxisTicks ft = choose_ticks(far, 2, AxisKind::plain, 256, true, 1); // ends, not hangs
    EXPECT_LE(ft.count, MAX_TICKS);

    // Plain coordinates take 1, 2, 5 steps.
    const double depth[] = {0.5, 1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5};
    const AxisTicks dt = choose_ticks(depth, 8, AxisKind::plain, 64, true, 2);
    ASSERT_GE(dt.count, 3);
    EXPECT_STREQ(dt.text[0], "1");
    EXPECT_NEAR(dt.cell[0], 0.5, 1e-12);

    char t[TICK_TEXT];
    const std::pair<double, const char*> lons[] = {{-180, "180"}, {180, "180"}, {370, "10E"}, {-0.0, "0"}, {-45, "45W"}, {200, "160W"}};
    for (const auto& [v, want] : lons) {
        tick_text(v, AxisKind::longitude, t);
        EXPECT_STREQ(t, want) << v;
    }
    tick_text(-30, AxisKind::latitude, t);
    EXPECT_STREQ(t, "30S");
    tick_text(2.5, AxisKind::plain, t);
    EXPECT_STREQ(t, "2.5");
}

TEST(FieldtoolMapTicks, TickMarksFollowTheDrawnRowOrder)
{
    // Latitudes 0, 3, 9: a tick at 5 lies a third of the way from row 1 to row 2.
    const double lat[] = {0, 3, 9};
    MapStyle style;
    style.row_coordinates = lat;
    for (const bool top : {false, true}) {
        style.row0_on_top = top;
        const Drawn d = draw({1, 2, 3}, 1, 3, style);
        ASSERT_EQ(d.m.row_ticks.count, 2);
        EXPECT_STREQ(d.m.row_ticks.text[1], "5N");
        const double f = 1 + 2.0 / 6, screen = top ? f : 2 - f;
        const int y = d.m.map_y + int(std::floor((screen + 0.5) * d.m.cell));
        const int x = d.m.map_x - 3; // on the tick mark, left of the frame
        EXPECT_TRUE(same(d.at(x, y), INK)) << "row 0 on top: " << top;
        EXPECT_FALSE(same(d.at(x, y - 3), INK));
        EXPECT_FALSE(same(d.at(x, y + 3), INK));
    }
}

TEST(FieldtoolFont, EveryPrintableCharacterHasItsOwnGlyph)
{
    auto rows_of = [](char c) {
        std::string s;
        for (int r = 0; r < GLYPH_HEIGHT; ++r) s += char(glyph_row(c, r));
        return s;
    };
    const std::string box = rows_of('\x01'), blank(GLYPH_HEIGHT, '\0');
    EXPECT_EQ(rows_of(' '), blank);
    std::vector<std::string> seen;
    for (char c = '!'; c <= '~'; ++c) {
        const std::string g = rows_of(c);
        EXPECT_NE(g, box) << c;
        EXPECT_NE(g, blank) << c;
        for (size_t i = 0; i < seen.size(); ++i) EXPECT_NE(g, seen[i]) << c << " looks like " << char('!' + i);
        seen.push_back(g);
    }
    EXPECT_NE(rows_of(DEGREE_SIGN), box);

    const char* s = "30\u00b0N \u00b5";
    EXPECT_EQ(glyph_count(s), 6);
    const char want[] = {'3', '0', DEGREE_SIGN, 'N', ' '};
    for (char w : want) EXPECT_EQ(next_glyph(s), w);
    EXPECT_EQ(rows_of(next_glyph(s)), box) << "a character without a glyph shows as a box";
    EXPECT_EQ(*s, '\0');
}

// One grammar for every LO:HI and A:B of the tools' command lines; a refusal
// names the option and the text given.
TEST(FieldioRanges, ValueAndStepRangesReadAndFailAlike)
{
    const struct {
        const char* text;
        double lo, hi;
    } values[] = {{"-0.5:0.5", -0.5, 0.5}, {"1e-3:2", 0.001, 2}, {"0x1p-2:1", 0.25, 1}, {"-3:-1", -3, -1}};
    for (const auto& v : values) {
        const ValueRange r = parse_value_range("--range", v.text);
        EXPECT_EQ(r.lo, v.lo) << v.text;
        EXPECT_EQ(r.hi, v.hi) << v.text;
    }
    for (const char* bad : {"1:0", "0:0", "a:1", "1", ":1", "1:", "1:2x", "nan:1", "0:inf", "1::2", ""}) {
        try {
            parse_value_range("--range", bad);
            ADD_FAILURE() << bad;
        } catch (const RunError& e) {
            EXPECT_EQ(e.file, "--range");
            EXPECT_EQ(e.cause, std::string("needs LO:HI, two numbers with LO below HI, not \"") + bad + "\"");
        }
    }
    const struct {
        const char* text;
        int64_t first, last;
    } steps[] = {{"2:9", 2, 9}, {":9", 1, 9}, {"5:", 5, 0}, {":", 1, 0}, {"7:7", 7, 7}};
    for (const auto& v : steps) {
        const StepRange r = parse_step_range("--field-steps", v.text);
        EXPECT_EQ(r.first, v.first) << v.text;
        EXPECT_EQ(r.last, v.last) << v.text;
    }
    const struct {
        const char* text;
        const char* cause;
    } refused[] = {{"4:2", "4:2 ends before it starts"},
                   {"0:3", "takes A:B, 1-based steps, not \"0:3\""},
                   {"3", "takes A:B, 1-based steps, not \"3\""},
                   {"-1:3", "takes A:B, 1-based steps, not \"-1:3\""},
                   {"1.5:3", "takes A:B, 1-based steps, not \"1.5:3\""},
                   {"1:99999999999999999999", "takes A:B, 1-based steps, not \"1:99999999999999999999\""}};
    for (const auto& v : refused) {
        try {
            parse_step_range("--series-steps", v.text);
            ADD_FAILURE() << v.text;
        } catch (const RunError& e) {
            EXPECT_EQ(e.file, "--series-steps");
            EXPECT_EQ(e.cause, v.cause);
        }
    }
}

TEST(FieldtoolMapErrors, BadGridOrRangeThrowsNamingThePictureAndLeavesNoFile)
{
    TempDir dir;
    const std::string out = dir.file("out.png");
    const float v[2] = {1, 2};
    MapStyle flat;
    flat.fixed_range = true;
    flat.lo = 1;
    flat.hi = 1;
    const struct {
        int32_t columns, rows;
        MapStyle style;
        std::string cause;
    } cases[] = {{2, 1, flat, "the colour range"}, {0, 2, MapStyle{}, "a grid of 2 rows"}};
    for (const auto& c : cases) {
        try {
            write_map_png(out, v, c.columns, c.rows, c.style);
            ADD_FAILURE() << "no error for " << c.cause;
        } catch (const RunError& e) {
            EXPECT_EQ(e.file, out);
            EXPECT_EQ(e.cause.rfind(c.cause, 0), 0u) << e.cause;
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path)) << "neither the picture nor a temporary file";
}
