// sigcut and nstar run as a user runs them, and the whole chain.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>

#include "reference.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string lagscan = LAGSCAN_EXE;
const std::string sigcut = SIGCUT_EXE;
const std::string nstar = NSTAR_EXE;
const std::string nstar_prompts = " Autocorrelations of file 1 (timeseries)?\n Autocorrelations of file 2 (field)?\n"
                                  " Critical lag in file 1?\n Critical lag in file 2?\n Output file?\n";

std::string lags_file(const std::vector<std::vector<float>>& lags, int32_t w2 = 0, int32_t w3 = 0)
{
    return field_bytes(lags, w2, w3);
}

} // namespace

TEST(SigcutRun, WritesCriticLagsWithTheLastHeader)
{
    TempDir dir;
    Field x(40, {0.05f, 0.0f});
    x[0] = {0.9f, 0.0f}, x[1] = {0.8f, MISSING_VALUE}, x[2] = {0.5f, 0.0f}, x[3] = {0.1f, 0.0f};
    std::string bytes = lags_file(x);
    bytes += pair_bytes(77, 5, 6, {0.05f, 0.0f}); // 41 lag records, last header (77, 5, 6, 2)
    write_file(dir.file("aut"), bytes);
    const RunResult r = run_program(sigcut, "aut\n", dir.path, {"ignored"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, " Fichero 1 (input)?\n");
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(77, 5, 6, {2.0f, MISSING_VALUE}));
    EXPECT_EQ(read_file(dir.file("aut")), bytes);

    // A second run replaces the first result, even with fewer points.
    write_file(dir.file("aut2"), lags_file(Field(3, {0.5f})));
    ASSERT_EQ(run_program(sigcut, "aut2\n", dir.path).status, 0);
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(3, 0, 0, {0.0f}));
}

TEST(SigcutRun, EmptyInputWritesOnePairOfNoPoints)
{
    TempDir dir;
    write_file(dir.file("critic-lags"), pair_bytes(1, 2, 3, {4, 5, 6}));
    write_file(dir.file("empty"), "");
    const RunResult r = run_program(sigcut, "empty\n", dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(0, 0, 0, {}));
}

TEST(SigcutRun, WidthSixtyFourAndItsOwnOutputAsInput)
{
    TempDir dir;
    const std::string name64 = std::string(60, 'n') + ".aut";
    write_file(dir.file(name64), lags_file(Field(9, {0.0f})));
    const RunResult r = run_program(sigcut, name64 + "   \n", dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(parse_series(read_file(dir.file("critic-lags"))).pairs.size(), 1u);

    const std::string before = read_file(dir.file("critic-lags"));
    const RunResult same = run_program(sigcut, "critic-lags\n", dir.path);
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("already open"), std::string::npos) << same.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), before);
    EXPECT_NE(run_program(sigcut, "", dir.path).status, 0);
}

TEST(NstarRun, WorkedCaseWithSeveralValuesInFileOneAndLongFileTwo)
{
    TempDir dir;
    // File 1: 40 lags, several values each; only the first counts. File 2 holds
    // more pairs than file 1, and its second point has no significant lag.
    std::string f1, f2;
    for (int k = 1; k <= 40; ++k) {
        const float r = k == 1 ? 0.5f : k == 2 ? 0.25f : k == 3 ? 0.125f : 0.0f;
        const float a = k == 1 ? 0.4f : k == 2 ? 0.2f : k == 3 ? 0.1f : 0.0f;
        f1 += pair_bytes(k, 0, 0, {r, 99.0f, 99.0f});
        f2 += pair_bytes(k, 0, 0, {a, 0.0f});
    }
    f2 += "garbage after the last pair that is needed";
    write_file(dir.file("a1"), f1);
    write_file(dir.file("a2"), f2);
    write_file(dir.file("c1"), pair_bytes(1, 0, 0, {3.0f, 50.0f}));
    write_file(dir.file("c2"), pair_bytes(39, 144, 73, {2.0f, 0.0f}));
    const RunResult r = run_program(nstar, "a1\na2\nc1\nc2\nneff\n", dir.path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, nstar_prompts);
    const ParsedSeries s = parse_series(read_file(dir.file("neff")));
    ASSERT_TRUE(s.ok);
    ASSERT_EQ(s.pairs.size(), 1u);
    EXPECT_EQ(s.pairs[0].w[0], NEFF_RECORD_TAG);
    EXPECT_EQ(s.pairs[0].w[1], 144);
    EXPECT_EQ(s.pairs[0].w[2], 73);
    EXPECT_EQ(s.pairs[0].w[3], 2);
    // 40 / (1 + (1 * 0.4 + 0.5 * 0.2 + 0.25 * 0.1)), each step rounded to single
    // precision: S = 0.52499998, and 40 / 1.525 gives 26.229509 (bits 0x41d1d609).
    EXPECT_EQ(bits(s.pairs[0].values[0]), 0x41d1d609u) << s.pairs[0].values[0];
    EXPECT_NEAR(s.pairs[0].values[0], 26.2295f, 1e-4f);
    EXPECT_EQ(s.pairs[0].values[1], 40.0f) << "clag1 = 3 over a point of zero autocorrelations";
}

TEST(NstarRun, MissingPairsAndUnopenableInputsAreFatal)
{
    TempDir dir;
    write_file(dir.file("a1"), lags_file(Field(3, {0.5f})));
    write_file(dir.file("a2short"), lags_file(Field(2, {0.5f})));
    write_file(dir.file("a2"), lags_file(Field(3, {0.5f})));
    write_file(dir.file("c1"), pair_bytes(1, 0, 0, {1.0f}));
    write_file(dir.file("c2"), pair_bytes(1, 0, 0, {1.0f}));
    write_file(dir.file("empty"), "");
    struct Case {
        const char* answers;
        const char* named;
    } cases[] = {
        {"a1\na2short\nc1\nc2\nout1\n", "a2short"},
        {"a1\na2\nempty\nc2\nout2\n", "empty"},
        {"a1\na2\nc1\nempty\nout3\n", "empty"},
        {"a1\na2\nc1\nc2\nc1\n", "already open"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_program(nstar, c.answers, dir.path);
        EXPECT_EQ(r.status, 2) << c.answers;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    }
    // The absent output is created empty before the failing read.
    EXPECT_TRUE(file_exists(dir.file("out1")));
    EXPECT_EQ(read_file(dir.file("out1")), "");
    // An input that cannot be opened leaves the output untouched (not even created).
    ASSERT_EQ(::mkdir(dir.file("adir").c_str(), 0755), 0);
    const RunResult r = run_program(nstar, "a1\nadir\nc1\nc2\nout4\n", dir.path);
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(file_exists(dir.file("out4")));
    // An empty file 1 is a series of no lags: zero lags give zero at every point.
    const RunResult none = run_program(nstar, "empty\na2\nc1\nc2\nout5\n", dir.path);
    ASSERT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(read_file(dir.file("out5")), pair_bytes(NEFF_RECORD_TAG, 0, 0, {0.0f}));
}

TEST(Chain, SeriesAndFieldThroughAllThreeProgramsMatchTheDefinitions)
{
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("s").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(dir.file("f").c_str(), 0755), 0);
    // Smooth series so that some lags are significant; one hostile point.
    const int steps = 120, points = 23;
    Field field(steps, std::vector<float>(points)), series(steps, std::vector<float>(1));
    for (int t = 0; t < steps; ++t) {
        series[size_t(t)][0] = std::sin(float(t) * 0.2f) + 0.1f * std::cos(float(t) * 1.7f);
        for (int p = 0; p < points; ++p)
            field[size_t(t)][size_t(p)] = std::sin(float(t) * (0.05f + 0.02f * float(p))) + 0.3f * std::cos(float(t * p));
    }
    field[1][4] = MISSING_VALUE;
    field[9][7] = std::numeric_limits<float>::infinity();
    write_file(dir.file("series"), field_bytes(series));
    write_file(dir.file("field"), field_bytes(field, 12, 34));

    ASSERT_EQ(run_program(lagscan, "series\nseries.aut\n", dir.path).status, 0);
    ASSERT_EQ(run_program(lagscan, "field\nfield.aut\n", dir.path).status, 0);
    ASSERT_EQ(run_program(sigcut, "../series.aut\n", dir.file("s")).status, 0);
    ASSERT_EQ(run_program(sigcut, "../field.aut\n", dir.file("f")).status, 0);
    const RunResult r = run_program(nstar, "series.aut\nfield.aut\ns/critic-lags\nf/critic-lags\nneff\n", dir.path);
    ASSERT_EQ(r.status, 0) << r.err;

    // Each stage against its expectation from the stage before: lagscan's bytes,
    // then the critical lags and effective sizes from the formulas in double.
    const Field series_aut = plain_autocorrelations(series, 1), field_aut = plain_autocorrelations(field, points);
    std::string series_aut_bytes, field_aut_bytes;
    for (size_t j = 0; j < series_aut.size(); ++j) {
        series_aut_bytes += pair_bytes(int32_t(j + 1), 0, 0, series_aut[j]);
        field_aut_bytes += pair_bytes(int32_t(j + 1), 12, 34, field_aut[j]);
    }
    EXPECT_TRUE(same_series(series_aut_bytes, read_file(dir.file("series.aut"))));
    EXPECT_TRUE(same_series(field_aut_bytes, read_file(dir.file("field.aut"))));

    const TextbookLags clag_s = textbook_critical_lags(series_aut, 1);
    const TextbookLags clag_f = textbook_critical_lags(field_aut, points);
    for (double gap : clag_f.closest) ASSERT_GT(gap, 1e-5) << "a lag too close to its bound to call";
    ASSERT_GT(clag_s.closest[0], 1e-5);
    EXPECT_EQ(read_file(dir.file("s/critic-lags")), pair_bytes(int32_t(steps - 1), 0, 0, clag_s.lag));
    EXPECT_EQ(read_file(dir.file("f/critic-lags")), pair_bytes(int32_t(steps - 1), 12, 34, clag_f.lag));

    std::vector<float> r1;
    for (const auto& row : series_aut) r1.push_back(row[0]);
    const std::vector<double> neff = textbook_effective_sizes(r1, field_aut, clag_s.lag[0], clag_f.lag);
    const ParsedSeries got = parse_series(read_file(dir.file("neff")));
    ASSERT_TRUE(got.ok);
    ASSERT_EQ(got.pairs.size(), 1u);
    EXPECT_EQ(std::vector<int32_t>(got.pairs[0].w, got.pairs[0].w + 4),
              (std::vector<int32_t>{NEFF_RECORD_TAG, 12, 34, points}));
    ASSERT_EQ(got.pairs[0].values.size(), size_t(points));
    for (int p = 0; p < points; ++p) { // sums of up to 119 lags in single precision
        const float v = got.pairs[0].values[size_t(p)];
        if (std::isnan(neff[size_t(p)])) EXPECT_TRUE(std::isnan(v)) << p << ": the infinite point stays NaN";
        else EXPECT_NEAR(v, neff[size_t(p)], 1e-5 * std::fabs(neff[size_t(p)])) << p;
    }
    EXPECT_GT(clag_s.lag[0], 0.0f) << "the series is smooth enough for a significant lag";
    EXPECT_EQ(got.pairs[0].values[4], MISSING_VALUE);
}

TEST(NstarRun, CriticalLagsOfPointsWithoutAutocorrelationsAreRefused)
{
    TempDir dir;
    write_file(dir.file("a1"), lags_file({{0.5f}, {0.25f}, {0.125f}}));
    // Three points of critical lags; the field autocorrelations hold two, or
    // three at every lag but the second.
    write_file(dir.file("a2"), lags_file({{0.4f, 0.4f}, {0.2f, 0.2f}, {0.1f, 0.1f}}));
    write_file(dir.file("a2gap"), lags_file({{0.4f, 0.4f, 0.4f}, {0.2f, 0.2f}, {0.1f, 0.1f, 0.1f}}));
    write_file(dir.file("c1"), pair_bytes(1, 0, 0, {2.0f}));
    write_file(dir.file("c2"), pair_bytes(1, 0, 0, {2.0f, 2.0f, 2.0f}));
    for (const char* field : {"a2", "a2gap"}) {
        write_file(dir.file("neff"), "previous contents");
        const RunResult r = run_program(nstar, std::string("a1\n") + field + "\nc1\nc2\nneff\n", dir.path);
        EXPECT_EQ(r.status, 2) << field;
        EXPECT_EQ(r.err, std::string("nstar: c2: critical lags of 3 points, but ") + field +
                             " holds autocorrelations of only 2\n");
        EXPECT_EQ(read_file(dir.file("neff")), "previous contents");
    }
    // As many points as the narrowest record is fine.
    write_file(dir.file("c2"), pair_bytes(1, 0, 0, {2.0f, 2.0f}));
    const RunResult ok = run_program(nstar, "a1\na2gap\nc1\nc2\nneff\n", dir.path);
    ASSERT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(parse_series(read_file(dir.file("neff"))).pairs.at(0).values.size(), 2u);
}
