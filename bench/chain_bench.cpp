// chain_bench: times the suite's programs on a full-capacity field (2000 steps x
// 10000 points) and on a short one (480 steps, a tile of a map run in pieces), as a
// user runs them (answers on standard input, files in one directory). For each
// program it reports the whole process, the time it takes to fill its arrays from
// the records, the time of its computation alone, and its peak RSS; for lagscan's
// kernel also the share of the machine's arithmetic limit. It checks lagscan
// against the plain scalar loop on the same data in the same run.
//
// Usage: chain_bench [runs] [--peak-lanes L]
//   runs: each measurement is taken that many times (default 5); medians are shown.
//   L: multiply lanes (and as many add lanes) the CPU completes per cycle; by
//      default 16 for AVX2 and for AVX-512 on AMD family 19h (Zen 4 splits a
//      512-bit operation into two 256-bit halves), 32 for other AVX-512 CPUs.
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cpuid.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "autocorrelation.hpp"
#include "critical_lag.hpp"
#include "effective_size.hpp"
#include "series_file.hpp"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "chain_bench: %s\n", what.c_str());
    std::exit(1);
}

double thread_cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
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

// ---- whole processes ----

struct Process {
    std::vector<double> wall, cpu;
    long rss_kib = 0;
};

// Runs one program in `dir` with `answers` on standard input, as a user would.
void run_program(const std::string& exe, const std::string& answers, const std::string& dir, Process& into)
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
    into.wall.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) fail(exe + " failed in " + dir);
    const auto secs = [](const timeval& v) { return double(v.tv_sec) + double(v.tv_usec) * 1e-6; };
    into.cpu.push_back(secs(use.ru_utime) + secs(use.ru_stime));
    into.rss_kib = std::max(into.rss_kib, use.ru_maxrss);
}

// ---- the same work inside this process, in phases ----

// An input read the way the programs read it (mapped when it can be), without the
// run frame's table of open files, so that it can be opened any number of times.
struct Input {
    SeriesFile f;
    explicit Input(const std::string& path)
    {
        f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (f.fd < 0) fail("cannot open " + path);
        std::snprintf(f.name, sizeof f.name, "%s", fs::path(path).filename().c_str());
        f.regular = true;
        f.buf = static_cast<unsigned char*>(std::malloc(SERIES_BUFFER_BYTES));
    }
    ~Input()
    {
        if (f.mapped) {
            ::munmap(f.buf, f.len);
            f.buf = f.set_aside;
        }
        std::free(f.buf);
        ::close(f.fd);
    }
};

struct Matrix {
    float* v = reserve_tiles();
    ~Matrix() { release_tiles(v); }
};

struct Phases {
    std::vector<double> fill, fill_touched, kernel, gather;
};

// lagscan: the records into tiles on fresh storage, as in a run, and again on the
// same storage, which leaves out its page faults; then the kernel, which writes
// its results over the tiles it reads, on that storage already touched, so that
// it is the computation alone; then the lags collected from the tiles, one
// record's values at a time, as lagscan writes them.
void lagscan_phases(const std::string& input, Phases& ph)
{
    const LagPath path = choose_lag_path(this_cpu());
    Matrix xs_store;
    FieldSeries xs;
    xs.lanes = lag_path_lanes(path);
    xs.v = xs_store.v;
    for (std::vector<double>* into : {&ph.fill, &ph.fill_touched}) {
        Input in(input);
        const double t0 = thread_cpu_seconds();
        read_field_series(in.f, xs);
        into->push_back(thread_cpu_seconds() - t0);
    }
    const int32_t n = xs.count > 0 ? xs.last.w4 : 0;
    LagScratch scratch;
    const double t0 = thread_cpu_seconds();
    compute_autocorrelations(path, xs, n, scratch);
    ph.kernel.push_back(thread_cpu_seconds() - t0);
    static float row[MAX_POINTS];
    float sink = 0;
    const double t1 = thread_cpu_seconds();
    for (int32_t j = 1; j < xs.count; ++j) {
        gather_step(xs, j - 1, n, row);
        sink += row[j % (n > 0 ? n : 1)];
    }
    ph.gather.push_back(thread_cpu_seconds() - t1);
    asm volatile("" : : "g"(sink));
}

// Reads a series into rows, one record per row, as sigcut and nstar hold them.
int32_t read_rows(const std::string& path, float* x, RecordHeader& last)
{
    Input in(path);
    int32_t rows = 0;
    RecordHeader h;
    while (read_series_pair(in.f, rows, h, x + size_t(rows) * MAX_POINTS)) {
        last = h;
        ++rows;
    }
    return rows;
}

// The rows as one tile as wide as the point capacity, as sigcut and nstar see them.
FieldSeries rows_series(const Matrix& m, int32_t rows)
{
    FieldSeries s;
    s.count = rows;
    s.lanes = MAX_POINTS;
    s.v = m.v;
    return s;
}

void sigcut_phases(const std::string& input, Phases& ph)
{
    Matrix x;
    RecordHeader last;
    const double t0 = thread_cpu_seconds();
    const int32_t lags = read_rows(input, x.v, last);
    ph.fill.push_back(thread_cpu_seconds() - t0);
    static float lag[MAX_POINTS];
    const double t1 = thread_cpu_seconds();
    compute_critical_lags(rows_series(x, lags), lags > 0 ? last.w4 : 0, lag);
    ph.kernel.push_back(thread_cpu_seconds() - t1);
}

void nstar_phases(const std::string& dir, Phases& ph)
{
    Matrix ac2, series;
    static float r1[MAX_STEPS], clag2[MAX_POINTS], neff[MAX_POINTS];
    RecordHeader last, hd;
    const double t0 = thread_cpu_seconds();
    const int32_t lags = read_rows(dir + "/series.aut", series.v, last);
    for (int32_t k = 0; k < lags; ++k) r1[k] = series.v[size_t(k) * MAX_POINTS];
    const int32_t field_lags = read_rows(dir + "/field.aut", ac2.v, last);
    float clag1;
    read_rows(dir + "/series_cut/critic-lags", &clag1, hd);
    read_rows(dir + "/field_cut/critic-lags", clag2, hd);
    ph.fill.push_back(thread_cpu_seconds() - t0);
    const double t1 = thread_cpu_seconds();
    compute_effective_sizes(r1, lags, rows_series(ac2, field_lags), clag1, clag2, hd.w4, neff);
    ph.kernel.push_back(thread_cpu_seconds() - t1);
}

// ---- the machine ----

// The clock while this process runs: a chain of dependent integer adds completes
// one add per cycle on every x86-64 core of the last decade.
double clock_hz()
{
    std::vector<double> rates;
    for (int r = 0; r < 7; ++r) {
        uint64_t x = 0;
        const long rounds = 20000000;
        const double t0 = thread_cpu_seconds();
        for (long i = 0; i < rounds; ++i)
            asm volatile("add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\t"
                         "add $1, %0\n\tadd $1, %0\n\tadd $1, %0\n\tadd $1, %0"
                         : "+r"(x));
        rates.push_back(8.0 * double(rounds) / (thread_cpu_seconds() - t0));
    }
    return median(rates);
}

typedef float v8 __attribute__((vector_size(32)));
typedef float v16 __attribute__((vector_size(64)));

// Multiply and add lanes per second with 12 independent sums (more than the add
// latency times the adds per cycle) and nothing loaded: the arithmetic limit as
// this CPU shows it, to set beside the assumed one. Built into each caller below
// for that caller's instruction set.
template <class V>
inline __attribute__((always_inline)) double probe_loop(long rounds, float one)
{
    V acc[12], x[12];
    for (int i = 0; i < 12; ++i) {
        acc[i] = V{} + float(i);
        x[i] = V{} + one;
    }
    const double t0 = thread_cpu_seconds();
    for (long r = 0; r < rounds; ++r) {
#pragma GCC unroll 12
        for (int k = 0; k < 12; ++k) {
            x[k] = x[k] * one;
            acc[k] = x[k] + acc[k];
        }
    }
    const double t = thread_cpu_seconds() - t0;
    float sum = 0;
    for (int k = 0; k < 12; ++k) sum += acc[k][0];
    asm volatile("" : : "g"(sum));
    return double(sizeof(V) / sizeof(float)) * 12 * double(rounds) / t;
}

__attribute__((target("avx2"), noinline)) double probe256(long rounds, float one)
{
    return probe_loop<v8>(rounds, one);
}
__attribute__((target("avx512f"), noinline)) double probe512(long rounds, float one)
{
    return probe_loop<v16>(rounds, one);
}

// Read at run time so that the compiler cannot fold the probe's products away.
volatile float probe_one = 1.0f;

double probe_lanes_per_second(LagPath path)
{
    std::vector<double> rates;
    for (int r = 0; r < 5; ++r)
        rates.push_back(path == LagPath::avx512 ? probe512(10000000, probe_one) : probe256(10000000, probe_one));
    return median(rates);
}

unsigned cpu_family()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    const unsigned base = (a >> 8) & 0xf;
    return base == 0xf ? base + ((a >> 20) & 0xff) : base;
}

bool amd_cpu()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return false;
    return b == 0x68747541; // "Auth"enticAMD
}

int assumed_peak_lanes(LagPath path)
{
    if (path == LagPath::avx512) return amd_cpu() && cpu_family() == 0x19 ? 16 : 32;
    if (path == LagPath::avx2) return 16;
    return 8;
}

// Multiplies (and as many adds) of the lag sums: every lag j of every point sums
// N - j products.
double lag_products(int32_t steps, int32_t points) { return double(steps) * double(steps - 1) / 2 * points; }

// ---- checking against the plain loop ----

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

// Runs the plain loop on a series file and compares its result with what lagscan
// wrote. Returns the loop's CPU time.
double plain_loop(const std::string& input, const std::string& output, bool& agrees)
{
    Matrix xs_store, aut;
    FieldSeries xs; // point-major, as the plain loop wants
    xs.v = xs_store.v;
    {
        Input in(input);
        read_field_series(in.f, xs);
    }
    const int32_t n = xs.count > 0 ? xs.last.w4 : 0;
    const double t0 = thread_cpu_seconds();
    compute_autocorrelations_plain(xs, n, aut.v);
    const double seconds = thread_cpu_seconds() - t0;
    agrees = output_agrees(read_bytes(output), xs, n, aut.v);
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

std::string ms(const std::vector<double>& v)
{
    char text[32] = "-";
    if (!v.empty()) std::snprintf(text, sizeof text, "%.1f", 1e3 * median(v));
    return text;
}

void print_row(const char* program, const Process& p, const Phases& ph)
{
    std::printf("  %-15s %8s %8s %8s %8s %8s %8.1f\n", program, ms(p.wall).c_str(), ms(p.cpu).c_str(),
                ms(ph.fill).c_str(), ms(ph.fill_touched).c_str(), ms(ph.kernel).c_str(), double(p.rss_kib) * 1024 / 1e6);
}

struct SizeResult {
    double lagscan_wall = 0, lagscan_cpu = 0, kernel = 0, plain = 0;
    bool agrees = false;
};

SizeResult bench_size(const std::string& top, int32_t steps, int runs, LagPath path, double hz, int peak_lanes)
{
    const std::string dir = top + "/" + std::to_string(steps);
    const std::string series_cut = dir + "/series_cut", field_cut = dir + "/field_cut";
    fs::create_directories(series_cut);
    fs::create_directories(field_cut);
    write_field(dir + "/field", steps, MAX_POINTS, 1);
    write_field(dir + "/series", steps, 1, 2);

    Process lag_f, lag_s, cut_f, cut_s, star;
    Phases lag_fp, cut_fp, star_p, none;
    for (int r = 0; r < runs; ++r) {
        // Interleaved, so that a change in the machine's load spreads over all.
        run_program(LAGSCAN_EXE, "field\nfield.aut\n", dir, lag_f);
        run_program(LAGSCAN_EXE, "series\nseries.aut\n", dir, lag_s);
        run_program(SIGCUT_EXE, "../field.aut\n", field_cut, cut_f);
        run_program(SIGCUT_EXE, "../series.aut\n", series_cut, cut_s);
        run_program(NSTAR_EXE, "series.aut\nfield.aut\nseries_cut/critic-lags\nfield_cut/critic-lags\nneff\n", dir,
                    star);
        lagscan_phases(dir + "/field", lag_fp);
        sigcut_phases(dir + "/field.aut", cut_fp);
        nstar_phases(dir, star_p);
    }
    std::printf("\n%d steps x %d points (medians of %d runs; times in ms, RSS in MB)\n", steps, MAX_POINTS, runs);
    std::printf("  %-15s %8s %8s %8s %8s %8s %8s\n", "program", "wall", "cpu", "fill", "touched", "kernel", "peakRSS");
    print_row("lagscan field", lag_f, lag_fp);
    print_row("lagscan series", lag_s, none);
    print_row("sigcut field", cut_f, cut_fp);
    print_row("sigcut series", cut_s, none);
    print_row("nstar", star, star_p);

    SizeResult res;
    res.lagscan_wall = median(lag_f.wall);
    res.lagscan_cpu = median(lag_f.cpu);
    res.kernel = median(lag_fp.kernel);
    const double limit = lag_products(steps, MAX_POINTS) / (double(peak_lanes) * hz);
    std::printf("  lagscan: kernel %.1f ms is %.0f %% of its CPU time; the rest (%.1f ms) is %.0f %%, of which "
                "collecting the lags from the tiles %.1f ms\n",
                1e3 * res.kernel, 100 * res.kernel / res.lagscan_cpu, 1e3 * (res.lagscan_cpu - res.kernel),
                100 * (res.lagscan_cpu - res.kernel) / res.lagscan_cpu, 1e3 * median(lag_fp.gather));
    std::printf("  %s kernel: %.3g multiplies and adds; limit %.1f ms; kernel at %.1f %% of it\n", lag_path_name(path),
                lag_products(steps, MAX_POINTS), 1e3 * limit, 100 * limit / res.kernel);

    bool series_agrees = false;
    res.plain = plain_loop(dir + "/field", dir + "/field.aut", res.agrees);
    plain_loop(dir + "/series", dir + "/series.aut", series_agrees);
    res.agrees = res.agrees && series_agrees;
    std::printf("  plain scalar loop: %.3f s CPU; lagscan whole process is %.1fx faster by wall time, %.1fx by CPU "
                "time; output %s\n",
                res.plain, res.plain / res.lagscan_wall, res.plain / res.lagscan_cpu,
                res.agrees ? "identical" : "DIFFERENT");
    return res;
}

// Every path this CPU runs, on the full-capacity field: the computation alone.
void every_path(const std::string& field, double hz, int runs, int peak_lanes_chosen, LagPath chosen)
{
    std::printf("\nkernel paths on the %d x %d field (computation alone, median CPU time of %d runs)\n", MAX_STEPS,
                MAX_POINTS, runs);
    for (LagPath path : {LagPath::avx512, LagPath::avx2, LagPath::portable}) {
        if (!runs_on(path, this_cpu())) {
            std::printf("  %-8s not run: this CPU lacks it\n", lag_path_name(path));
            continue;
        }
        Matrix xs_store;
        FieldSeries xs;
        xs.lanes = lag_path_lanes(path);
        xs.v = xs_store.v;
        LagScratch scratch;
        std::vector<double> t;
        for (int r = 0; r < runs; ++r) {
            // The kernel leaves its results where the series was: every run reads
            // the series again (into storage already touched after the first).
            Input in(field);
            read_field_series(in.f, xs);
            const double t0 = thread_cpu_seconds();
            compute_autocorrelations(path, xs, xs.last.w4, scratch);
            t.push_back(thread_cpu_seconds() - t0);
        }
        const int32_t n = xs.last.w4;
        const int lanes = path == chosen ? peak_lanes_chosen : assumed_peak_lanes(path);
        const double limit = lag_products(xs.count, n) / (double(lanes) * hz);
        // The fastest run is the one least disturbed by whatever else shares the
        // CPU (on a virtual machine, other guests too).
        const double fastest = *std::min_element(t.begin(), t.end());
        std::printf("  %-8s %8.1f ms; limit at %d lanes/cycle %.1f ms; %.1f %% of it (fastest run %.1f %%)\n",
                    lag_path_name(path), 1e3 * median(t), lanes, 1e3 * limit, 100 * limit / median(t),
                    100 * limit / fastest);
    }
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    int peak_lanes = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--peak-lanes") == 0 && i + 1 < argc) peak_lanes = std::atoi(argv[++i]);
        else runs = std::atoi(argv[i]);
    }
    if (runs < 1) fail("usage: chain_bench [runs] [--peak-lanes L]");

    std::string tmpl = (fs::temp_directory_path() / "chain-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) fail("cannot make a temporary directory");
    const std::string top = tmpl;

    const LagPath path = choose_lag_path(this_cpu());
    if (peak_lanes <= 0) peak_lanes = assumed_peak_lanes(path);
    const double hz = clock_hz();
    const double probe = probe_lanes_per_second(path);
    std::printf("kernel path on this CPU: %s; CPU family %xh%s; load average %.2f\n", lag_path_name(path),
                cpu_family(), amd_cpu() ? " (AMD)" : "", load_average());
    std::printf("clock %.2f GHz (dependent integer adds, one per cycle, CPU time)\n", hz / 1e9);
    std::printf("arithmetic limit assumed: %d multiply and %d add lanes per cycle; an independent multiply-add "
                "probe here reaches %.1f per cycle\n",
                peak_lanes, peak_lanes, probe / hz);
    std::printf("wall: fork to exit; cpu: user+sys of the process; fill, touched, kernel: CPU time of the same steps "
                "in this process (fill: the inputs into fresh storage, page faults included; touched: the same into "
                "storage already touched; kernel: the computation on storage already touched)\n");

    const SizeResult full = bench_size(top, MAX_STEPS, runs, path, hz, peak_lanes);
    const SizeResult small = bench_size(top, 480, runs, path, hz, peak_lanes);
    every_path(top + "/" + std::to_string(MAX_STEPS) + "/field", hz, runs, peak_lanes, path);
    std::printf("\nload average at the end %.2f\n", load_average());

    std::error_code ec;
    fs::remove_all(top, ec);
    return full.agrees && small.agrees ? 0 : 1;
}
