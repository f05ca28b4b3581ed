// The record layer: framing, skipping, truncation of reads, and writing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <memory>

#include "run_frame.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

// A SeriesFile on a path, outside the run frame's table, so each test owns its own.
struct TestFile {
    SeriesFile f;
    std::unique_ptr<unsigned char[]> buf{new unsigned char[SERIES_BUFFER_BYTES]};
    // `mappable` false reads a regular file the way a pipe or device is read:
    // through the block buffer rather than a mapping of the whole file.
    explicit TestFile(const std::string& path, bool mappable = true)
    {
        f.fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
        std::snprintf(f.name, sizeof f.name, "%s", path.c_str());
        f.regular = true;
        f.map_tried = !mappable;
        f.buf = buf.get();
    }
    ~TestFile()
    {
        flush_output(f);
        ::close(f.fd);
    }
};

// "FILE: cause" of the RunError a read throws, or "" when it goes through.
template <class Read>
std::string error_of(Read read)
{
    try {
        read();
    } catch (const RunError& e) {
        return e.file + ": " + e.cause;
    }
    return "";
}

// The error names the file (the last part of its path) and holds the cause.
testing::AssertionResult names(const std::string& error, const std::string& file, const std::string& cause)
{
    if (error.find("/" + file + ": ") != std::string::npos && error.find(cause) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << error << "\" does not name " << file << " and " << cause;
}

struct Matrix {
    std::unique_ptr<float, decltype(&release_tiles)> storage{reserve_tiles(), &release_tiles};
    FieldSeries s;
    Matrix() { s.v = storage.get(); }
    float at(int t, int p) const { return column(s, p)[t]; }
};

// Six rows of the given counts whose values name their step and point, so that a
// value read from the wrong step, tile or lane shows.
std::vector<std::vector<float>> numbered_rows(const int (&counts)[6])
{
    std::vector<std::vector<float>> rows;
    for (int t = 0; t < 6; ++t) {
        std::vector<float> row(size_t(counts[t]));
        for (int p = 0; p < counts[t]; ++p) row[size_t(p)] = float(t * MAX_POINTS + p + 1);
        rows.push_back(row);
    }
    return rows;
}

} // namespace

TEST(RecordWriting, PairOfThreeValuesIsFortyFourBytes)
{
    TempDir dir;
    const std::string path = dir.file("out");
    {
        TestFile out(path);
        const float v[3] = {1.5f, -2.0f, MISSING_VALUE};
        write_record_header(out.f, RecordHeader{7, 8, 9, 3});
        write_record_values(out.f, 3, v);
    }
    const std::string want = framed(header_payload(7, 8, 9, 3)) + framed(floats_payload({1.5f, -2.0f, MISSING_VALUE}));
    EXPECT_EQ(read_file(path).size(), 44u);
    EXPECT_EQ(read_file(path), want);
}

TEST(RecordWriting, FirstRecordDiscardsOldContentsAndNoRecordKeepsThem)
{
    TempDir dir;
    const std::string path = dir.file("out");
    const std::string old(1000, 'x');
    write_file(path, old);
    { TestFile untouched(path); }
    EXPECT_EQ(read_file(path), old);
    {
        TestFile out(path);
        write_record_header(out.f, RecordHeader{1, 2, 3, 0});
        write_record_values(out.f, 0, nullptr);
    }
    EXPECT_EQ(read_file(path), framed(header_payload(1, 2, 3, 0)) + framed(""));
}

TEST(RecordReading, LongHeadersExtraValuesAndZeroCounts)
{
    TempDir dir;
    const std::string path = dir.file("in");
    write_file(path, framed(header_payload(1, 2, 3, 2) + header_payload(5, 6, 7, 8)) +
                         framed(floats_payload({10.f, 20.f, 30.f})) + framed(header_payload(4, 0, 0, 0)) +
                         framed(floats_payload({99.f})));
    TestFile in(path);
    RecordHeader h;
    ASSERT_TRUE(read_record_header(in.f, h));
    EXPECT_EQ(h.w1, 1);
    EXPECT_EQ(h.w4, 2);
    float dest[4] = {-1, -1, -1, -1};
    read_record_values(in.f, h.w4, dest);
    EXPECT_EQ(dest[0], 10.f);
    EXPECT_EQ(dest[1], 20.f);
    EXPECT_EQ(dest[2], -1.f) << "values beyond the count asked for are skipped, not stored";
    ASSERT_TRUE(read_record_header(in.f, h));
    EXPECT_EQ(h.w1, 4);
    read_record_values(in.f, 0, dest);
    EXPECT_EQ(dest[0], 10.f);
    EXPECT_FALSE(read_record_header(in.f, h));
    EXPECT_FALSE(read_record_header(in.f, h)) << "the end is reported again, consuming nothing";
}

TEST(RecordReading, WholeSeriesWithDifferingCounts)
{
    TempDir dir;
    const std::string path = dir.file("in");
    write_file(path, pair_bytes(1, 0, 0, {1, 2, 3}) + pair_bytes(2, 11, 12, {4}) + pair_bytes(3, 21, 22, {5, 6}));
    TestFile in(path);
    Matrix m;
    read_field_series(in.f, m.s);
    EXPECT_EQ(m.s.count, 3);
    EXPECT_EQ(m.s.last.w1, 3);
    EXPECT_EQ(m.s.last.w2, 21);
    EXPECT_EQ(m.s.last.w4, 2);
    EXPECT_EQ(m.at(0, 2), 3.f);
    EXPECT_EQ(m.at(1, 0), 4.f);
    EXPECT_EQ(m.at(1, 1), 0.f) << "cells no record fills stay zero";
    EXPECT_EQ(m.at(2, 1), 6.f);
    EXPECT_EQ(m.at(3, 0), 0.f);
}

TEST(RecordReading, EmptyFileIsAnEmptySeries)
{
    TempDir dir;
    write_file(dir.file("in"), "");
    TestFile in(dir.file("in"));
    Matrix m;
    read_field_series(in.f, m.s);
    EXPECT_EQ(m.s.count, 0);
}

TEST(RecordReading, RecordsLargerThanTheBufferArriveWhole)
{
    TempDir dir;
    std::vector<std::vector<float>> field(3, std::vector<float>(MAX_POINTS));
    for (int t = 0; t < 3; ++t)
        for (int p = 0; p < MAX_POINTS; ++p) field[t][p] = float(t * MAX_POINTS + p);
    // A long header first, so that records straddle the buffer's end.
    write_file(dir.file("in"), framed(header_payload(0, 0, 0, 0) + std::string(SERIES_BUFFER_BYTES - 50, 'h')) +
                                   framed("") + field_bytes(field));
    for (bool mappable : {true, false}) {
        TestFile in(dir.file("in"), mappable);
        Matrix m;
        read_field_series(in.f, m.s);
        ASSERT_EQ(m.s.count, 4);
        for (int t = 0; t < 3; ++t)
            for (int p = 0; p < MAX_POINTS; p += 997) EXPECT_EQ(m.at(t + 1, p), field[t][p]);
        EXPECT_EQ(m.at(3, MAX_POINTS - 1), field[2][MAX_POINTS - 1]);
    }
}

// Each malformed file must end the run with the file named and the cause given.
struct BadFile {
    const char* what;
    std::string bytes;
    const char* cause;
};

class RecordReadingFails : public testing::TestWithParam<int> {};

static std::vector<BadFile> bad_files()
{
    const std::string good = pair_bytes(1, 0, 0, {1, 2});
    return {
        {"three bytes", "abc", "ends inside a record"},
        {"header without data", framed(header_payload(1, 0, 0, 2)), "ends inside a record"},
        {"inside a payload", good.substr(0, good.size() - 7), "ends inside a record"},
        {"inside the trailing marker", good.substr(0, good.size() - 2), "ends inside a record"},
        {"short header", framed(std::string(12, '\0')) + framed(""), "short record"},
        {"short data", framed(header_payload(1, 0, 0, 3)) + framed(floats_payload({1, 2})), "short record"},
        {"negative marker", le32(-4) + std::string(8, '\0'), "negative"},
        {"huge marker", le32(0x7fffffff) + header_payload(1, 0, 0, 0), "ends inside a record"},
        {"markers disagree", framed_with(16, header_payload(1, 0, 0, 0), 20) + framed(""), "disagree"},
        {"too many points", framed(header_payload(1, 0, 0, MAX_POINTS + 1)) + framed(""), "capacity"},
        {"negative count", framed(header_payload(1, 0, 0, -1)) + framed(""), "negative value count"},
    };
}

TEST_P(RecordReadingFails, NamesFileAndCause)
{
    const BadFile bad = bad_files()[size_t(GetParam())];
    TempDir dir;
    const std::string path = dir.file("bad.dat");
    write_file(path, bad.bytes);
    for (bool mappable : {true, false}) {
        const std::string error = error_of([&] {
            TestFile in(path, mappable);
            Matrix m;
            read_field_series(in.f, m.s);
        });
        EXPECT_TRUE(names(error, "bad.dat", bad.cause)) << bad.what << (mappable ? " (mapped)" : " (buffered)");
    }
}

INSTANTIATE_TEST_SUITE_P(Malformed, RecordReadingFails, testing::Range(0, int(bad_files().size())));

TEST(RecordReading, MoreThanTwoThousandPairsIsFatalButTwoThousandIsFine)
{
    TempDir dir;
    std::string bytes;
    for (int t = 0; t < MAX_STEPS; ++t) bytes += pair_bytes(t + 1, 0, 0, {float(t)});
    write_file(dir.file("full"), bytes);
    write_file(dir.file("over"), bytes + pair_bytes(MAX_STEPS + 1, 0, 0, {0}));
    {
        TestFile in(dir.file("full"));
        Matrix m;
        read_field_series(in.f, m.s);
        EXPECT_EQ(m.s.count, MAX_STEPS);
        EXPECT_EQ(m.at(MAX_STEPS - 1, 0), float(MAX_STEPS - 1));
    }
    const std::string error = error_of([&] {
        TestFile in(dir.file("over"));
        Matrix m;
        read_field_series(in.f, m.s);
    });
    EXPECT_TRUE(names(error, "over", "capacity"));
}

TEST(RecordReading, TilesOfEveryWidthHoldTheSameCells)
{
    // Rows of differing counts, one at full capacity: each row fills its own
    // points, and every other cell (higher points of a shorter row, the row above
    // the last) reads 0.0 in every layout.
    const int counts[] = {MAX_POINTS, 17, 0, 33, MAX_POINTS - 1, 20};
    const std::vector<std::vector<float>> rows = numbered_rows(counts);
    TempDir dir;
    write_file(dir.file("in"), field_bytes(rows, 4, 5));
    // Through the buffer, full records straddle its end and are read in pieces.
    for (bool mappable : {true, false})
    for (int32_t lanes : {1, 4, 8, 16, 5}) {
        TestFile in(dir.file("in"), mappable);
        Matrix m;
        m.s.lanes = lanes;
        read_field_series(in.f, m.s);
        ASSERT_EQ(m.s.count, 6);
        EXPECT_EQ(m.s.last.w4, 20);
        // A mapped input's tiles are as deep as its pairs and one step more.
        EXPECT_EQ(m.s.depth, mappable ? 7 : MAX_STEPS);
        int wrong = 0;
        for (int t = 0; t <= 6; ++t)
            for (int p = 0; p < MAX_POINTS; ++p) {
                const float want = t < 6 && p < counts[t] ? rows[size_t(t)][size_t(p)] : 0.0f;
                wrong += m.s.v[cell(m.s, t, p)] != want;
            }
        EXPECT_EQ(wrong, 0) << lanes << " lanes" << (mappable ? "" : ", through the buffer");
    }
}

TEST(RecordReading, GatheringAStepOfTheTilesGivesBackItsRecord)
{
    // Each value names its step and point, so a value taken from the wrong step,
    // tile or lane shows; the counts end the last tile at every lane and leave
    // points after a short record's count as zeros.
    const int counts[] = {MAX_POINTS, 17, 1, 33, MAX_POINTS - 1, 20};
    const std::vector<std::vector<float>> rows = numbered_rows(counts);
    TempDir dir;
    write_file(dir.file("in"), field_bytes(rows));
    static float got[MAX_POINTS];
    for (bool mappable : {true, false})
        for (int32_t lanes : {1, 4, 8, 16, 5}) {
            TestFile in(dir.file("in"), mappable);
            Matrix m;
            m.s.lanes = lanes;
            read_field_series(in.f, m.s);
            ASSERT_EQ(m.s.count, 6);
            int wrong = 0;
            for (int t = 0; t < 6; ++t)
                for (int k : {counts[t], counts[t] > 0 ? counts[t] - 1 : 0, MAX_POINTS}) {
                    std::fill(got, got + MAX_POINTS, -1.0f);
                    gather_step(m.s, t, k, got);
                    for (int p = 0; p < MAX_POINTS; ++p) {
                        // Nothing is written past the k values asked for.
                        const float want = p >= k ? -1.0f : p < counts[t] ? rows[size_t(t)][size_t(p)] : 0.0f;
                        wrong += got[p] != want;
                    }
                }
            EXPECT_EQ(wrong, 0) << lanes << " lanes" << (mappable ? "" : ", through the buffer");
        }
}

TEST(RecordReading, TileWidthThatDoesNotDivideTheCapacityIsRefused)
{
    TempDir dir;
    write_file(dir.file("in.dat"), pair_bytes(1, 0, 0, {1, 2}));
    const std::string error = error_of([&] {
        TestFile in(dir.file("in.dat"));
        Matrix m;
        m.s.lanes = 3;
        read_field_series(in.f, m.s);
    });
    EXPECT_TRUE(names(error, "in.dat", "tile width"));
}

TEST(RecordReading, InputShortenedWhileMappedEndsOnTheFatalPath)
{
    TempDir dir;
    const std::string path = dir.file("shrinking");
    std::vector<std::vector<float>> field(4, std::vector<float>(MAX_POINTS, 1.0f));
    write_file(path, field_bytes(field));
    EXPECT_EXIT(
        {
            SeriesFile& f = open_input(path);
            RecordHeader h;
            static float row[MAX_POINTS];
            read_record_header(f, h);
            if (::truncate(path.c_str(), 100) != 0) std::exit(5);
            read_record_values(f, h.w4, row);
            read_record_header(f, h);
            read_record_values(f, h.w4, row);
            std::exit(0);
        },
        testing::ExitedWithCode(2), "shrinking: file was shortened while being read");
}

namespace {
// KiB of the mapping holding `address` that are resident in this process, from its
// entry in /proc/self/smaps, or -1 where no mapping holds it. Counted per mapping,
// the figure is the same whatever file system the file lies on (pages of a file
// on tmpfs count as shared memory, not as file pages, in the process totals).
long resident_kib_of_mapping(const void* address)
{
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        // A mapping's entry starts with its address range "lo-hi", then its fields.
        const std::string range = line.substr(0, line.find(' '));
        if (range.find('-') != std::string::npos && range.find(':') == std::string::npos) {
            unsigned long long lo = 0, hi = 0;
            char dash = 0;
            std::istringstream(range) >> std::hex >> lo >> dash >> hi;
            inside = lo <= at && at < hi;
        } else if (inside && line.rfind("Rss:", 0) == 0) {
            return std::stol(line.substr(4));
        }
    }
    return -1;
}
} // namespace

TEST(RecordReading, AMappedInputIsHandedBackAsItIsRead)
{
    // A 20 MB file read into tiles: the program then holds the tiles, not also
    // the file it read them from.
    const int32_t points = 2500;
    const std::string row = framed(header_payload(0, 0, 0, points));
    std::vector<float> values(static_cast<size_t>(points));
    for (int32_t p = 0; p < points; ++p) values[size_t(p)] = float(p);
    const std::string data = framed(floats_payload(values));
    std::string bytes;
    for (int t = 0; t < MAX_STEPS; ++t) bytes += row + data;
    TempDir dir;
    write_file(dir.file("in"), bytes);
    bytes.clear();
    TestFile in(dir.file("in"));
    Matrix m;
    m.s.lanes = 16;
    read_field_series(in.f, m.s);
    ASSERT_TRUE(in.f.mapped);
    const long resident = resident_kib_of_mapping(in.f.buf);
    ASSERT_GE(resident, 0) << "no entry in /proc/self/smaps for the mapped input";
    EXPECT_LT(resident, 4096) << "KiB of the input still resident after reading it";
    ASSERT_EQ(m.s.count, MAX_STEPS);
    EXPECT_EQ(m.s.v[cell(m.s, MAX_STEPS - 1, points - 1)], float(points - 1));
}
