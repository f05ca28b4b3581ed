// The everyday mistakes of a user, run through the three programs: a mistyped
// name, an answer longer than its width, Windows line ends, pipes for files, and
// closed standard descriptors. Each ends either as the user meant or with status 2
// and a diagnostic, never with an empty or misplaced result passed off as success.
#include <gtest/gtest.h>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string lagscan = LAGSCAN_EXE;
const std::string sigcut = SIGCUT_EXE;
const std::string nstar = NSTAR_EXE;
const std::string previous = "previous contents";

// nstar's four inputs, valid and agreeing in width, in the order of its questions.
void write_nstar_inputs(const TempDir& dir)
{
    write_file(dir.file("a1"), field_bytes({{0.5f}, {0.25f}, {0.125f}}));
    write_file(dir.file("a2"), field_bytes({{0.4f, 0.1f}, {0.2f, 0.1f}, {0.1f, 0.1f}}));
    write_file(dir.file("c1"), pair_bytes(1, 0, 0, {2.0f}));
    write_file(dir.file("c2"), pair_bytes(1, 0, 0, {2.0f, 0.0f}));
}

// A process at the other end of a named pipe: writes `bytes` into it, or (with
// nothing to write) opens it for reading and goes away at once.
pid_t pipe_peer(const std::string& fifo, const std::string& bytes)
{
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (bytes.empty()) {
        const int fd = ::open(fifo.c_str(), O_RDONLY);
        ::_exit(fd < 0 ? 1 : 0);
    }
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    if (fd < 0) ::_exit(1);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) ::_exit(1);
        done += size_t(n);
    }
    ::_exit(0);
}

void end_peer(pid_t pid)
{
    ::kill(pid, SIGKILL);
    int st;
    ::waitpid(pid, &st, 0);
}

RunOptions within(int seconds)
{
    RunOptions o;
    o.timeout_seconds = seconds;
    return o;
}

} // namespace

TEST(AbsentInput, IsFatalAndCreatesNeitherItNorTheOutput)
{
    TempDir dir;
    const RunResult l = run_program(lagscan, "absent\nout\n", dir.path);
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(l.err, "lagscan: absent: No such file or directory\n");
    EXPECT_FALSE(file_exists(dir.file("out")));

    const RunResult s = run_program(sigcut, "absent\n", dir.path);
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.err, "sigcut: absent: No such file or directory\n");
    EXPECT_FALSE(file_exists(dir.file("critic-lags")));

    write_nstar_inputs(dir);
    const char* names[4] = {"a1", "a2", "c1", "c2"};
    for (int absent = 0; absent < 4; ++absent) {
        std::string answers;
        for (int i = 0; i < 4; ++i) answers += (i == absent ? std::string("absent") : names[i]) + "\n";
        const RunResult n = run_program(nstar, answers + "neff\n", dir.path);
        EXPECT_EQ(n.status, 2) << absent;
        EXPECT_EQ(n.err, "nstar: absent: No such file or directory\n");
        EXPECT_FALSE(file_exists(dir.file("neff")));
    }
    EXPECT_FALSE(file_exists(dir.file("absent")));

    // An existing output is not touched either.
    write_file(dir.file("out"), previous);
    EXPECT_EQ(run_program(lagscan, "absent\nout\n", dir.path).status, 2);
    EXPECT_EQ(read_file(dir.file("out")), previous);
}

TEST(AnswerWidth, NamesLongerThanSixtyFourAreRefusedBeforeAnythingIsOpened)
{
    TempDir dir;
    // Files named by the first 64 characters exist: a cut name would find them.
    const std::string name64 = std::string(60, 'n') + ".aut";
    write_file(dir.file(name64), field_bytes(std::vector<std::vector<float>>(9, {0.0f})));
    const RunResult s = run_program(sigcut, name64 + "x\n", dir.path);
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(s.err, "sigcut: " + name64 + "x: file name longer than 64 characters\n");
    EXPECT_FALSE(file_exists(dir.file("critic-lags")));

    write_nstar_inputs(dir);
    const std::string out64 = "neff_" + std::string(59, 'o');
    write_file(dir.file(out64), previous);
    const RunResult out = run_program(nstar, "a1\na2\nc1\nc2\n" + out64 + ".dat\n", dir.path);
    EXPECT_EQ(out.status, 2);
    EXPECT_NE(out.err.find("file name longer than 64 characters"), std::string::npos) << out.err;
    EXPECT_EQ(read_file(dir.file(out64)), previous);

    const std::string in64 = std::string(62, 'a') + "a1";
    ASSERT_EQ(::rename(dir.file("a1").c_str(), dir.file(in64).c_str()), 0);
    const RunResult in = run_program(nstar, in64 + "-long\na2\nc1\nc2\nneff\n", dir.path);
    EXPECT_EQ(in.status, 2);
    EXPECT_NE(in.err.find("file name longer than 64 characters"), std::string::npos) << in.err;
    EXPECT_EQ(in.out, " Autocorrelations of file 1 (timeseries)?\n") << "no later question is asked";
    EXPECT_FALSE(file_exists(dir.file("neff")));
}

TEST(AnswerWidth, BlanksStraddlingTheWidthArePaddingButNotBeforeMore)
{
    TempDir dir;
    const std::string name60 = std::string(58, 's') + ".a";
    write_file(dir.file(name60), field_bytes(std::vector<std::vector<float>>(9, {0.0f})));
    // Blanks from character 61 to 70: the width of 64 falls among them.
    const RunResult padded = run_program(sigcut, name60 + std::string(10, ' ') + "\n", dir.path);
    ASSERT_EQ(padded.status, 0) << padded.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(9, 0, 0, {0.0f}));

    // The same blanks with a character after them: the name runs past the width.
    write_file(dir.file("critic-lags"), previous);
    const RunResult more = run_program(sigcut, name60 + std::string(10, ' ') + "z\n", dir.path);
    EXPECT_EQ(more.status, 2);
    EXPECT_NE(more.err.find("file name longer than 64 characters"), std::string::npos) << more.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), previous);

    // Exactly 64 characters, then blanks.
    const std::string name64 = std::string(64, 'e');
    write_file(dir.file(name64), field_bytes(std::vector<std::vector<float>>(9, {0.0f})));
    const RunResult full = run_program(sigcut, name64 + "    \n", dir.path);
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(9, 0, 0, {0.0f}));
}

TEST(Answers, CarriageReturnEndingTheLineIsDropped)
{
    TempDir dir;
    write_file(dir.file("in"), field_bytes({{1}, {2}, {4}}));
    const RunResult l = run_program(lagscan, "in\r\nout\r\n", dir.path);
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(parse_series(read_file(dir.file("out"))).pairs.size(), 2u);
    EXPECT_FALSE(file_exists(dir.file("out\r")));

    write_nstar_inputs(dir);
    const RunResult n = run_program(nstar, "a1\r\na2\r\nc1\r\nc2\r\nneff  \r\n", dir.path);
    ASSERT_EQ(n.status, 0) << n.err;
    EXPECT_EQ(parse_series(read_file(dir.file("neff"))).pairs.size(), 1u);
    EXPECT_FALSE(file_exists(dir.file("neff  \r")));
}

TEST(Pipes, NamedPipeInputsAreReadToTheirEnd)
{
    TempDir dir;
    const std::string series = field_bytes({{1, 2}, {2, 4}, {3, 6}, {4, 8}});
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    pid_t peer = pipe_peer(dir.file("fifo"), series);
    const RunResult l = run_program(lagscan, "fifo\nout\n", dir.path, {}, within(5));
    end_peer(peer);
    ASSERT_FALSE(l.timed_out) << "lagscan waited for more than the pipe's writer sent";
    ASSERT_EQ(l.status, 0) << l.err;
    EXPECT_EQ(parse_series(read_file(dir.file("out"))).pairs.size(), 3u);

    const std::string lags = read_file(dir.file("out"));
    peer = pipe_peer(dir.file("fifo"), lags);
    const RunResult s = run_program(sigcut, "fifo\n", dir.path, {}, within(5));
    end_peer(peer);
    ASSERT_FALSE(s.timed_out) << "sigcut waited for more than the pipe's writer sent";
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(read_file(dir.file("critic-lags")), pair_bytes(3, 0, 0, {0.0f, 0.0f}));
}

TEST(Pipes, AnOutputPipeWhoseReaderGoesAwayIsAReportedError)
{
    TempDir dir;
    // Far more output than a pipe holds.
    std::vector<std::vector<float>> field(100, std::vector<float>(1000));
    for (size_t t = 0; t < field.size(); ++t)
        for (size_t p = 0; p < 1000; ++p) field[t][p] = float((t * 7 + p * 3) % 11);
    write_file(dir.file("in"), field_bytes(field));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const pid_t peer = pipe_peer(dir.file("fifo"), "");
    const RunResult r = run_program(lagscan, "in\nfifo\n", dir.path, {}, within(5));
    end_peer(peer);
    ASSERT_FALSE(r.timed_out) << "lagscan kept writing into a pipe nobody reads";
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "lagscan: fifo: Broken pipe\n");
}

TEST(ClosedDescriptors, ADiagnosticNeverLandsInAFileOfTheRun)
{
    // With standard output and error closed, the files opened next would take
    // descriptors 1 and 2, and the diagnostic would be written into the output.
    TempDir dir;
    write_file(dir.file("cut"), field_bytes({{1}, {2}}).substr(0, 30));
    write_file(dir.file("out"), previous);
    write_file(dir.file("critic-lags"), previous);
    RunOptions closed;
    closed.closed_descriptors = {1, 2};
    const RunResult l = run_program(lagscan, "cut\nout\n", dir.path, {}, closed);
    EXPECT_EQ(l.status, 2);
    EXPECT_EQ(read_file(dir.file("out")), previous);
    const RunResult s = run_program(sigcut, "cut\n", dir.path, {}, closed);
    EXPECT_EQ(s.status, 2);
    EXPECT_EQ(read_file(dir.file("critic-lags")), previous);

    // A run without standard input ends for want of an answer.
    closed.closed_descriptors = {0};
    const RunResult no_input = run_program(lagscan, "cut\nout\n", dir.path, {}, closed);
    EXPECT_EQ(no_input.status, 2);
    EXPECT_NE(no_input.err.find("standard input"), std::string::npos) << no_input.err;
}
