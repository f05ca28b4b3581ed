// fieldtool's pieces that decide values: CSV cells, unpacking of stored numbers,
// the shortest text of a float, and where the map puts its colours.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "csv_input.hpp"
#include "map_picture.hpp"
#include "missing_points.hpp"
#include "netcdf_input.hpp"
#include "series_file.hpp"
#include "summary.hpp"
#include "test_support.hpp"

TEST(FieldtoolCsv, CellsAreSplitOnCommasWithQuotesAndBlanks)
{
    static CsvLine c;
    ASSERT_TRUE(split_csv_line(" 1990 , \"Nino 3.4, anomaly\",,\"say \"\"hi\"\"\"\r", c));
    ASSERT_EQ(c.count, 4);
    EXPECT_EQ(c.cells[0], "1990");
    EXPECT_EQ(c.cells[1], "Nino 3.4, anomaly");
    EXPECT_EQ(c.cells[2], "");
    EXPECT_EQ(c.cells[3], "say \"hi\"");
    ASSERT_TRUE(split_csv_line("a,", c));
    EXPECT_EQ(c.count, 2) << "a trailing comma ends with an empty cell";
    EXPECT_FALSE(split_csv_line("1,\"open", c));
}

TEST(FieldtoolCsv, CellValuesMissingNumbersAndRefusals)
{
    float v = 0;
    for (const char* missing : {"", "NaN", "nan", "NAN", "-nan", "+NaN", "nan(1)"}) {
        ASSERT_TRUE(parse_csv_value(missing, v)) << missing;
        EXPECT_EQ(bits(v), bits(MISSING_VALUE)) << missing;
    }
    ASSERT_TRUE(parse_csv_value("-0.1", v));
    EXPECT_EQ(bits(v), bits(-0.1f));
    ASSERT_TRUE(parse_csv_value("+2.5e3", v));
    EXPECT_EQ(v, 2500.0f);
    ASSERT_TRUE(parse_csv_value("1e-42", v)) << "below the normal range is still a value";
    EXPECT_GT(v, 0.0f);
    for (const char* bad : {"12abc", "1.2.3", "--1", "1e50", "-1e39", "n/a", "1 2"}) EXPECT_FALSE(parse_csv_value(bad, v)) << bad;
    // What makes a first line a header: a cell not written as a number.
    for (const char* number : {"", "1e400", "-1e39", "inf", "-nan", "0x1p3", "7"}) EXPECT_TRUE(looks_numeric(number)) << number;
    for (const char* word : {"year", "n/a", "1 2", "12abc", "-"}) EXPECT_FALSE(looks_numeric(word)) << word;
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
    const MapLayout m = plan_map(2, 2);
    EXPECT_EQ(m.cell, 64);
    EXPECT_GE(m.bar_w, 256);
    std::vector<unsigned char> rgb(size_t(m.width) * size_t(m.height) * 3);
    auto at = [&](int x, int y) {
        const unsigned char* p = &rgb[(size_t(y) * size_t(m.width) + size_t(x)) * 3];
        return Rgb{p[0], p[1], p[2]};
    };
    auto same = [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; };
    auto centre = [&](int col, int screen_row) { return at(m.map_x + col * m.cell + m.cell / 2, m.map_y + screen_row * m.cell + m.cell / 2); };

    draw_map(v, 2, 2, false, m, rgb.data());
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

    draw_map(v, 2, 2, true, m, rgb.data());
    EXPECT_TRUE(same(centre(0, 0), ramp_colour(0))) << "row 0 on top when asked";
    for (int i = 0; i <= 20; ++i) EXPECT_FALSE(same(ramp_colour(i / 20.0), MISSING_GREY));
}
