// fieldtool's pieces that decide values: CSV cells, unpacking of stored numbers,
// the shortest text of a float, and the ranges of the command lines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "csv_series.hpp"
#include "missing_points.hpp"
#include "run_error.hpp"
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
