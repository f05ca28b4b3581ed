// lagscan run as a user runs it: answers on standard input, files in a directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "reference.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string lagscan = LAGSCAN_EXE;
const std::string prompts = " Input values?\n Output?\n";

RunResult run_lagscan(const TempDir& dir, const std::string& answers) { return run_program(lagscan, answers, dir.path); }

} // namespace

TEST(LagscanRun, WritesOnePairPerLagWithTheLastHeader)
{
    TempDir dir;
    write_file(dir.file("in"), pair_bytes(1, 5, 6, {1, 2}) + pair_bytes(2, 5, 6, {2, 4}) +
                                   pair_bytes(3, 5, 6, {3, 6}) + pair_bytes(99, 7, 8, {4, 8}));
    const RunResult r = run_program(lagscan, "in\nout\n", dir.path, {"ignored", "--help"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, prompts);
    EXPECT_EQ(r.err, "");
    const ParsedSeries s = parse_series(read_file(dir.file("out")));
    ASSERT_TRUE(s.ok);
    ASSERT_EQ(s.pairs.size(), 3u);
    // 0.1875, -0.225 and -0.3375 as single precision gives them through the rounded
    // variance 1.6666666: the middle one lies one step past the float nearest -0.225.
    const uint32_t want[3] = {0x3e400000u, 0xbe666667u, 0xbeaccccdu};
    for (int j = 0; j < 3; ++j) {
        const ParsedPair& p = s.pairs[size_t(j)];
        EXPECT_EQ(p.w[0], j + 1);
        EXPECT_EQ(p.w[1], 7);
        EXPECT_EQ(p.w[2], 8);
        EXPECT_EQ(p.w[3], 2);
        EXPECT_EQ(bits(p.values[0]), want[j]) << "lag " << j + 1;
        EXPECT_EQ(bits(p.values[1]), want[j]) << "doubling a series changes nothing";
    }
}

TEST(LagscanRun, OutputBytesEqualAPlainScalarLoop)
{
    TempDir dir;
    const Field x = random_field(61, 53, 7, true);
    write_file(dir.file("in"), field_bytes(x, 3, 4));
    const RunResult r = run_lagscan(dir, "in\nout\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const Field aut = plain_autocorrelations(x, 53);
    std::string want;
    for (size_t j = 0; j < aut.size(); ++j) want += pair_bytes(int32_t(j + 1), 3, 4, aut[j]);
    EXPECT_TRUE(same_series(want, read_file(dir.file("out"))));
}

TEST(LagscanRun, LongHostileSeriesAndRecordsOfDifferingLengths)
{
    // Whatever kernel this CPU gets: a full-length series whose points carry every
    // kind of hostile value, then rows of differing counts where the last decides.
    TempDir dir;
    const Field x = hostile_points_field(MAX_STEPS, 29, 11);
    Field ragged = random_field(9, 40, 12, false);
    ragged[2].resize(7);
    ragged[5].resize(3);
    ragged[8].resize(21);
    int round = 0;
    for (const auto& [field, n] : {std::pair{x, 29}, std::pair{ragged, 21}}) {
        const std::string out = "out" + std::to_string(++round);
        write_file(dir.file("in"), field_bytes(field, 3, 4));
        const RunResult r = run_lagscan(dir, "in\n" + out + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const Field aut = plain_autocorrelations(field, n);
        std::string want;
        for (size_t j = 0; j < aut.size(); ++j) want += pair_bytes(int32_t(j + 1), 3, 4, aut[j]);
        EXPECT_TRUE(same_series(want, read_file(dir.file(out)))) << out;
    }
}

TEST(LagscanRun, AwkwardShapesComeOutLagByLagAsThePlainLoopGivesThem)
{
    // Each point its own series with its own hostile kind, most lags finite, so a
    // lag written from the wrong step, tile or lane shows. 9999 points end the last
    // tile one lane short for every width and 17 leave one lane in it; two steps
    // give the single lag, 2000 every lag there can be.
    TempDir dir;
    int round = 0;
    for (const auto& [steps, points] : {std::pair{2, 9999}, std::pair{45, 9999}, std::pair{2, 17},
                                        std::pair{MAX_STEPS, 17}}) {
        const Field x = hostile_points_field(steps, points, unsigned(steps + points));
        const std::string out = "out" + std::to_string(++round);
        write_file(dir.file("in"), field_bytes(x, 3, 4));
        const RunResult r = run_lagscan(dir, "in\n" + out + "\n");
        ASSERT_EQ(r.status, 0) << r.err;
        const Field aut = plain_autocorrelations(x, points);
        std::string want;
        for (size_t j = 0; j < aut.size(); ++j) want += pair_bytes(int32_t(j + 1), 3, 4, aut[j]);
        EXPECT_TRUE(same_series(want, read_file(dir.file(out)))) << steps << " steps, " << points << " points";
    }
}

namespace {

// KiB this process holds in memory now.
long own_rss_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// A value of step t at point p that no other step or point repeats in a pattern:
// each point its own level and its own noise.
float full_field_value(int32_t t, int32_t p)
{
    if (t == 1 && (p % 1250 == 9 || p == MAX_POINTS - 1)) return MISSING_VALUE;
    uint32_t h = uint32_t(t) * 2654435761u ^ uint32_t(p) * 40503u;
    h ^= h >> 15;
    h *= 2246822519u;
    h ^= h >> 13;
    return float(p % 89) + float(h % 20000) / 1000.0f;
}

} // namespace

TEST(LagscanRun, FullCapacityRunHoldsOneMatrix)
{
    // 2000 steps of 10000 points is an 80 MB series and 80 MB of autocorrelations.
    // The run holds them one after the other in the same tiles, and hands back
    // the input file as it reads it: a little over 80 MB at its peak, where 160
    // would mean series and results (or file and tiles) held at once.
    TempDir dir;
    {
        std::ofstream in(dir.file("in"), std::ios::binary);
        std::vector<float> row(MAX_POINTS);
        for (int32_t t = 0; t < MAX_STEPS; ++t) {
            for (int32_t p = 0; p < MAX_POINTS; ++p) row[size_t(p)] = full_field_value(t, p);
            in << pair_bytes(t + 1, 3, 4, row);
        }
        ASSERT_TRUE(in.good());
    }
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's shadow memory and quarantine swell every process of that
    // build: the peak is held to its bound in the optimised build only.
    constexpr bool measured = false;
#else
    constexpr bool measured = true;
#endif
    // The system counts this process's resident set at the fork as part of the
    // program's peak.
    if (measured) {
        ASSERT_LT(own_rss_kib(), 30 * 1024) << "the test process is too large to measure the program by";
    }
    const RunResult r = run_lagscan(dir, "in\nout\n");
    ASSERT_EQ(r.status, 0) << r.err;
    if (measured) {
        EXPECT_LT(r.peak_rss_kib, 100 * 1024) << "KiB at lagscan's peak";
    }

    // Every lag of the points at the edges of tiles of every width, of the first
    // and the last, and of two missing ones, against the plain loop on their
    // series alone.
    const int32_t points[] = {0, 3, 4, 7, 8, 9, 15, 16, 17, 5000, 9983, 9984, 9998, MAX_POINTS - 1};
    const int count = int(std::size(points));
    Field x(MAX_STEPS, std::vector<float>(size_t(count)));
    for (int32_t t = 0; t < MAX_STEPS; ++t)
        for (int i = 0; i < count; ++i) x[size_t(t)][size_t(i)] = full_field_value(t, points[i]);
    const Field want = plain_autocorrelations(x, count);
    const std::string out = read_file(dir.file("out"));
    const size_t pair_size = 24 + 8 + 4 * size_t(MAX_POINTS);
    ASSERT_EQ(out.size(), size_t(MAX_STEPS - 1) * pair_size);
    int wrong = 0;
    for (int32_t j = 1; j < MAX_STEPS; ++j) {
        const size_t at = size_t(j - 1) * pair_size;
        ASSERT_EQ(out.substr(at, 28), framed(header_payload(j, 3, 4, MAX_POINTS)) + le32(4 * MAX_POINTS))
            << "lag " << j;
        for (int i = 0; i < count; ++i) {
            float v;
            std::memcpy(&v, out.data() + at + 28 + 4 * size_t(points[i]), 4);
            if (!same_value(want[size_t(j - 1)][size_t(i)], v) && ++wrong <= 5)
                ADD_FAILURE() << "lag " << j << " point " << points[i] << ": " << std::hex
                              << bits(want[size_t(j - 1)][size_t(i)]) << " wanted, " << bits(v) << " found";
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(want[0][5], MISSING_VALUE) << "point 9 is missing";
}

TEST(LagscanRun, ShortSeriesAndEmptyInputs)
{
    TempDir dir;
    const std::string old = "previous contents";
    // N = 0 from an empty input, and N = 1: no lag to write, and the output is
    // emptied rather than left holding an older result (created when absent). The
    // missing marker at the only step does not matter.
    write_file(dir.file("empty"), "");
    write_file(dir.file("one"), pair_bytes(1, 0, 0, {MISSING_VALUE, 2}));
    write_file(dir.file("out1"), old);
    RunResult r = run_lagscan(dir, "empty\nout0\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(file_exists(dir.file("out0")));
    EXPECT_EQ(read_file(dir.file("out0")), "");
    r = run_lagscan(dir, "one\nout1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("out1")), "");
    write_file(dir.file("out1"), old);
    r = run_lagscan(dir, "empty\nout1\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("out1")), "");
    // N = 2: one pair, variance divided by 1.
    write_file(dir.file("two"), pair_bytes(1, 0, 0, {1, MISSING_VALUE}) + pair_bytes(2, 0, 0, {3, MISSING_VALUE}));
    write_file(dir.file("out2"), old + old + old);
    r = run_lagscan(dir, "two\nout2\n");
    ASSERT_EQ(r.status, 0) << r.err;
    // mean 2, variance 2, lag-1 product -1, divided by N = 2: -0.5 / 2 = -0.25.
    EXPECT_EQ(read_file(dir.file("out2")), pair_bytes(1, 0, 0, {-0.25f, MISSING_VALUE}));
}

TEST(LagscanDialogue, NamesOfEightyCharactersAndTrailingBlanksDropped)
{
    TempDir dir;
    write_file(dir.file("in"), field_bytes({{1}, {2}, {4}}));
    const std::string name80 = std::string(75, 'a') + "b.dat";
    const std::string answers = "in   \n" + name80 + "      \n";
    const RunResult r = run_lagscan(dir, answers);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, prompts);
    EXPECT_EQ(parse_series(read_file(dir.file(name80))).pairs.size(), 2u);

    // One character more is an error, and nothing is opened or created.
    const RunResult longer = run_lagscan(dir, "in\n" + name80 + "X\n");
    EXPECT_EQ(longer.status, 2);
    EXPECT_NE(longer.err.find("file name longer than 80 characters"), std::string::npos) << longer.err;
    EXPECT_FALSE(file_exists(dir.file(name80 + "X")));

    // Leading blanks belong to the name; a last line without its end of line counts.
    const RunResult lead = run_lagscan(dir, "in\n  spaced out");
    ASSERT_EQ(lead.status, 0) << lead.err;
    EXPECT_EQ(parse_series(read_file(dir.file("  spaced out"))).pairs.size(), 2u);
}

TEST(LagscanDialogue, StandardInputEndingEarlyOpensNothing)
{
    TempDir dir;
    for (const char* answers : {"", "in\n"}) {
        const RunResult r = run_lagscan(dir, answers);
        EXPECT_NE(r.status, 0);
        EXPECT_FALSE(r.signalled);
        EXPECT_NE(r.err.find("standard input"), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(dir.file("in")));
    }
    const RunResult blank = run_lagscan(dir, "in\n\n");
    EXPECT_NE(blank.status, 0) << "an empty name cannot be opened";
}

TEST(LagscanFiles, TheSameFileTwiceIsCaughtBeforeAnyRecord)
{
    TempDir dir;
    const std::string data = field_bytes({{1}, {2}, {3}});
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    write_file(dir.file("in"), data);
    ASSERT_EQ(::link(dir.file("in").c_str(), dir.file("hard").c_str()), 0);
    for (const char* second : {"in", "hard", "sub/../in", "./in"}) {
        const RunResult r = run_lagscan(dir, std::string("in\n") + second + "\n");
        EXPECT_EQ(r.status, 2) << second;
        EXPECT_NE(r.err.find("already open"), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir.file("in")), data) << second;
    }
}

TEST(LagscanFiles, OutputFailuresAreNeverReportedAsSuccess)
{
    TempDir dir;
    write_file(dir.file("in"), field_bytes({{1}, {2}, {3}}));
    const RunResult full = run_lagscan(dir, "in\n/dev/full\n");
    EXPECT_EQ(full.status, 2);
    EXPECT_NE(full.err.find("/dev/full"), std::string::npos) << full.err;

    // Root writes through permissions: these runs go as nobody, in a directory
    // open to it.
    write_file(dir.file("locked"), "old");
    ASSERT_EQ(::chmod(dir.file("locked").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.file("in").c_str(), 0444), 0);
    ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
    RunOptions as_nobody;
    as_nobody.unprivileged = true;
    const RunResult ro = run_program(lagscan, "in\nlocked\n", dir.path, {}, as_nobody);
    if (ro.status == UNPRIVILEGED_RUN_FAILED && ro.err.find("cannot drop root privileges") != std::string::npos)
        GTEST_SKIP() << "running as root and unable to run as nobody: " << ro.err;
    EXPECT_EQ(ro.status, 2);
    EXPECT_EQ(ro.err, "lagscan: locked: Permission denied\n");
    EXPECT_EQ(read_file(dir.file("locked")), "old");
    // A read-only input is read normally.
    const RunResult ok = run_program(lagscan, "in\nout\n", dir.path, {}, as_nobody);
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(parse_series(read_file(dir.file("out"))).pairs.size(), 2u);
}

TEST(LagscanFiles, BadInputsEndOnTheFatalPathNamingTheFile)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("adir").c_str(), 0755), 0);
    write_file(dir.file("cut"), field_bytes({{1}, {2}}).substr(0, 30));
    write_file(dir.file("out"), "kept");
    for (const char* input : {"adir", "cut", "missing/dir/file"}) {
        const RunResult r = run_lagscan(dir, std::string(input) + "\nout\n");
        EXPECT_EQ(r.status, 2) << input;
        EXPECT_FALSE(r.signalled);
        EXPECT_NE(r.err.find(input), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir.file("out")), "kept");
    }
}
