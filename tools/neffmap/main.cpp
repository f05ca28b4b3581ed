// neffmap: one command from a NetCDF field and an index series to a NetCDF map
// of the effective sample size, driving lagscan, sigcut and nstar tile by tile.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "neffmap_run.hpp"
#include "run_frame.hpp"
#include "supervised_run.hpp"

namespace {

const char* const DESCRIPTION = R"(Tests, at every point of FIELD's variable VAR, the correlation r with the
series SERIES against Student's t with an effective sample size, and writes OUT.nc
on VAR's grid: r, neff (nstar's value, from lagscan, sigcut and nstar run on
tiles of at most 10000 points), neff_lag1 (N(1 - a1 b1)/(1 + a1 b1) from the
lag-1 autocorrelations lagscan wrote), dof (min(neff, N) - 2 of the chosen
method: the test never credits more samples than steps), p (two-sided), and the
masks sig_local (p < alpha) and sig_fdr (Benjamini-Hochberg at q).

VAR has time as its first dimension; the dimensions after it are the grid.
SERIES is FILE.csv[:COLUMN] (a header name or a 1-based index), FILE.nc:VAR (a
1-D variable along time) or a record file of one point per pair. A point with a
fill value or NaN at any selected step is missing in the output.

--neff min (the default) tests with the smaller of the chain's and the lag-1
value, which keeps the false-positive rate near alpha from 20 steps up; with
fewer than about 50 steps the chain's critical-lag search rarely finds a lag.)";

[[noreturn]] void usage_error(const std::string& what)
{
    std::fprintf(stderr, "neffmap: %s (see neffmap --help)\n", what.c_str());
    std::exit(FATAL_EXIT_STATUS);
}

StepRange parse_steps(const std::string& option, const std::string& text)
{
    const size_t colon = text.find(':');
    StepRange r;
    auto number = [&](const std::string& s, int64_t fallback) -> int64_t {
        if (s.empty()) return fallback;
        char* end = nullptr;
        const long long v = std::strtoll(s.c_str(), &end, 10);
        if (*end != '\0' || v < 1) usage_error(option + ": takes A:B, 1-based steps, not \"" + text + "\"");
        return v;
    };
    if (colon == std::string::npos) usage_error(option + ": takes A:B, 1-based steps, not \"" + text + "\"");
    r.first = number(text.substr(0, colon), 1);
    r.last = number(text.substr(colon + 1), 0);
    if (r.last != 0 && r.last < r.first) usage_error(option + ": " + text + " ends before it starts");
    return r;
}

void parse_range(const std::string& text, RunOptions& opt)
{
    const size_t colon = text.find(':', 1);
    char* end1 = nullptr;
    char* end2 = nullptr;
    const std::string lo = colon == std::string::npos ? text : text.substr(0, colon);
    const std::string hi = colon == std::string::npos ? "" : text.substr(colon + 1);
    opt.range_lo = std::strtod(lo.c_str(), &end1);
    opt.range_hi = std::strtod(hi.c_str(), &end2);
    if (colon == std::string::npos || lo.empty() || hi.empty() || *end1 != '\0' || *end2 != '\0' ||
        !(opt.range_lo < opt.range_hi) || !std::isfinite(opt.range_lo) || !std::isfinite(opt.range_hi))
        usage_error("--range: needs LO:HI, two numbers with LO below HI, not \"" + text + "\"");
    opt.fixed_range = true;
}

std::string history_line(int argc, char** argv)
{
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
    std::string line = std::string(stamp) + ":";
    for (int i = 0; i < argc; ++i) line += std::string(" ") + argv[i];
    return line;
}

RunPlaces choose_places(const RunOptions& opt)
{
    RunPlaces p;
    if (!opt.work.empty()) {
        if (::mkdir(opt.work.c_str(), 0777) != 0 && errno != EEXIST) fatal_errno(opt.work.c_str(), errno);
        p.work_dir = opt.work;
        p.keep_work = true;
    } else {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/neffmap-XXXXXX";
        if (!::mkdtemp(pattern.data())) fatal_errno(pattern.c_str(), errno);
        p.work_dir = pattern;
    }
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    RunOptions opt;
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    opt.jobs = cpus > 0 ? int(cpus) : 1;
    std::string field_steps, series_steps, method = "min", png_var = "r", range;

    CLI::App app{DESCRIPTION, "neffmap"};
    app.add_option("FIELD", opt.field, "NetCDF file of the field")->required();
    app.add_option("VAR", opt.var, "the field's variable, time first")->required();
    app.add_option("SERIES", opt.series, "FILE.csv[:COLUMN], FILE.nc:VAR or a record file")->required();
    app.add_option("OUT", opt.out, "NetCDF file to write")->required();
    app.add_option("--png", opt.png, "also draw the map as a PNG picture");
    app.add_option("--jobs", opt.jobs, "tiles in flight at once (default: online CPUs)")->check(CLI::Range(1, 64));
    app.add_option("--field-steps", field_steps, "time steps A:B of the field, 1-based, inclusive");
    app.add_option("--series-steps", series_steps, "time steps A:B of the series, 1-based, inclusive");
    app.add_option("--work", opt.work, "keep the intermediate record files in this directory");
    app.add_option("--programs", opt.programs, "directory of lagscan, sigcut and nstar (default: beside neffmap, "
                                               "its build tree, then PATH)");
    app.add_flag("--quiet", opt.quiet, "no progress line and no summary");
    app.add_option("--alpha", opt.alpha, "level of the local test, p < alpha (default 0.05)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fdr", opt.q, "false-discovery rate q of the Benjamini-Hochberg mask (default 0.10)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--neff", method, "effective sample size of the test: chain, lag1 or min (default min)")
        ->check(CLI::IsMember({"chain", "lag1", "min"}));
    app.add_option("--png-var", png_var, "variable drawn by --png: r (default), neff or p")
        ->check(CLI::IsMember({"r", "neff", "p"}));
    app.add_option("--range", range, "colour range LO:HI of the picture (default: ±max|r|, or the values' range)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        usage_error(e.what());
    }
    if (!field_steps.empty()) opt.field_steps = parse_steps("--field-steps", field_steps);
    if (!series_steps.empty()) opt.series_steps = parse_steps("--series-steps", series_steps);
    if (!(opt.alpha > 0 && opt.alpha < 1)) usage_error("--alpha: must lie strictly between 0 and 1");
    if (!(opt.q > 0 && opt.q < 1)) usage_error("--fdr: must lie strictly between 0 and 1");
    parse_neff_method(method.c_str(), opt.method);
    opt.png_var = png_var == "neff" ? PictureVariable::neff : png_var == "p" ? PictureVariable::p : PictureVariable::r;
    if (!range.empty()) parse_range(range, opt);
    opt.command_line = history_line(argc, argv);

    const RunPlaces places = choose_places(opt);
    const pid_t worker = start_worker();
    if (worker == 0) return run_neffmap(opt, places);
    return supervise(worker, places);
}
