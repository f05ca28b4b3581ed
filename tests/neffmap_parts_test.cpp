// How neffmap cuts a grid of any shape into tiles.
#include <gtest/gtest.h>

#include <vector>

#include "netcdf_tiles.hpp"

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
