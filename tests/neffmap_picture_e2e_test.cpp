// neffmap's picture as a user gets it: each format by its name, the title saying
// what was tested, the dots on the points of the chosen mask, p on a log scale,
// and a grid of one row.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "map_file.hpp"
#include "neffmap_runs.hpp"
#include "picture_support.hpp"
#include "test_support.hpp"

namespace {

long long map_count(const std::string& path, const char* name)
{
    int nc;
    long long v = -1;
    if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) return v;
    nc_get_att_longlong(nc, NC_GLOBAL, name, &v);
    nc_close(nc);
    return v;
}

std::string hidden_files(const std::string& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string()[0] == '.') names += e.path().filename().string() + " ";
    return names;
}

// Where sampledata's cells lie on a map found in a picture: longitudes 0, 360/n,
// … with cells a step wide; latitudes -90 … 90 in equal steps, the polar cells
// cut at the poles.
struct SampleGrid {
    int columns, rows;
    double x(const Box& map, int c, double offset = 0) const
    {
        return map.x0 + (c + 0.5 + offset) / columns * map.width();
    }
    double y(const Box& map, int r, double offset = 0) const
    {
        const double step = 180.0 / (rows - 1), lat = -90 + step * r;
        const double south = std::max(-90.0, lat - step / 2), north = std::min(90.0, lat + step / 2);
        return map.y0 + (90 - (0.5 * (south + north) - offset * step)) / 180 * map.height();
    }
};

} // namespace

TEST(NeffmapPicture, EachFormatShowsTheMapAndItsTitleSaysWhatWasTested)
{
    TempDir dir;
    generate(dir, {"--lon", "72", "--lat", "36", "--steps", "120", "--series-phi", "0.3", "--field-phi", "0.3",
                   "--region-r", "0.6", "--missing", "10", "--seed", "5", "f.nc", "idx.csv"});
    const std::vector<std::string> in = {"f.nc", "field", "idx.csv:index"};
    auto run = [&](const std::string& out, std::vector<std::string> options) {
        std::vector<std::string> args = in;
        args.push_back(out);
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--quiet");
        const RunResult r = run_neffmap(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
    };

    // The planted region (the middle third of the latitudes, the second quarter
    // of the longitudes) red, away from its dots; the rest of the map pale.
    const SampleGrid grid{72, 36};
    auto shows_the_region = [&](const Pixels& p) {
        ASSERT_GT(p.width, 0);
        const Box map = find_map_and_bar(p).map;
        int red_inside = 0, strong_outside = 0;
        for (int r = 13; r < 23; r += 3)
            for (int c = 19; c < 35; c += 3) {
                const uint32_t v = p.at(int(grid.x(map, c, 0.3)), int(grid.y(map, r, 0.3)));
                red_inside += red(v) > blue(v) + 60;
            }
        for (int r = 2; r < 34; r += 4)
            for (int c = 40; c < 70; c += 5) {
                const uint32_t v = p.at(int(grid.x(map, c, 0.3)), int(grid.y(map, r, 0.3)));
                strong_outside += std::abs(red(v) - blue(v)) > 60;
            }
        EXPECT_GE(red_inside, 18) << "of 24 cells in the region";
        EXPECT_LE(strong_outside, 4) << "of 48 cells outside it";
    };

    run("m.nc", {"--picture", "m.pdf"});
    EXPECT_EQ(run_program(PDFINFO_EXE, "", dir.path, {"m.pdf"}).status, 0);
    std::string text = run_program(PDFTOTEXT_EXE, "", dir.path, {"m.pdf", "-"}).out;
    const std::string counts = std::to_string(map_count(dir.file("m.nc"), "points_tested")) + " points tested: " +
                               std::to_string(map_count(dir.file("m.nc"), "points_significant_local")) +
                               " with p < 0.05, " +
                               std::to_string(map_count(dir.file("m.nc"), "points_significant_fdr")) +
                               " significant after FDR at q = 0.1";
    for (const std::string& words :
         {std::string("Correlation of field with idx.csv:index, 2000-01 to 2009-12, N = 120"),
          std::string("t test, neff = min(chain, lag-1)"), counts, std::string("Pearson correlation with the series"),
          std::string("missing"), std::string("30°N")})
        EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
    EXPECT_NE(text.find("significant after FDR\n"), std::string::npos) << "the dots' legend in\n" << text;
    const RunResult page = run_program(PDFTOPPM_EXE, "", dir.path, {"-png", "-r", "72", "-singlefile", "m.pdf", "pdf"});
    ASSERT_EQ(page.status, 0) << page.err;
    shows_the_region(decode_png(read_file(dir.file("pdf.png"))));

    run("m.nc", {"--picture", "m.svg", "--no-coast"});
    EXPECT_EQ(run_program(XMLLINT_EXE, "", dir.path, {"--noout", "m.svg"}).status, 0);
    const RunResult raster = run_program(RSVG_CONVERT_EXE, "", dir.path, {"-o", "svg.png", "m.svg"});
    ASSERT_EQ(raster.status, 0) << raster.err;
    shows_the_region(decode_png(read_file(dir.file("svg.png"))));

    run("m.nc", {"--png", "m.png", "--no-coast"});
    shows_the_region(decode_png(read_file(dir.file("m.png"))));

    run("m.nc", {"--picture", "t.pdf", "--title", "Custom title"});
    text = run_program(PDFTOTEXT_EXE, "", dir.path, {"t.pdf", "-"}).out;
    EXPECT_NE(text.find("Custom title"), std::string::npos) << text;
    EXPECT_EQ(text.find("Correlation of"), std::string::npos) << text;
    EXPECT_EQ(text.find("t test"), std::string::npos) << text;
}

TEST(NeffmapPicture, DotsMarkTheChosenMaskAndPIsDrawnOnALogScale)
{
    TempDir dir;
    generate(dir, {"--lon", "72", "--lat", "36", "--steps", "120", "--series-phi", "0.5", "--field-phi", "0.5",
                   "--region-r", "0.3", "--missing", "10", "--seed", "8", "f.nc", "idx.csv"});
    const RunResult r = run_neffmap(dir, {"--quiet", "f.nc", "field", "idx.csv:index", "m.nc", "--picture", "p.png",
                                          "--png-var", "p", "--stipple", "local", "--no-coast"});
    ASSERT_EQ(r.status, 0) << r.err;
    const MapFile m(dir.file("m.nc"));
    const std::vector<double> p = m.values("p"), local = m.values("sig_local"), fdr = m.values("sig_fdr");
    ASSERT_EQ(p.size(), 72u * 36u);
    int local_only = 0;
    for (size_t i = 0; i < p.size(); ++i) local_only += local[i] == 1 && fdr[i] != 1;
    ASSERT_GE(local_only, 20) << "the masks must differ for the test to tell them apart";

    const Pixels pic = decode_png(read_file(dir.file("p.png")));
    ASSERT_GT(pic.width, 0);
    const MapAndBar parts = find_map_and_bar(pic);
    const SampleGrid grid{72, 36};
    int wrong_dots = 0, checked = 0, off_scale = 0;
    for (int row = 0; row < 36; ++row)
        for (int c = 0; c < 72; ++c) {
            const size_t i = size_t(row) * 72 + size_t(c);
            // A dot's core is black; the darkest p is a dark red.
            const bool dot = darkest_near(pic, grid.x(parts.map, c), grid.y(parts.map, row), 1) < 60;
            wrong_dots += dot != (local[i] == 1);
            if (!(p[i] > 1e-3 && p[i] < 0.3) || row == 0 || row == 35) continue;
            // Beside the dot, the cell's colour lies on the bar where log10 p does.
            const uint32_t colour = pic.at(int(grid.x(parts.map, c, 0.3)), int(grid.y(parts.map, row, 0.3)));
            const double at = bar_position_of(pic, parts.bar, colour), want = (std::log10(p[i]) + 4) / 4;
            off_scale += std::fabs(at - want) > 0.03;
            ++checked;
        }
    EXPECT_EQ(wrong_dots, 0);
    EXPECT_GE(checked, 300);
    EXPECT_EQ(off_scale, 0) << "of " << checked;
}

TEST(NeffmapPicture, AGridOfOneRowOfTenThousandPointsIsAStrip)
{
    TempDir dir;
    generate(dir, {"--lon", "10000", "--lat", "1", "--steps", "30", "--seed", "2", "f.nc", "idx.csv"});
    RunResult r = run_neffmap(dir, {"--quiet", "f.nc", "field", "idx.csv:index", "m.nc", "--picture", "strip.png",
                                    "--png-var", "neff_lag1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Pixels strip = decode_png(read_file(dir.file("strip.png")));
    ASSERT_GT(strip.width, 0);
    EXPECT_LT(strip.width, 4000);
    const Box map = find_map_and_bar(strip).map;
    EXPECT_NEAR(double(map.width()) / map.height(), 8, 0.5) << "as wide as the picture lets it be, 8 times its height";

    // slope is drawn where the map has the variable, and refused, before any
    // work, where it has not.
    r = run_neffmap(dir,
                    {"--quiet", "f.nc", "field", "idx.csv:index", "s.nc", "--picture", "s.png", "--png-var", "slope"});
    if (r.status == 0) {
        EXPECT_GT(decode_png(read_file(dir.file("s.png"))).width, 0);
    } else {
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "neffmap: --png-var: this map has no variable \"slope\" to draw\n");
        EXPECT_FALSE(file_exists(dir.file("s.nc")));
        EXPECT_FALSE(file_exists(dir.file("s.png")));
    }
    EXPECT_EQ(hidden_files(dir.path), "");
}
