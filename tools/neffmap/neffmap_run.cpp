#include "neffmap_run.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "chain_runs.hpp"
#include "map_output.hpp"
#include "map_picture.hpp"
#include "run_frame.hpp"
#include "run_summary.hpp"
#include "tile_work.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string range_text(int64_t first, int32_t steps, int64_t total)
{
    return std::to_string(first) + " … " + std::to_string(first + steps - 1) + " of " + std::to_string(total);
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
    run_series_chain(programs, series, places.work_dir, field.path, res);
    TileRunSettings settings;
    settings.work = places.work_dir;
    settings.keep_files = places.keep_work;
    settings.jobs = opt.jobs;
    settings.progress = !opt.quiet && ::isatty(2);
    run_tile_chains(programs, field, series, settings, res);

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
    write_map_netcdf(opt.out.c_str(), field, res, sig, test, d);
    if (!opt.png.empty()) draw_result_png(opt.png.c_str(), field, res, sig, opt, field.steps);

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!opt.quiet) print_summary(field, series, res, sig, test, seconds);
    release_significance(sig);
    release_results(res);
    nc_close(field.tv.ncid);
    if (std::fflush(stdout) != 0) fatal_errno("standard output", errno);
    return 0;
}
