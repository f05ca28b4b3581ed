#include "neffmap_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "chain_programs.hpp"
#include "map_output.hpp"
#include "map_picture.hpp"
#include "partial_output.hpp"
#include "record_access.hpp"
#include "run_frame.hpp"
#include "tile_work.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MAX_JOBS = 64;

struct TileJob {
    int64_t tile = -1; // -1: the slot is free
    PointTile extent;
    Program stage = LAGSCAN;
    pid_t pid = -1;
    std::string dir;
};

std::string range_text(int64_t first, int32_t steps, int64_t total)
{
    return std::to_string(first) + " … " + std::to_string(first + steps - 1) + " of " + std::to_string(total);
}

void make_directory(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) fatal_errno(dir.c_str(), errno);
}

void remove_tile_files(const std::string& dir)
{
    for (const char* name : {"field.dat", "field.aut", "critic-lags", "neff.dat", "messages"})
        ::unlink((dir + "/" + name).c_str());
    ::rmdir(dir.c_str());
}

std::string answers_for(Program stage)
{
    switch (stage) {
    case LAGSCAN: return "field.dat\nfield.aut\n";
    case SIGCUT: return "field.aut\n";
    default: return "../series.aut\nfield.aut\n../series-lags/critic-lags\ncritic-lags\nneff.dat\n";
    }
}

// Runs one program to its end, for the series' two steps.
void run_to_end(const ChainPrograms& programs, Program p, const std::string& cwd, const std::string& answers,
                const char* field_path)
{
    const pid_t pid = start_program(programs, p, cwd, answers, "messages");
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) fatal_errno(PROGRAM_NAMES[p], errno);
    const std::string why = program_failure(status, cwd + "/messages");
    if (!why.empty()) {
        const std::string cause = std::string("the series: ") + PROGRAM_NAMES[p] + " failed: " + why;
        fatal(field_path, cause.c_str());
    }
}

std::string clock_text(double seconds)
{
    const long s = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

void show_progress(int64_t done, int64_t total, Clock::time_point start)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double left = done > 0 ? elapsed / double(done) * double(total - done) : 0;
    std::fprintf(stderr, "\rneffmap: tiles %lld of %lld, %s elapsed, about %s left   ", (long long)done,
                 (long long)total, clock_text(elapsed).c_str(), clock_text(left).c_str());
    std::fflush(stderr);
}

void check_field(const FieldSource& f, const std::string& var)
{
    const std::string what = "variable \"" + var + "\" (" + dimension_list(f.tv) + ")";
    if (f.tv.sizes[0] == 0) fatal(f.path, (what + " has no time steps").c_str());
    if (f.tv.points == 0) fatal(f.path, (what + " has no grid points").c_str());
}

void check_steps(const FieldSource& field, const IndexSeries& series, const std::string& field_span)
{
    if (field.steps > MAX_STEPS) {
        const std::string cause = "the field has " + std::to_string(field.steps) +
                                  " selected steps; at most 2000 fit, so select fewer with --field-steps A:B";
        fatal(field.path, cause.c_str());
    }
    if (series.steps != field.steps) {
        std::string cause = "the series has " + std::to_string(series.steps) + " steps, the field " +
                            std::to_string(field.steps) + "; select equal periods with --series-steps and --field-steps";
        if (!series.time_span.empty()) cause += "; series time " + series.time_span;
        if (!field_span.empty()) cause += "; field time " + field_span;
        fatal(series.path.c_str(), cause.c_str());
    }
    for (int32_t t = 0; t < series.steps; ++t)
        if (series.values[t] == MISSING_VALUE || std::isnan(series.values[t])) {
            const std::string cause = "the series is missing at step " + std::to_string(series.first_step + t) +
                                      "; the correlation needs every step of it";
            fatal(series.path.c_str(), cause.c_str());
        }
    if (field.steps < 3) {
        const std::string cause = "only " + std::to_string(field.steps) + " steps are selected; at least 3 are needed";
        fatal(field.path, cause.c_str());
    }
}

// The directory OUT will be written in must take a new file before any work.
void check_writable_beside(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(dir.c_str(), W_OK) != 0) fatal_errno(path.c_str(), errno);
}

std::string grid_text(const TimeVariable& tv)
{
    if (tv.rank == 1) return "a single point";
    std::string s;
    for (int d = 1; d < tv.rank; ++d) {
        if (d > 1) s += " × ";
        s += std::string(tv.dim_names[d]) + " " + std::to_string(tv.sizes[d]);
    }
    return s;
}

std::string method_text(NeffMethod m)
{
    switch (m) {
    case NeffMethod::chain: return "chain (nstar's neff)";
    case NeffMethod::lag1: return "lag1 (N(1 - a1 b1)/(1 + a1 b1))";
    default: return "min (the smaller of the chain's and the lag-1 value)";
    }
}

void print_summary(const FieldSource& field, const IndexSeries& series, const PointResults& res,
                   const SignificanceMap& sig, const TestSettings& test, double seconds)
{
    int64_t absent = 0, gaps = 0;
    std::vector<float> neff;
    for (int64_t p = 0; p < res.points; ++p) {
        absent += res.state[p] == POINT_ABSENT;
        gaps += res.state[p] == POINT_GAP;
        if (res.neff[p] != MISSING_VALUE && !std::isnan(res.neff[p])) neff.push_back(res.neff[p]);
    }
    std::printf("grid:      %s (%lld points)\n", grid_text(field.tv).c_str(), (long long)res.points);
    std::printf("steps:     %d (field steps %lld … %lld, series steps %lld … %lld)\n", field.steps,
                (long long)field.first_step, (long long)(field.first_step + field.steps - 1),
                (long long)series.first_step, (long long)(series.first_step + series.steps - 1));
    std::printf("points:    %lld with a result, %lld missing throughout, %lld dropped for gaps\n",
                (long long)neff.size(), (long long)absent, (long long)gaps);
    if (!neff.empty()) {
        std::sort(neff.begin(), neff.end());
        const size_t m = neff.size();
        const double median = m % 2 ? neff[m / 2] : (double(neff[m / 2 - 1]) + double(neff[m / 2])) / 2;
        std::printf("neff:      min %.2f  median %.2f  max %.2f\n", double(neff.front()), median, double(neff.back()));
    }
    std::printf("test:      neff %s, alpha %g, FDR q %g\n", method_text(test.method).c_str(), test.alpha, test.q);
    std::printf("tested:    %lld points, %lld with p < alpha\n", (long long)sig.tested, (long long)sig.local);
    if (std::isnan(sig.p_fdr))
        std::printf("FDR:       no point significant (no p-value under the Benjamini-Hochberg line)\n");
    else
        std::printf("FDR:       %lld points significant, p_FDR = %.4g\n", (long long)sig.fdr, sig.p_fdr);
    std::printf("capped:    %lld points with neff > N = %d, tested with dof = N - 2\n", (long long)sig.capped,
                field.steps);
    if (test.method == NeffMethod::chain && field.steps < 50)
        std::printf("warning:   with N = %d steps the critical-lag search rarely finds a lag, so the chain's neff "
                    "stays near N and too many points pass; --neff min (the default) keeps the rate near alpha\n",
                    field.steps);
    std::printf("wall time: %.1f s\n", seconds);
}

} // namespace

int run_neffmap(const RunOptions& opt, const RunPlaces& places)
{
    const auto start = Clock::now();
    // A program that dies before reading its answers must not take neffmap with it.
    std::signal(SIGPIPE, SIG_IGN);
    static FieldSource field;
    field.path = opt.field.c_str();
    open_time_variable(field.path, opt.var.c_str(), field.tv);
    check_field(field, opt.var);
    int64_t first, last;
    select_steps(opt.field_steps, int64_t(field.tv.sizes[0]), field.path, "--field-steps", first, last);
    field.first_step = first;
    field.steps = int32_t(std::min<int64_t>(last - first + 1, INT32_MAX));
    field.unpack = read_unpacking(field.path, field.tv);
    const std::string field_span =
        time_span(field.tv.ncid, field.tv.dimids[0], size_t(first - 1), size_t(last - first + 1));

    static IndexSeries series;
    read_index_series(opt.series, opt.series_steps, series);
    check_steps(field, series, field_span);
    if (!opt.png.empty() && !grid_is_drawable(field)) {
        const std::string cause = "--png draws a grid of at most two dimensions and " +
                                  std::to_string(MAX_MAP_SIDE) + " rows and columns; variable \"" + opt.var +
                                  "\" has " + grid_text(field.tv) + "; leave out --png or select a region first";
        fatal(field.path, cause.c_str());
    }
    check_writable_beside(opt.out);
    if (!opt.png.empty()) check_writable_beside(opt.png);
    ChainPrograms programs;
    find_programs(opt.programs, programs);

    PointResults res;
    reserve_results(res, field.tv.points, field.path);

    // The series goes through lagscan and sigcut once.
    const std::string& work = places.work_dir;
    {
        static RecordOutput out;
        const std::string path = work + "/series.dat";
        open_record_output(out, path.c_str());
        for (int32_t t = 0; t < series.steps; ++t) write_pair(out, RecordHeader{t + 1, 1, 1, 1}, &series.values[t]);
        close_record_output(out);
    }
    run_to_end(programs, LAGSCAN, work, "series.dat\nseries.aut\n", field.path);
    make_directory(work + "/series-lags");
    run_to_end(programs, SIGCUT, work + "/series-lags", "../series.aut\n", field.path);
    read_lag1(work + "/series.aut", 1, &res.series_lag1);

    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    const int jobs = int(std::min<int64_t>(std::min(opt.jobs, MAX_JOBS), tiles));
    float* values = static_cast<float*>(std::malloc(sizeof(float) * size_t(field.steps) * size_t(MAX_POINTS)));
    if (!values) fatal(field.path, "cannot reserve memory for a tile");
    static TileJob slot[MAX_JOBS];
    const bool progress = !opt.quiet && ::isatty(2);
    int64_t next = 0, done = 0;
    while (done < tiles) {
        for (int j = 0; j < jobs && next < tiles; ++j) {
            if (slot[j].tile >= 0) continue;
            TileJob& job = slot[j];
            job.tile = next++;
            job.extent = tile_at(field.tv, MAX_POINTS, job.tile);
            char name[32];
            std::snprintf(name, sizeof name, "/tile-%05lld", (long long)job.tile + 1);
            job.dir = work + name;
            make_directory(job.dir);
            prepare_tile(field, series, job.extent, job.dir, values, res);
            job.stage = LAGSCAN;
            job.pid = start_program(programs, LAGSCAN, job.dir, answers_for(LAGSCAN), "messages");
        }
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            fatal_errno("neffmap", errno);
        }
        int j = 0;
        while (j < jobs && slot[j].pid != pid) ++j;
        if (j == jobs) continue;
        TileJob& job = slot[j];
        const std::string why = program_failure(status, job.dir + "/messages");
        if (!why.empty()) {
            const std::string cause = "tile " + std::to_string(job.tile + 1) + " of " + std::to_string(tiles) +
                                      " (points " + std::to_string(job.extent.first_point + 1) + " … " +
                                      std::to_string(job.extent.first_point + job.extent.points) + "): " +
                                      PROGRAM_NAMES[job.stage] + " failed: " + why;
            fatal(field.path, cause.c_str());
        }
        if (job.stage != NSTAR) {
            job.stage = Program(job.stage + 1);
            job.pid = start_program(programs, job.stage, job.dir, answers_for(job.stage), "messages");
            continue;
        }
        collect_tile(job.extent, job.dir, res);
        if (!places.keep_work) remove_tile_files(job.dir);
        job.tile = -1;
        job.pid = -1;
        ++done;
        if (progress) show_progress(done, tiles, start);
    }
    std::free(values);
    if (progress) std::fputc('\n', stderr);

    const TestSettings test{opt.alpha, opt.q, opt.method};
    static SignificanceMap sig;
    test_points(res, field.steps, test, sig);

    MapDescription d;
    d.steps = field.steps;
    d.history = opt.command_line;
    d.field_source = opt.field + ":" + opt.var;
    d.series_source = opt.series;
    d.field_steps = range_text(field.first_step, field.steps, int64_t(field.tv.sizes[0]));
    d.series_steps = range_text(series.first_step, series.steps, series.steps_in_file);
    write_map_netcdf(places.out_partial.c_str(), field, res, sig, test, d);
    if (!opt.png.empty()) draw_result_png(places.png_partial.c_str(), field, res, sig, opt, field.steps);
    put_in_place(places.out_partial, opt.out);
    if (!opt.png.empty()) put_in_place(places.png_partial, opt.png);

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!opt.quiet) print_summary(field, series, res, sig, test, seconds);
    release_significance(sig);
    release_results(res);
    nc_close(field.tv.ncid);
    if (std::fflush(stdout) != 0) fatal_errno("standard output", errno);
    return 0;
}
