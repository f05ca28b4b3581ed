// chain_bench: times the suite's programs on a full-capacity field, as a user runs
// them (answers on standard input, files in one directory), and checks lagscan
// against the plain scalar loop on the same data in the same run.
//
// Usage: chain_bench [runs]   (default 5; each program runs that many times)
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "autocorrelation.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "chain_bench: %s\n", what.c_str());
    std::exit(1);
}

void put32(std::vector<unsigned char>& b, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void put_record(std::vector<unsigned char>& b, const void* payload, uint32_t bytes)
{
    put32(b, bytes);
    const auto* p = static_cast<const unsigned char*>(payload);
    b.insert(b.end(), p, p + bytes);
    put32(b, bytes);
}

void write_bytes(const std::string& path, const std::vector<unsigned char>& b)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(b.data(), 1, b.size(), f) != b.size() || std::fclose(f) != 0) fail("cannot write " + path);
}

std::vector<unsigned char> read_bytes(const std::string& path)
{
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("cannot read " + path);
    std::vector<unsigned char> b;
    unsigned char chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) b.insert(b.end(), chunk, chunk + got);
    std::fclose(f);
    return b;
}

// A field of `points` persistent series (each point its own memory and level), with
// a few missing points (marker at step 2) and a few constant ones, as observed
// fields have.
void write_field(const std::string& path, int32_t steps, int32_t points, unsigned seed)
{
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_real_distribution<float> memory(0.0f, 0.95f);
    const size_t count = static_cast<size_t>(points);
    std::vector<float> coef(count), level(count), state(count, 0.0f);
    for (int32_t p = 0; p < points; ++p) {
        coef[size_t(p)] = memory(gen);
        level[size_t(p)] = 280.0f + 20.0f * noise(gen);
    }
    std::vector<unsigned char> b;
    b.reserve(size_t(steps) * (size_t(points) * 4 + 48));
    std::vector<float> row(count);
    for (int32_t t = 0; t < steps; ++t) {
        for (int32_t p = 0; p < points; ++p) {
            float& s = state[size_t(p)];
            s = coef[size_t(p)] * s + noise(gen);
            float v = level[size_t(p)] + s;
            if (p % 997 == 5 && t == 1) v = MISSING_VALUE;
            if (p % 1499 == 7) v = level[size_t(p)];
            row[size_t(p)] = v;
        }
        const int32_t h[4] = {t + 1, 1990, 12, points};
        put_record(b, h, 16);
        put_record(b, row.data(), uint32_t(points) * 4);
    }
    write_bytes(path, b);
}

struct Run {
    double seconds;
    long max_rss_kib;
};

// Runs one program in `dir` with `answers` on standard input, as a user would.
Run run_program(const std::string& exe, const std::string& answers, const std::string& dir)
{
    const std::string in_path = dir + "/.answers";
    write_bytes(in_path, std::vector<unsigned char>(answers.begin(), answers.end()));
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) {
        const int in = ::open(in_path.c_str(), O_RDONLY);
        const int out = ::open("/dev/null", O_WRONLY);
        if (in < 0 || out < 0 || ::chdir(dir.c_str()) != 0) ::_exit(127);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage use {};
    while (::wait4(pid, &status, 0, &use) < 0) {
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(exe + " failed in " + dir);
    return {seconds, use.ru_maxrss};
}

struct Summary {
    double median_seconds;
    long peak_rss_kib;
};

Summary measure(const char* label, const std::string& exe, const std::string& answers, const std::string& dir,
                int runs)
{
    std::vector<double> times;
    long rss = 0;
    for (int i = 0; i < runs; ++i) {
        const Run r = run_program(exe, answers, dir);
        times.push_back(r.seconds);
        rss = std::max(rss, r.max_rss_kib);
    }
    std::sort(times.begin(), times.end());
    const Summary s{times[times.size() / 2], rss};
    std::printf("%-22s median %8.3f s  (min %.3f, max %.3f, %d runs)  peak RSS %7.1f MB\n", label,
                s.median_seconds, times.front(), times.back(), runs, double(s.peak_rss_kib) * 1024 / 1e6);
    return s;
}

bool same_value(float a, float b)
{
    uint32_t x, y;
    std::memcpy(&x, &a, 4);
    std::memcpy(&y, &b, 4);
    return x == y || (std::isnan(a) && std::isnan(b));
}

// Checks the autocorrelation file against aut from the plain loop: the same
// framing and headers byte for byte, the same values with any NaN matching any NaN.
bool output_agrees(const std::vector<unsigned char>& file, const FieldSeries& xs, int32_t n, const float* aut)
{
    std::vector<unsigned char> want;
    RecordHeader h = xs.last;
    for (int32_t j = 1; j < xs.count; ++j) {
        h.w1 = j;
        const int32_t w[4] = {h.w1, h.w2, h.w3, h.w4};
        put_record(want, w, 16);
        put_record(want, aut + size_t(j - 1) * MAX_POINTS, uint32_t(n) * 4);
    }
    if (want.size() != file.size()) return false;
    size_t at = 0;
    while (at < want.size()) {
        uint32_t bytes;
        std::memcpy(&bytes, want.data() + at, 4);
        // Header records and markers compare as bytes; data records value by value.
        if (std::memcmp(want.data() + at, file.data() + at, 4) != 0) return false;
        at += 4;
        for (uint32_t i = 0; i < bytes; i += 4) {
            float a, b;
            std::memcpy(&a, want.data() + at + i, 4);
            std::memcpy(&b, file.data() + at + i, 4);
            if (bytes == 16 ? std::memcmp(&a, &b, 4) != 0 : !same_value(a, b)) return false;
        }
        at += bytes;
        if (std::memcmp(want.data() + at, file.data() + at, 4) != 0) return false;
        at += 4;
    }
    return true;
}

// The kernel lagscan picks, on the same values (re-laid into its tiles) inside
// this process: the compute alone, to set beside the plain loop's.
double fast_kernel(const FieldSeries& point_major, int32_t n)
{
    const LagPath path = choose_lag_path(this_cpu());
    FieldSeries xs = point_major;
    xs.lanes = lag_path_lanes(path);
    xs.v = reserve_matrix();
    for (int32_t p = 0; p < n; ++p)
        for (int32_t t = 0; t < xs.count; ++t) xs.v[cell(xs, t, p)] = column(point_major, p)[t];
    float* aut = reserve_matrix();
    const auto start = Clock::now();
    compute_autocorrelations(path, xs, n, aut);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::free(aut);
    std::free(xs.v);
    return seconds;
}

// Reads a series file as lagscan's input, runs the plain loop on it, and compares
// its result with what lagscan wrote. Returns the loop's time, and in `fast` the
// time of lagscan's kernel on the same values.
double plain_loop(const std::string& input, const std::string& output, bool& agrees, double& fast)
{
    SeriesFile& f = open_input(input);
    FieldSeries xs; // point-major, as the plain loop wants
    xs.v = reserve_matrix();
    read_field_series(f, xs);
    const int32_t n = xs.count > 0 ? xs.last.w4 : 0;
    fast = fast_kernel(xs, n);
    float* aut = reserve_matrix();
    const auto start = Clock::now();
    compute_autocorrelations_plain(xs, n, aut);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    agrees = output_agrees(read_bytes(output), xs, n, aut);
    std::free(aut);
    std::free(xs.v);
    return seconds;
}

double load_average()
{
    double l = -1;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &l) != 1) l = -1;
        std::fclose(f);
    }
    return l;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    if (runs < 1) fail("usage: chain_bench [runs]");

    std::string tmpl = (fs::temp_directory_path() / "chain-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) fail("cannot make a temporary directory");
    const std::string dir = tmpl;
    const std::string series_cut = dir + "/series_cut", field_cut = dir + "/field_cut";
    ::mkdir(series_cut.c_str(), 0755);
    ::mkdir(field_cut.c_str(), 0755);

    std::printf("sample: %d steps x %d points field, %d steps x 1 point series, in %s\n", MAX_STEPS, MAX_POINTS,
                MAX_STEPS, dir.c_str());
    write_field(dir + "/field", MAX_STEPS, MAX_POINTS, 1);
    write_field(dir + "/series", MAX_STEPS, 1, 2);
    std::printf("kernel path on this CPU: %s; load average %.2f\n", lag_path_name(choose_lag_path(this_cpu())),
                load_average());

    const Summary field = measure("lagscan field", LAGSCAN_EXE, "field\nfield.aut\n", dir, runs);
    measure("lagscan series", LAGSCAN_EXE, "series\nseries.aut\n", dir, runs);
#ifdef SIGCUT_EXE
    measure("sigcut field", SIGCUT_EXE, "../field.aut\n", field_cut, runs);
    measure("sigcut series", SIGCUT_EXE, "../series.aut\n", series_cut, runs);
#endif
#ifdef NSTAR_EXE
    measure("nstar", NSTAR_EXE, "series.aut\nfield.aut\nseries_cut/critic-lags\nfield_cut/critic-lags\nneff\n",
            dir, runs);
#endif

    bool field_agrees = false, series_agrees = false;
    double fast = 0, unused = 0;
    const double plain = plain_loop(dir + "/field", dir + "/field.aut", field_agrees, fast);
    plain_loop(dir + "/series", dir + "/series.aut", series_agrees, unused);
    std::printf("plain scalar loop, field: %.3f s (compute only)\n", plain);
    std::printf("lagscan's kernel, field:  %.3f s (compute only)\n", fast);
    std::printf("ratio plain loop / lagscan whole process: %.1fx (compute only: %.1fx)\n", plain / field.median_seconds,
                plain / fast);
    std::printf("lagscan output vs plain loop: field %s, series %s\n", field_agrees ? "identical" : "DIFFERENT",
                series_agrees ? "identical" : "DIFFERENT");
    std::printf("load average at the end %.2f\n", load_average());

    std::error_code ec;
    fs::remove_all(dir, ec);
    return field_agrees && series_agrees ? 0 : 1;
}
