// How neffmap cuts a grid of any shape into tiles, and what its picture's title says.
#include <gtest/gtest.h>

#include <vector>

#include "netcdf_tiles.hpp"
#include "result_picture.hpp"

namespace {

TimeVariable grid(std::vector<size_t> sizes)
{
    TimeVariable tv;
    tv.rank = int(sizes.size());
    for (int d = 0; d < tv.rank; ++d) tv.sizes[d] = sizes[size_t(d)];
    for (int d = 1; d < tv.rank; ++d) tv.points *= int64_t(sizes[size_t(d)]);
    return tv;
}

// Tiles follow each other without gap or overlap, stay within capacity, and each
// is whole lines or a piece of one line.
TEST(NeffmapTiles, CoverEveryPointOnceInOrder)
{
    const std::vector<std::vector<size_t>> shapes = {
        {12, 73, 144}, {12, 360, 720}, {12, 3, 40, 100}, {12, 1, 12000}, {12, 25000}, {12, 7}, {12}, {12, 2, 3, 10001}};
    for (const auto& shape : shapes) {
        const TimeVariable tv = grid(shape);
        for (int32_t capacity : {10000, 7}) {
            const int64_t n = tile_count(tv, capacity);
            int64_t next = 0;
            for (int64_t k = 0; k < n; ++k) {
                const PointTile t = tile_at(tv, capacity, k);
                ASSERT_EQ(t.first_point, next) << shape.size() << " dims, tile " << k;
                ASSERT_GT(t.points, 0);
                ASSERT_LE(t.points, capacity);
                ASSERT_EQ(int64_t(t.points), t.lines * t.columns);
                ASSERT_TRUE(t.lines == 1 || t.first_column == 0);
                next += t.points;
            }
            EXPECT_EQ(next, tv.points) << shape.size() << " dims, capacity " << capacity;
        }
    }
    // 73 rows of 144 points: 69 rows fit in a tile, so two tiles.
    EXPECT_EQ(tile_count(grid({12, 73, 144}), 10000), 2);
    EXPECT_EQ(tile_at(grid({12, 73, 144}), 10000, 1).first_line, 69);
}

} // namespace

// The picture's title with every fact the run may know, dates, lag, transforms
// and the phase test included, and with only the steps.
TEST(NeffmapPictureTitle, EveryKnownFactIsSaidAndNoOther)
{
    TestedFacts dated;
    dated.variable = "sst";
    dated.units = "K";
    dated.series = "nino34.csv:nino34";
    dated.steps = 108;
    dated.field_first = 25;
    dated.series_first = 23;
    dated.field_start = "1982-01";
    dated.field_end = "1990-12";
    dated.series_start = "1981-11";
    dated.series_end = "1990-10";
    dated.lag = 2;
    dated.step_unit = "month";
    dated.anomalies = dated.detrended = true;
    dated.method = NeffMethod::lag1;
    dated.alpha = 0.01;
    dated.q = 0.05;
    TestedFacts steps;
    steps.variable = "t2m";
    steps.units = "1";
    steps.series = "idx.dat";
    steps.steps = 240;
    steps.field_first = 13;
    steps.series_first = 1;
    steps.lag = -1;
    steps.detrended = true;
    steps.phase_surrogates = 1000;
    MapTest result;
    result.counts.tested = 1000;
    result.counts.local = 80;
    result.fdr = 35;
    const struct {
        const TestedFacts& facts;
        std::string title, subtitle;
    } cases[] = {
        {dated,
         "Correlation of sst (K) with nino34.csv:nino34, 1982-01 to 1990-12 (series 1981-11 to 1990-10), N = 108, "
         "series leading by 2 months",
         "anomalies, detrended · t test, neff = lag-1 · 1000 points tested: 80 with p < 0.01, 35 significant after "
         "FDR at q = 0.05"},
        {steps, "Correlation of t2m with idx.dat, field steps 13–252 with series steps 1–240, N = 240, field leading by 1 step",
         "detrended · phase test, M = 1000 · 1000 points tested: 80 with p < 0.05, 35 significant after FDR at q = 0.1"},
    };
    for (const auto& c : cases) {
        const PictureTitle t = picture_title(c.facts, result);
        EXPECT_EQ(t.title, c.title);
        EXPECT_EQ(t.subtitle, c.subtitle);
    }
}
