// Every kernel path this CPU runs, fed tiles the way lagscan builds them (through
// the series reader), against the plain definition, value by value.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "autocorrelation.hpp"
#include "run_error.hpp"
#include "reference.hpp"
#include "test_support.hpp"

namespace {

using Matrix = std::unique_ptr<float, decltype(&release_tiles)>;

// Writes x as a series file and reads it back into tiles of `lanes` points:
// through the block buffer, as from a pipe (tiles MAX_STEPS deep), or `mapped`,
// as from a regular file (tiles one step deeper than the series, at most
// MAX_STEPS).
Matrix read_tiled(const std::string& file_bytes, int32_t lanes, FieldSeries& xs, bool mapped = false)
{
    TempDir dir;
    write_file(dir.file("in"), file_bytes);
    std::unique_ptr<unsigned char[]> buf(new unsigned char[SERIES_BUFFER_BYTES]);
    SeriesFile f;
    f.fd = ::open(dir.file("in").c_str(), O_RDONLY);
    std::snprintf(f.name, sizeof f.name, "in");
    f.buf = buf.get();
    f.regular = mapped;
    Matrix m(reserve_tiles(), &release_tiles);
    xs = FieldSeries{};
    xs.lanes = lanes;
    xs.v = m.get();
    read_field_series(f, xs);
    if (f.mapped) {
        ::munmap(f.buf, f.len);
        f.buf = f.set_aside;
    }
    ::close(f.fd);
    const int32_t depth = mapped && xs.count < MAX_STEPS ? xs.count + 1 : MAX_STEPS;
    if (xs.depth != depth) ADD_FAILURE() << "tiles " << xs.depth << " steps deep, not " << depth;
    return m;
}

// The kernel over the tiles, then each lag collected from them the way lagscan
// writes its records.
Field path_autocorrelations(LagPath path, const std::string& file_bytes, bool mapped = false)
{
    FieldSeries xs;
    const Matrix in = read_tiled(file_bytes, lag_path_lanes(path), xs, mapped);
    const int32_t n = xs.count > 0 ? xs.last.w4 : 0;
    LagScratch scratch;
    compute_autocorrelations(path, xs, n, scratch);
    Field out(xs.count > 1 ? size_t(xs.count - 1) : 0, std::vector<float>(size_t(n)));
    for (size_t j = 0; j < out.size(); ++j) gather_step(xs, int32_t(j), n, out[j].data());
    return out;
}

testing::AssertionResult same_bits(const Field& want, const Field& got)
{
    if (want.size() != got.size()) return testing::AssertionFailure() << want.size() << " lags wanted, " << got.size();
    for (size_t j = 0; j < want.size(); ++j)
        for (size_t p = 0; p < want[j].size(); ++p)
            if (!same_value(want[j][p], got[j][p]))
                return testing::AssertionFailure() << "lag " << j + 1 << " point " << p << ": " << std::hex
                                                   << bits(want[j][p]) << " wanted, " << bits(got[j][p]) << " found";
    return testing::AssertionSuccess();
}

class KernelPath : public testing::TestWithParam<LagPath> {
protected:
    void SetUp() override
    {
        if (!runs_on(GetParam(), this_cpu()))
            GTEST_SKIP() << "this CPU lacks " << lag_path_name(GetParam())
                         << ": the path is built and chosen only where it runs, so it is not run here";
    }
    Field run(const Field& x, bool mapped = false) const
    {
        return path_autocorrelations(GetParam(), field_bytes(x, 5, 6), mapped);
    }
};

// Point counts that leave the last tile part-filled for every width, and one
// within a single tile.
const int point_counts[] = {1, 5, 17, 19, 35};
const int step_counts[] = {1, 2, 3, 7, 16, 17, 33, 257, 2000};

} // namespace

TEST_P(KernelPath, RandomFieldsOfEveryShape)
{
    for (int steps : step_counts)
        for (int points : point_counts) {
            const Field x = random_field(steps, points, unsigned(steps * 131 + points), false);
            EXPECT_TRUE(same_bits(plain_autocorrelations(x, points), run(x)))
                << steps << " steps, " << points << " points";
        }
}

TEST_P(KernelPath, HostileValuesStayInTheirOwnPointAndLag)
{
    for (int steps : step_counts) {
        const int points = 3 * HOSTILE_KINDS + 5; // every kind in several lanes
        const Field x = hostile_points_field(steps, points, unsigned(steps));
        EXPECT_TRUE(same_bits(plain_autocorrelations(x, points), run(x))) << steps << " steps";
    }
}

TEST_P(KernelPath, DenselySprinkledHostileValues)
{
    for (int steps : {2, 3, 7, 17, 33}) {
        const Field x = random_field(steps, 37, unsigned(steps) + 99, true);
        EXPECT_TRUE(same_bits(plain_autocorrelations(x, 37), run(x))) << steps << " steps";
    }
}

TEST_P(KernelPath, EveryStepCountAroundTheLagBlocks)
{
    // Lags run in blocks of 7, 8 or 15, over a ring of 7, 6 or 15 deviations and
    // steps unrolled as many times, after a first block that starts the lags: these
    // counts end a series in the first block of a pass, on a turn of the ring, and
    // at every place in between, with hostile values in the deviations the ring
    // carries and in the older ones read from memory.
    for (int steps = 1; steps <= 48; ++steps) {
        const Field x = random_field(steps, 21, unsigned(steps) + 500, true);
        EXPECT_TRUE(same_bits(plain_autocorrelations(x, 21), run(x))) << steps << " steps";
        const Field y = hostile_points_field(steps, HOSTILE_KINDS + 3, unsigned(steps) + 700);
        EXPECT_TRUE(same_bits(plain_autocorrelations(y, HOSTILE_KINDS + 3), run(y))) << steps << " steps";
    }
}

TEST_P(KernelPath, TheWholePointCapacityAndOneShort)
{
    // The last tile ends exactly at the capacity, or one point short of it; with
    // two steps the only lag lies in the first step of every tile, and in tiles
    // as deep as the series the lags fill them all but their last two steps.
    for (int steps : {2, 31})
        for (int points : {MAX_POINTS, MAX_POINTS - 1})
            for (bool mapped : {false, true}) {
                const Field x = random_field(steps, points, unsigned(points + steps), true);
                EXPECT_TRUE(same_bits(plain_autocorrelations(x, points), run(x, mapped)))
                    << steps << " steps, " << points << " points" << (mapped ? ", mapped" : "");
            }
}

TEST_P(KernelPath, EveryLagComesBackFromItsOwnTileAndLaneInTilesAsDeepAsTheSeries)
{
    // A mapped input packs the tiles one step deeper than the series (2000 at
    // most), so the lags fill all of each tile but its last step or two, and tile
    // b starts right after tile b - 1. Each point is its own distinct series: a lag collected
    // from the wrong step, tile or lane shows as another lag's or point's value.
    // 17 points leave one lane in a last tile for every width.
    for (int steps : {2, 3, 16, 17, MAX_STEPS})
        for (int points : {17, 35}) {
            const Field x = random_field(steps, points, unsigned(steps + points), false);
            EXPECT_TRUE(same_bits(plain_autocorrelations(x, points), run(x, true)))
                << steps << " steps, " << points << " points";
        }
}

TEST_P(KernelPath, ShorterRecordsLeaveZerosAndTheLastCountRules)
{
    // Rows of 40, 12, 40, 50 and finally 23 values: points beyond a row's own
    // count read 0.0 at that step, and only the first 23 points are computed.
    Field x = random_field(5, 50, 3, false);
    x[0].resize(40);
    x[1].resize(12);
    x[2].resize(40);
    x[4].resize(23);
    x[1].push_back(MISSING_VALUE); // point 12 is missing at step 2 all the same
    EXPECT_TRUE(same_bits(plain_autocorrelations(x, 23), run(x)));
    EXPECT_EQ(run(x)[0][12], MISSING_VALUE);
}

TEST_P(KernelPath, ScratchKeepsNothingOfAnEarlierLongerSeries)
{
    // One scratch for every call, as a thread keeps it. Before each short series,
    // one of the full capacity whose deviations are all NaN (inf less its mean, inf):
    // a deviation read past the short series' end brings NaN into its lags. The
    // lengths end the series in the first block of lags, on a turn of the ring and
    // in between; the last reaches the end of the scratch itself.
    const LagPath path = GetParam();
    const int32_t lanes = lag_path_lanes(path);
    const int points = 2 * lanes + 1;
    LagScratch scratch;
    const Field poison(MAX_STEPS, std::vector<float>(size_t(lanes), std::numeric_limits<float>::infinity()));
    std::vector<int> lengths;
    for (int steps = 2; steps <= 48; ++steps) lengths.push_back(steps);
    lengths.push_back(MAX_STEPS);
    for (int steps : lengths) {
        TiledField earlier = tiled_field(poison, lanes, lanes, MAX_STEPS, 0.0f);
        compute_autocorrelations(path, earlier.s, lanes, scratch);
        const Field x = random_field(steps, points, unsigned(steps) + 900, false);
        TiledField f = tiled_field(x, points, lanes, steps == MAX_STEPS ? MAX_STEPS : steps + 1, 0.0f);
        compute_autocorrelations(path, f.s, points, scratch);
        Field got(size_t(steps - 1), std::vector<float>(size_t(points)));
        for (int j = 0; j + 1 < steps; ++j) gather_step(f.s, j, points, got[size_t(j)].data());
        EXPECT_TRUE(same_bits(plain_autocorrelations(x, points), got)) << steps << " steps";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, KernelPath, testing::Values(LagPath::portable, LagPath::avx2, LagPath::avx512),
                         [](const testing::TestParamInfo<LagPath>& info) { return lag_path_name(info.param); });

TEST(KernelDispatch, SeriesTiledForAnotherPathIsRefused)
{
    const Field x = random_field(4, 3, 1, false);
    FieldSeries xs;
    const Matrix in = read_tiled(field_bytes(x), 1, xs);
    LagScratch scratch;
    try {
        compute_autocorrelations(LagPath::portable, xs, 3, scratch);
        ADD_FAILURE() << "a series in tiles of 1 point went to the 4-lane kernel";
    } catch (const RunError& e) {
        EXPECT_EQ(e.file, "portable");
        EXPECT_EQ(e.cause, "series tiled for another kernel");
    }
}
