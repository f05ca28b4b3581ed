// fieldtool png as a user runs it: the format by the name's extension and no
// other, where the missing cell lands, the diverging scale and its range, what a
// template brings to the picture, and a grid of one column.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "picture_support.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string fieldtool = FIELDTOOL_EXE;

RunResult run_tool(const TempDir& dir, const std::vector<std::string>& args)
{
    return run_program(fieldtool, "", dir.path, args);
}

// The 3 × 4 grid of the records below, south to north.
const char* const GRID_CDL = R"(netcdf grid {
dimensions:
  time = 1 ; lat = 3 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ;
  float lat(lat) ; lat:units = "degrees_north" ;
  float lon(lon) ; lon:units = "degrees_east" ;
  float sst(time, lat, lon) ; sst:units = "degC" ; sst:long_name = "sea surface temperature" ;
data:
  time = 0 ;
  lat = -10, 0, 10 ;
  lon = 100, 110, 120, 130 ;
  sst = 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0 ;
}
)";

std::string hidden_files(const TempDir& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        if (e.path().filename().string()[0] == '.') names += e.path().filename().string() + " ";
    return names;
}

Pixels picture(const TempDir& dir, const std::vector<std::string>& args)
{
    const RunResult r = run_tool(dir, args);
    EXPECT_EQ(r.status, 0) << r.err;
    return decode_png(read_file(dir.file(args[2])));
}

constexpr uint32_t MISSING_GREY = 0xA0A0A0;

// The missing cells' pixels within the map: how many, and how far down the map
// their middle lies (0 top, 1 bottom).
struct Grey {
    int count = 0;
    double depth = -1;
};
Grey grey_in_map(const Pixels& p, const Box& map)
{
    Grey g;
    double sum = 0;
    for (int y = map.y0; y <= map.y1; ++y)
        for (int x = map.x0; x <= map.x1; ++x)
            if (p.at(x, y) == MISSING_GREY) sum += y, ++g.count;
    if (g.count) g.depth = (sum / g.count - map.y0) / map.height();
    return g;
}

// The colour at the middle of the cell in column col and picture row row (0 at
// the top) of a map of columns × rows equal cells.
uint32_t cell_colour(const Pixels& p, const Box& map, int columns, int rows, int col, int row)
{
    return p.at(int(map.x0 + (col + 0.5) * map.width() / columns), int(map.y0 + (row + 0.5) * map.height() / rows));
}

} // namespace

TEST(FieldtoolPicture, MissingCellIsGreyAndRowZeroLiesWhereTheGridSays)
{
    TempDir dir;
    // 4 columns × 3 rows; row 0, column 0 is missing.
    std::vector<float> v(12);
    for (int p = 0; p < 12; ++p) v[size_t(p)] = float(p) * 0.5f;
    v[0] = MISSING_VALUE;
    write_file(dir.file("map"), pair_bytes(1, 0, 0, {1}) + pair_bytes(NEFF_RECORD_TAG, 4, 3, v));

    Pixels p = picture(dir, {"png", "map", "map.png", "--record", "2"});
    ASSERT_GT(p.width, 0);
    MapAndBar parts = find_map_and_bar(p);
    Grey g = grey_in_map(p, parts.map);
    EXPECT_GT(g.depth, 2.0 / 3) << "row 0 at the bottom";
    const double cell = double(parts.map.width()) * parts.map.height() / 12;
    EXPECT_NEAR(g.count, cell, 0.04 * cell) << "exactly one cell is grey";

    p = picture(dir, {"png", "map", "flip.png", "--record", "2", "--flip"});
    g = grey_in_map(p, find_map_and_bar(p).map);
    EXPECT_LT(g.depth, 1.0 / 3) << "--flip: row 0 on top";

    // A template whose latitudes fall from north to south puts row 0 on top.
    std::string north = GRID_CDL;
    north.replace(north.find("lat = -10, 0, 10"), 16, "lat = 10, 0, -10");
    make_netcdf(dir, "north", north);
    make_netcdf(dir, "south", GRID_CDL);
    for (const char* like : {"north", "south"}) {
        p = picture(dir, {"png", "map", "like.png", "--record", "2", "--like", std::string(like) + ".nc", "sst"});
        g = grey_in_map(p, find_map_and_bar(p).map);
        EXPECT_EQ(g.depth < 0.5, std::string(like) == "north") << like << " " << g.depth;
        EXPECT_GT(g.count, 0.8 * cell) << like;
    }

    // Record 1 holds one value with no grid shape; there is no record 3.
    RunResult r = run_tool(dir, {"png", "map", "none.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("holds no grid to draw"), std::string::npos) << r.err;
    r = run_tool(dir, {"png", "map", "none.png", "--record", "3"});
    EXPECT_NE(r.err.find("has 2 record pairs, so there is no pair 3"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir.file("none.png")));
    EXPECT_EQ(hidden_files(dir), "");
}

TEST(FieldtoolPicture, DivergingRangeIsSymmetricInTenthsOrAsGiven)
{
    TempDir dir;
    // 4 columns × 3 rows; stored row 0 is the picture's bottom row (2).
    write_file(dir.file("map"), pair_bytes(NEFF_RECORD_TAG, 4, 3, {-0.5f, 0, 0.5f, 1, 0.25f, -0.25f, 0, 0, 0, 0, 0, 0}) +
                                    pair_bytes(NEFF_RECORD_TAG, 4, 3, {0.043f, -0.02f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    auto cells = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args = {"png", "map", "out.png"};
        args.insert(args.end(), options.begin(), options.end());
        const Pixels p = picture(dir, args);
        const MapAndBar parts = find_map_and_bar(p);
        std::vector<uint32_t> bottom;
        for (int c = 0; c < 4; ++c) bottom.push_back(cell_colour(p, parts.map, 4, 3, c, 2));
        bottom.push_back(cell_colour(p, parts.map, 4, 3, 0, 1)); // stored row 1, column 0: 0.25 or 0
        return bottom;
    };
    const auto mirrored = [](uint32_t c) { return uint32_t(blue(c)) << 16 | uint32_t(green(c)) << 8 | uint32_t(red(c)); };

    std::vector<uint32_t> c = cells({"--diverging"});
    ASSERT_EQ(c.size(), 5u);
    EXPECT_GE(lightness(c[1]), 3 * 240) << "0 is white";
    EXPECT_EQ(c[0], mirrored(c[2])) << "-0.5 and 0.5 mirror each other";
    EXPECT_GT(blue(c[0]), red(c[0]) + 50) << "below 0 is blue";
    EXPECT_GT(red(c[3]), blue(c[3]) + 80) << "the top of the range is red";

    c = cells({"--diverging", "--range", "-0.5:0.5"});
    EXPECT_EQ(c[3], c[2]) << "1 takes the colour of the end at 0.5";
    const uint32_t one = cells({"--diverging"})[3];
    EXPECT_EQ(c[0], mirrored(one)) << "-0.5 is now the blue end";

    c = cells({"--range", "0:0.25"});
    EXPECT_EQ(c[0], c[1]);
    EXPECT_EQ(c[2], c[3]);
    EXPECT_EQ(c[2], c[4]) << "0.5, 1 and 0.25 all at the top end";
    EXPECT_NE(c[0], c[2]);

    // The largest |value| 0.043 rounded up to a tenth: ±0.1, so 0.043 lies at
    // (0.043 + 0.1) / 0.2 along the bar and -0.02 at 0.4.
    const Pixels p = picture(dir, {"png", "map", "tenths.png", "--record", "2", "--diverging"});
    const MapAndBar parts = find_map_and_bar(p);
    EXPECT_NEAR(bar_position_of(p, parts.bar, cell_colour(p, parts.map, 4, 3, 0, 2)), 0.715, 0.02);
    EXPECT_NEAR(bar_position_of(p, parts.bar, cell_colour(p, parts.map, 4, 3, 1, 2)), 0.4, 0.02);

    for (const char* bad : {"1:0", "0:0", "a:1", "1", ":1", "1:2x", "nan:1", "0:inf"}) {
        const RunResult r = run_tool(dir, {"png", "map", "bad.png", "--range", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--range: needs LO:HI"), std::string::npos) << bad << ": " << r.err;
    }
    EXPECT_FALSE(file_exists(dir.file("bad.png")));
}

TEST(FieldtoolPicture, FormatByExtensionTitleAndLabelsFromTheTemplate)
{
    TempDir dir;
    make_netcdf(dir, "grid", GRID_CDL);
    std::vector<float> v(12, 18.5f);
    v[0] = MISSING_VALUE;
    write_file(dir.file("map"), pair_bytes(1, 0, 0, {1}) + pair_bytes(2, 4, 3, v));
    const std::vector<std::string> like = {"--record", "2", "--like", "grid.nc", "sst"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), like.begin(), like.end());
        const RunResult r = run_tool(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    };

    // SVG: well-formed XML that, rasterised, shows the grey cell at the bottom.
    run({"png", "map", "m.svg"});
    EXPECT_EQ(run_program(XMLLINT_EXE, "", dir.path, {"--noout", "m.svg"}).status, 0);
    const RunResult raster = run_program(RSVG_CONVERT_EXE, "", dir.path, {"-o", "svg.png", "m.svg"});
    ASSERT_EQ(raster.status, 0) << raster.err;
    const Pixels svg = decode_png(read_file(dir.file("svg.png")));
    ASSERT_GT(svg.width, 0);
    EXPECT_GT(grey_in_map(svg, find_map_and_bar(svg).map).depth, 2.0 / 3);

    // PDF: it opens, and its text holds the title (file, record, the template's
    // variable and units), the bar's label and the latitudes and longitudes.
    run({"png", "map", "m.pdf"});
    EXPECT_EQ(run_program(PDFINFO_EXE, "", dir.path, {"m.pdf"}).status, 0);
    std::string text = run_program(PDFTOTEXT_EXE, "", dir.path, {"m.pdf", "-"}).out;
    for (const char* words : {"map, record 2: sst (degC)", "sea surface temperature (degC)", "10°N", "120°E", "missing"})
        EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
    run({"png", "map", "t.PDF", "--title", "Record two"});
    text = run_program(PDFTOTEXT_EXE, "", dir.path, {"t.PDF", "-"}).out;
    EXPECT_NE(text.find("Record two"), std::string::npos) << text;
    EXPECT_EQ(text.find("record 2"), std::string::npos) << text;

    run({"png", "map", "m.png", "--size", "700x400"});
    const Pixels png = decode_png(read_file(dir.file("m.png")));
    EXPECT_EQ(png.width, 700);
    EXPECT_EQ(png.height, 400);

    // Any other name, a bad size or range, is refused before the record is read:
    // the record named does not even exist.
    const struct {
        std::vector<std::string> args;
        std::string says;
    } refused[] = {
        {{"png", "absent", "m.jpg"}, "m.jpg: a picture's name must end in .png, .svg or .pdf"},
        {{"png", "absent", "m"}, "m: a picture's name must end in .png"},
        {{"png", "absent", "m.png.txt"}, "m.png.txt: a picture's name must end in .png"},
        {{"png", "absent", "m.png", "--size", "20x20"}, "--size: each side must be 64 to 32767"},
        {{"png", "absent", "m.png", "--size", "30000x30000"}, "m.png: a PNG of 30000 x 30000 pixels"},
    };
    write_file(dir.file("m.jpg"), "an older file");
    for (const auto& c : refused) {
        const RunResult r = run_tool(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err.find("absent"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("fieldtool: " + c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_file(dir.file("m.jpg")), "an older file");
    EXPECT_FALSE(file_exists(dir.file("m")));
    EXPECT_FALSE(file_exists(dir.file("m.png.txt")));
    EXPECT_EQ(hidden_files(dir), "");

    // One column of 10000 cells, a whole record, is drawn as a strip.
    std::vector<float> column(10000);
    for (size_t i = 0; i < column.size(); ++i) column[i] = float(i % 101);
    write_file(dir.file("column"), pair_bytes(1, 1, 10000, column));
    const Pixels strip = picture(dir, {"png", "column", "strip.png"});
    ASSERT_GT(strip.width, 0);
    EXPECT_LT(strip.height, 4000);
    const Box map = find_map_and_bar(strip).map;
    EXPECT_NEAR(double(map.height()) / map.width(), 8, 0.5) << "as tall as the picture lets it be, 8 times its width";
}
