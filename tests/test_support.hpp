// Helpers shared by the tests: temporary directories, hand-framed record bytes,
// an independent parser of series files, and running a built program through
// its console dialogue.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);

// Record bytes built by hand, independently of the project's writer.
std::string le32(int32_t v);
std::string framed(const std::string& payload);
std::string framed_with(int32_t leading, const std::string& payload, int32_t trailing);
std::string header_payload(int32_t w1, int32_t w2, int32_t w3, int32_t w4);
std::string floats_payload(const std::vector<float>& v);
std::string pair_bytes(int32_t w1, int32_t w2, int32_t w3, const std::vector<float>& v);

// A series file as read back by a plain parser that trusts nothing.
struct ParsedPair {
    int32_t w[4];
    std::vector<float> values;
};
struct ParsedSeries {
    bool ok = false; // the bytes are exactly a sequence of well-framed record pairs
    std::vector<ParsedPair> pairs;
};
ParsedSeries parse_series(const std::string& bytes);

// A field given as values[t][p]; writes one pair per step with W1 = t + 1.
std::string field_bytes(const std::vector<std::vector<float>>& values, int32_t w2 = 0, int32_t w3 = 0);

// The power of two that brings the largest magnitude of v into [0.5, 1), as
// neffmap scales a point or the series before the chain (1 when all are 0 or
// one is not finite), and v so scaled.
double unit_power(const std::vector<float>& v);
std::vector<float> scaled(const std::vector<float>& v);

uint32_t bits(float f);
float from_bits(uint32_t b);

// Equal bit for bit, except that any two NaNs count as equal: the compiler may swap
// the operands of a commutative operation, which changes only which NaN comes out.
bool same_value(float a, float b);

// Steps between two floats of the same sign in the ordered set of floats (NaNs
// aside): 0 for equal bits, 1 for neighbours.
int64_t ulps_apart(float a, float b);

// Both byte strings are well-framed series with equal headers and values that are
// same_value, or (given max_ulps) at most that many steps apart; on failure says
// where they first differ.
testing::AssertionResult same_series(const std::string& want, const std::string& got, int max_ulps = 0);

struct RunResult {
    int status = -1;   // exit status, or 128 + signal
    bool signalled = false;
    bool timed_out = false; // killed for running past its time
    // The program's peak resident set in KiB. The system counts the test process's
    // own resident set at the fork in it, so it means something only when that
    // was small.
    long peak_rss_kib = 0;
    std::string out;
    std::string err;
};

struct RunOptions {
    int timeout_seconds = 20;
    // As root, run the program as user and group nobody so that file permissions
    // bind it; the directory it works in must then be open to everyone. A child
    // that cannot drop its privileges ends with UNPRIVILEGED_RUN_FAILED.
    bool unprivileged = false;
    long long file_size_limit = -1; // RLIMIT_FSIZE in bytes; -1 leaves it as it is
    std::vector<int> closed_descriptors; // standard descriptors the program starts without
};
inline constexpr int UNPRIVILEGED_RUN_FAILED = 126;

// Runs `exe` in `cwd` with `input` on standard input; a run past its time is killed.
RunResult run_program(const std::string& exe, const std::string& input, const std::string& cwd,
                      const std::vector<std::string>& args = {}, const RunOptions& options = {});

// A character device to write to: "null" or "full". As root, a private node of
// that device made in dir, so that a fault that replaced or removed the output
// would hit the test's own node and never the system's /dev entry; otherwise
// the /dev entry itself, which an ordinary user cannot replace.
std::string writable_device(const TempDir& dir, const std::string& name);

// ncgen, not our code, writes the NetCDF inputs of the tools' tests: NAME.cdl in
// dir becomes NAME.nc, of ncgen's kind `kind` ("classic", "64-bit offset",
// "nc4", ...) or, when empty, its default (classic).
void make_netcdf(const TempDir& dir, const std::string& name, const std::string& cdl, const std::string& kind = "");
