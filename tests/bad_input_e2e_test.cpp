// Hostile, cut-short and impossible files fed to the three programs in every input
// position where they matter. Each run either ends normally with exactly the output
// the rules define, or on the fatal path with status 2 and a diagnostic naming the
// file and the cause; never by a signal or a hang, and never altering an input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "reference.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string lagscan = LAGSCAN_EXE;
const std::string sigcut = SIGCUT_EXE;
const std::string nstar = NSTAR_EXE;

// The input position the bad file is given in.
enum Slot { LAGSCAN_IN, SIGCUT_IN, NSTAR_SERIES_AUT, NSTAR_FIELD_AUT, NSTAR_SERIES_LAG, NSTAR_FIELD_LAG, SLOTS };
const char* const slot_names[SLOTS] = {"lagscan",       "sigcut",          "nstar_file1",
                                       "nstar_file2",   "nstar_serieslag", "nstar_fieldlag"};

// Record pairs as a reader takes them: the header as written, and the values its
// data record holds (not necessarily W4 of them).
struct Pair {
    RecordHeader h;
    std::vector<float> v;
};
using Pairs = std::vector<Pair>;

std::string bytes_of(const Pairs& pairs)
{
    std::string s;
    for (const Pair& p : pairs) s += framed(header_payload(p.h.w1, p.h.w2, p.h.w3, p.h.w4)) + framed(floats_payload(p.v));
    return s;
}

// The values a reader stores from each pair: the first W4 of them.
Field rows_of(const Pairs& pairs, size_t count)
{
    Field rows;
    for (size_t t = 0; t < count && t < pairs.size(); ++t) {
        const Pair& p = pairs[t];
        const size_t n = p.h.w4 < 0 ? 0 : std::min(size_t(p.h.w4), p.v.size());
        rows.emplace_back(p.v.begin(), p.v.begin() + std::ptrdiff_t(n));
    }
    return rows;
}

Pairs series_pairs(int count, int points, int32_t w2, int32_t w3, float phase)
{
    Pairs s;
    for (int t = 0; t < count; ++t) {
        Pair p{{t + 1, w2, w3, points}, {}};
        for (int q = 0; q < points; ++q)
            p.v.push_back(std::sin(phase + 0.1f * float(t) * float(q + 1)) + 0.001f * float(t % 17));
        s.push_back(std::move(p));
    }
    return s;
}

// The inputs nstar gets where the bad file is not.
const Pairs& default_series_aut()
{
    static const Pairs p = {{{1, 0, 0, 2}, {0.5f, 9.0f}}, {{2, 0, 0, 2}, {0.25f, 9.0f}}, {{3, 0, 0, 2}, {0.125f, 9.0f}}};
    return p;
}
// As long as the longest file 1 of the matrix, so that file 1 alone decides, and
// as wide as any field critical-lag file of the matrix.
const Pairs& default_field_aut()
{
    static const Pairs p = series_pairs(MAX_STEPS, 3, 5, 6, 0.3f);
    return p;
}
const Pairs& default_series_lag()
{
    static const Pairs p = {{{1, 0, 0, 1}, {3.0f}}};
    return p;
}
const Pairs& default_field_lag()
{
    static const Pairs p = {{{2, 144, 73, 2}, {2.0f, MISSING_VALUE}}};
    return p;
}

enum Kind { BYTES, DIRECTORY, UNREADABLE };

struct Row {
    const char* name;
    Kind kind;
    std::string bytes;
    Pairs pairs;                  // the whole pairs before any damage, for the runs that end normally
    const char* cause[SLOTS];     // a word of the diagnostic, or nullptr where the run ends normally
    std::string file_name = "bad.dat";
};

const std::string previous = "previous contents";

std::string output_name(Slot slot)
{
    return slot == LAGSCAN_IN ? "out" : slot == SIGCUT_IN ? "critic-lags" : "neff";
}

// What the run writes when it ends normally with `pairs` in `slot` (and nstar's
// field autocorrelations `field_aut_default` where the bad file is not).
std::string expected_output(Slot slot, const Pairs& pairs, const Pairs& field_aut_default = default_field_aut())
{
    const size_t n_pairs = pairs.size();
    if (slot == LAGSCAN_IN) {
        if (n_pairs < 2) return ""; // no lag: the output is emptied
        const RecordHeader& h = pairs.back().h;
        const Field aut = plain_autocorrelations(rows_of(pairs, n_pairs), h.w4);
        std::string s;
        for (size_t j = 0; j < aut.size(); ++j) s += pair_bytes(int32_t(j + 1), h.w2, h.w3, aut[j]);
        return s;
    }
    if (slot == SIGCUT_IN) {
        if (n_pairs == 0) return pair_bytes(0, 0, 0, {});
        const RecordHeader& h = pairs.back().h;
        const TextbookLags lags = textbook_critical_lags(rows_of(pairs, n_pairs), h.w4);
        for (double gap : lags.closest) EXPECT_GT(gap, 1e-5) << "a value lies too close to its bound to call";
        return framed(header_payload(h.w1, h.w2, h.w3, h.w4)) + framed(floats_payload(lags.lag));
    }
    const Pairs& series_aut = slot == NSTAR_SERIES_AUT ? pairs : default_series_aut();
    const Pairs& field_aut = slot == NSTAR_FIELD_AUT ? pairs : field_aut_default;
    const Pairs& series_lag = slot == NSTAR_SERIES_LAG ? pairs : default_series_lag();
    const Pairs& field_lag = slot == NSTAR_FIELD_LAG ? pairs : default_field_lag();
    std::vector<float> r1;
    for (const Pair& p : series_aut) r1.push_back(p.v.at(0));
    const Field ac2 = rows_of(field_aut, series_aut.size());
    const RecordHeader hd = field_lag.at(0).h;
    const std::vector<float> clag2 = rows_of(field_lag, 1).at(0);
    std::vector<float> neff;
    for (double v : textbook_effective_sizes(r1, ac2, series_lag.at(0).v.at(0), clag2)) neff.push_back(float(v));
    return framed(header_payload(NEFF_RECORD_TAG, hd.w2, hd.w3, hd.w4)) + framed(floats_payload(neff));
}

const std::vector<Row>& rows()
{
    static const std::vector<Row> table = [] {
        const char* const inside = "file ends inside a record";
        const Pairs good = series_pairs(4, 3, 11, 12, 0.0f);
        const std::string good_bytes = bytes_of(good);
        const std::string first_pair = bytes_of({good[0]});
        const std::string first_header = framed(header_payload(1, 11, 12, 3));
        const Pairs full = series_pairs(MAX_STEPS, 2, 7, 8, 1.0f);
        Pairs over = full;
        over.push_back({{MAX_STEPS + 1, 7, 8, 2}, {0.5f, 0.5f}});
        const Pair short_data{{1, 0, 0, 3}, {0.5f, 0.7f}};
        const Pair wide{{1, 2, 3, MAX_POINTS + 1}, std::vector<float>(size_t(MAX_POINTS + 1), 0.25f)};
        const Pair negative_with_value{{1, 2, 3, -1}, {2.0f}};
        const Pair negative_empty{{1, 2, 3, -1}, {}};
        const Pairs first_three(good.begin(), good.begin() + 3);
        const std::string cut_last = good_bytes.substr(0, good_bytes.size() - 9);

        std::vector<Row> t = {
            {"empty_file", BYTES, "", {},
             {nullptr, nullptr, nullptr, "file ends before the series autocorrelation file does",
              "file ends where a record pair is required", "file ends where a record pair is required"}},
            {"three_bytes", BYTES, "abc", {}, {inside, inside, inside, inside, inside, inside}},
            {"ends_inside_a_marker", BYTES, first_pair.substr(0, first_pair.size() - 2), {},
             {inside, inside, inside, inside, inside, inside}},
            {"ends_inside_a_payload", BYTES, first_header + le32(12) + floats_payload({1.0f}), {},
             {inside, inside, inside, inside, inside, inside}},
            {"ends_between_header_and_data", BYTES, first_header, {}, {inside, inside, inside, inside, inside, inside}},
            // Only the first pair of a critical-lag file and as many pairs of file 2
            // as file 1 holds are read: damage past them is never seen.
            {"ends_inside_a_later_pair", BYTES, cut_last, first_three, {inside, inside, inside, nullptr, nullptr, nullptr}},
            {"negative_marker", BYTES, le32(-16) + header_payload(1, 0, 0, 0) + le32(-16) + framed(""), {},
             {"negative", "negative", "negative", "negative", "negative", "negative"}},
            {"marker_of_2147483647", BYTES, le32(0x7fffffff) + good_bytes.substr(4), {},
             {inside, inside, inside, inside, inside, inside}},
            {"markers_disagree", BYTES, framed_with(16, header_payload(1, 0, 0, 1), 20) + framed(floats_payload({1.0f})),
             {},
             {"markers disagree", "markers disagree", "markers disagree", "markers disagree", "markers disagree",
              "markers disagree"}},
            {"header_shorter_than_16_bytes", BYTES, framed(std::string(12, '\0')) + framed(""), {},
             {"short record", "short record", "short record", "short record", "short record", "short record"}},
            // nstar's file 1 and series critical-lag file give only the first value.
            {"data_shorter_than_w4", BYTES, bytes_of({short_data}), {short_data},
             {"short record", "short record", nullptr, "short record", nullptr, "short record"}},
            {"w4_of_10001", BYTES, bytes_of({wide}), {wide},
             {"capacity", "capacity", nullptr, "capacity", nullptr, "capacity"}},
            // Where W4 counts stored values a negative one is fatal; nstar's file 1 and
            // series critical-lag file never use it and only need their one value.
            {"negative_w4_with_a_value", BYTES, bytes_of({negative_with_value}), {negative_with_value},
             {"negative value count", "negative value count", nullptr, "negative value count", nullptr,
              "negative value count"}},
            {"negative_w4_without_values", BYTES, bytes_of({negative_empty}), {negative_empty},
             {"negative value count", "negative value count", "short record", "negative value count", "short record",
              "negative value count"}},
            {"pairs_2000", BYTES, bytes_of(full), full, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
            {"pairs_2001", BYTES, bytes_of(over), over, {"capacity", "capacity", "capacity", nullptr, nullptr, nullptr}},
            {"directory", DIRECTORY, "", {},
             {"Is a directory", "Is a directory", "Is a directory", "Is a directory", "Is a directory",
              "Is a directory"}},
            {"name_with_spaces", BYTES, good_bytes, good, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
             "  a name  with spaces.dat"},
            {"unreadable", UNREADABLE, good_bytes, good,
             {"Permission denied", "Permission denied", "Permission denied", "Permission denied", "Permission denied",
              "Permission denied"}},
        };
        return t;
    }();
    return table;
}

struct Input {
    std::string name;
    std::string bytes;
};

// The program's inputs with `name` (holding `bytes`) in `slot` and nstar's
// defaults elsewhere, in the order of its questions.
std::vector<Input> inputs_for(Slot slot, const std::string& name, const std::string& bytes,
                              const Pairs& field_aut_default = default_field_aut())
{
    if (slot < NSTAR_SERIES_AUT) return {{name, bytes}};
    const Pairs* defaults[4] = {&default_series_aut(), &field_aut_default, &default_series_lag(),
                                &default_field_lag()};
    const char* names[4] = {"a1", "a2", "c1", "c2"};
    std::vector<Input> inputs;
    for (int i = 0; i < 4; ++i) {
        if (slot == NSTAR_SERIES_AUT + i) inputs.push_back({name, bytes});
        else inputs.push_back({names[i], bytes_of(*defaults[i])});
    }
    return inputs;
}

// sigcut asks for no output name; its output is always "critic-lags".
std::string answers_for(Slot slot, const std::vector<Input>& inputs, const std::string& output)
{
    std::string answers;
    for (const Input& in : inputs) answers += in.name + "\n";
    if (slot != SIGCUT_IN) answers += output + "\n";
    return answers;
}

const std::string& program_for(Slot slot) { return slot == LAGSCAN_IN ? lagscan : slot == SIGCUT_IN ? sigcut : nstar; }

class BadInput : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(BadInput, EndsNormallyOrOnTheFatalPathAndLeavesInputsAlone)
{
    const Row& row = rows()[size_t(std::get<0>(GetParam()))];
    const Slot slot = Slot(std::get<1>(GetParam()));
    TempDir dir;

    const std::vector<Input> inputs = inputs_for(slot, row.file_name, row.bytes);
    for (const Input& in : inputs) {
        if (in.name == row.file_name && row.kind == DIRECTORY) {
            ASSERT_EQ(::mkdir(dir.file(in.name).c_str(), 0755), 0);
        } else {
            write_file(dir.file(in.name), in.bytes);
        }
    }
    const std::string output = output_name(slot);
    write_file(dir.file(output), previous);

    RunOptions options;
    if (row.kind == UNREADABLE) {
        // Root reads through permissions: the run then goes as nobody, in a
        // directory and with an output it may use.
        ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
        ASSERT_EQ(::chmod(dir.file(output).c_str(), 0666), 0);
        ASSERT_EQ(::chmod(dir.file(row.file_name).c_str(), 0), 0);
        options.unprivileged = true;
    }

    const std::string& exe = program_for(slot);
    const std::string answers = answers_for(slot, inputs, output);
    const RunResult r = run_program(exe, answers, dir.path, {}, options);
    if (r.status == UNPRIVILEGED_RUN_FAILED && r.err.find("cannot drop root privileges") != std::string::npos)
        GTEST_SKIP() << "running as root and unable to run as nobody: " << r.err;

    ASSERT_FALSE(r.timed_out);
    ASSERT_FALSE(r.signalled) << "signal " << r.status - 128 << "\n" << r.err;
    const char* cause = row.cause[slot];
    if (cause) {
        EXPECT_EQ(r.status, FATAL_EXIT_STATUS) << r.err;
        const std::string program = exe.substr(exe.rfind('/') + 1);
        const std::string head = program + ": " + row.file_name + ": ";
        EXPECT_EQ(r.err.rfind(head, 0), 0u) << "diagnostic names the program and the file: " << r.err;
        EXPECT_NE(r.err.find(cause), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << "one line: " << r.err;
        EXPECT_EQ(read_file(dir.file(output)), previous) << "a failed read writes no output";
    } else {
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string want = expected_output(slot, row.pairs);
        const std::string got = read_file(dir.file(output));
        // nstar's values come from the formula in double precision, a few steps
        // of the last place from the program's single-precision sums.
        EXPECT_TRUE(same_series(want, got, slot >= NSTAR_SERIES_AUT ? 4 : 0));
    }
    if (row.kind == UNREADABLE) ::chmod(dir.file(row.file_name).c_str(), 0644);
    for (const Input& in : inputs) {
        if (in.name == row.file_name && row.kind == DIRECTORY) continue;
        EXPECT_EQ(read_file(dir.file(in.name)), in.bytes) << in.name << " was altered";
    }
}

std::string case_name(const testing::TestParamInfo<std::tuple<int, int>>& info)
{
    return std::string(rows()[size_t(std::get<0>(info.param))].name) + "_" + slot_names[std::get<1>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadInput,
                         testing::Combine(testing::Range(0, int(rows().size())), testing::Range(0, int(SLOTS))),
                         case_name);

// Outputs that cannot be written, for each program: the input that reaches the
// writing is large enough that lagscan hands over blocks before its last record.
struct OutputCase {
    Slot slot;
    Pairs pairs;
    long long size_limit; // below the full output: lagscan's within its first block, the others at the last flush
    Pairs field_aut = default_field_aut(); // nstar's: as wide as its field critical-lag file
};

class BadOutput : public testing::TestWithParam<int> {
protected:
    const OutputCase& which() const
    {
        static const std::vector<OutputCase> cases = {
            {LAGSCAN_IN, series_pairs(300, 1000, 3, 4, 0.2f), 500000},
            {SIGCUT_IN, series_pairs(10, 1000, 3, 4, 0.2f), 1000},
            {NSTAR_FIELD_LAG, series_pairs(1, 1000, 3, 4, 0.2f), 1000, series_pairs(3, 1000, 5, 6, 0.3f)},
        };
        return cases[size_t(GetParam())];
    }
    // Lays out the inputs, with `output` holding `previous` unless it is a link.
    std::vector<Input> lay_out(const TempDir& dir) const
    {
        std::vector<Input> inputs = inputs_for(which().slot, "in", bytes_of(which().pairs), which().field_aut);
        for (const Input& in : inputs) write_file(dir.file(in.name), in.bytes);
        return inputs;
    }
    void expect_fatal(const RunResult& r, const std::string& output, const char* cause) const
    {
        ASSERT_FALSE(r.timed_out);
        ASSERT_FALSE(r.signalled) << "signal " << r.status - 128;
        EXPECT_EQ(r.status, FATAL_EXIT_STATUS);
        const std::string& exe = program_for(which().slot);
        EXPECT_EQ(r.err, exe.substr(exe.rfind('/') + 1) + ": " + output + ": " + cause + "\n");
    }
    static void expect_unchanged(const TempDir& dir, const std::vector<Input>& inputs)
    {
        for (const Input& in : inputs) EXPECT_EQ(read_file(dir.file(in.name)), in.bytes) << in.name << " was altered";
    }
};

TEST_P(BadOutput, FullDiskIsFatal)
{
    TempDir dir;
    const std::vector<Input> inputs = lay_out(dir);
    std::string output = "/dev/full";
    if (which().slot == SIGCUT_IN) {
        output = "critic-lags";
        ASSERT_EQ(::symlink("/dev/full", dir.file(output).c_str()), 0);
    }
    const RunResult r = run_program(program_for(which().slot), answers_for(which().slot, inputs, output), dir.path);
    expect_fatal(r, output, "No space left on device");
    expect_unchanged(dir, inputs);
}

TEST_P(BadOutput, ReadOnlyOutputIsFatalAndKeepsItsContents)
{
    TempDir dir;
    const std::vector<Input> inputs = lay_out(dir);
    const std::string output = output_name(which().slot);
    write_file(dir.file(output), previous);
    ASSERT_EQ(::chmod(dir.file(output).c_str(), 0444), 0);
    for (const Input& in : inputs) ASSERT_EQ(::chmod(dir.file(in.name).c_str(), 0644), 0);
    ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
    RunOptions as_nobody;
    as_nobody.unprivileged = true; // root writes through permissions
    const RunResult r =
        run_program(program_for(which().slot), answers_for(which().slot, inputs, output), dir.path, {}, as_nobody);
    if (r.status == UNPRIVILEGED_RUN_FAILED && r.err.find("cannot drop root privileges") != std::string::npos)
        GTEST_SKIP() << "running as root and unable to run as nobody: " << r.err;
    expect_fatal(r, output, "Permission denied");
    EXPECT_EQ(read_file(dir.file(output)), previous);
    expect_unchanged(dir, inputs);
}

// A write cut short part-way leaves the records handed over so far and is still
// reported: never status 0, never a signal (SIGXFSZ would end the run silently).
TEST_P(BadOutput, PartlyWrittenOutputIsReported)
{
    TempDir dir;
    const std::vector<Input> inputs = lay_out(dir);
    const std::string output = output_name(which().slot);
    write_file(dir.file(output), previous);
    RunOptions limited;
    limited.file_size_limit = which().size_limit;
    const RunResult r =
        run_program(program_for(which().slot), answers_for(which().slot, inputs, output), dir.path, {}, limited);
    expect_fatal(r, output, "File too large");
    const std::string want = expected_output(which().slot, which().pairs, which().field_aut);
    ASSERT_GT(want.size(), size_t(which().size_limit));
    const std::string got = read_file(dir.file(output));
    EXPECT_EQ(got.size(), size_t(which().size_limit));
    // The part written is the start of the full output; nstar's values (after its
    // header record and the data record's marker) within a few steps of the last place.
    const size_t exact = which().slot >= NSTAR_SERIES_AUT ? 28 : got.size();
    EXPECT_TRUE(got.substr(0, exact) == want.substr(0, exact)) << "the part written is the start of the full output";
    for (size_t at = exact; at + 4 <= got.size(); at += 4) {
        float g, w;
        std::memcpy(&g, got.data() + at, 4);
        std::memcpy(&w, want.data() + at, 4);
        ASSERT_LE(ulps_apart(g, w), 4) << "value at byte " << at << ": " << w << " wanted, " << g << " found";
    }
    expect_unchanged(dir, inputs);
}

INSTANTIATE_TEST_SUITE_P(Programs, BadOutput, testing::Range(0, 3), [](const testing::TestParamInfo<int>& info) {
    return std::string(slot_names[info.param == 0 ? LAGSCAN_IN : info.param == 1 ? SIGCUT_IN : NSTAR_FIELD_LAG]);
});

} // namespace
