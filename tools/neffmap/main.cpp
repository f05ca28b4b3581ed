// neffmap: one command from a NetCDF field and an index series to a NetCDF map
// of the effective sample size and the significance of the correlation, computed
// tile by tile with lagscan's, sigcut's and nstar's own functions.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <tuple>
#include <unistd.h>

#include "interrupts.hpp"
#include "map_picture.hpp"
#include "neffmap_run.hpp"
#include "phasetest.hpp"
#include "run_error.hpp"
#include "value_ranges.hpp"

namespace {

const char* const DESCRIPTION = R"(Tests, at every point of FIELD's variable VAR, the correlation r with the
series SERIES against Student's t with an effective sample size, and writes OUT.nc
on VAR's grid: r, slope (least squares of the point on the series), neff
(nstar's value, computed as lagscan, sigcut and nstar compute it, on tiles of at
most 10000 points), neff_lag1 (N(1 - a1 b1)/(1 + a1 b1) from the lag-1
autocorrelations), dof (min(neff, N) - 2 of the chosen method: the test never
credits more samples than steps), p (two-sided), and the masks sig_local
(p < alpha) and sig_fdr (Benjamini-Hochberg at q).

VAR has time as its first dimension; the dimensions after it are the grid.
SERIES is recognised by what the file holds: FILE:VAR of a NetCDF file (a 1-D
variable along time), a record file of one point per pair, or CSV text as
FILE[:COLUMN] (a header name or a 1-based number; a column of ISO dates gives
the dates; a table of a year and 12 monthly values per row is a monthly series).

When both have dates, steps are paired by date over the period both cover
(--period narrows it); otherwise by position, after --field-steps and
--series-steps. In this order: select, shift by --lag, pair, --anomalies,
--detrend, then the chain and the test. A point with a fill value or NaN at any
paired step is missing in the output; the series may miss none.

--neff min (the default) tests with the smaller of the chain's and the lag-1
value, which keeps the false-positive rate near alpha from 20 steps up; with
fewer than about 50 steps the chain's critical-lag search rarely finds a lag.

--picture FILE (or --png FILE) also draws one variable of the map (--png-var)
as a PNG, SVG or PDF picture, by FILE's extension: the points significant after
FDR dotted (--stipple local: those with p < alpha), coastlines on a
latitude/longitude grid, and a title saying what was tested.

--test phase assumes no model of the autocorrelation: p is (1 + the number of
M surrogates of the series, with its Fourier amplitudes and random phases, whose
|r| with the point reaches the point's |r|) / (M + 1), two-sided, so p is never
below 1/(M + 1); neff, neff_lag1 and dof are still written, for reference. The
map's field significance (Livezey and Chen) comes from the same surrogates as
the attribute field_p.

Every output is written under a temporary name and takes its own only when all
of them are complete: a run that fails or is interrupted leaves the old files.)";

constexpr int FATAL_STATUS = 2;

// The picture's options, as given, until they are checked.
struct PictureWords {
    std::string png, var = "r", stipple = "fdr", range, size;
    bool no_coast = false;
};

void add_picture_options(CLI::App& app, RunOptions& opt, PictureWords& w)
{
    CLI::Option* picture =
        app.add_option("--picture", opt.picture, "also draw the map: FILE.png, FILE.svg or FILE.pdf, by its extension");
    app.add_option("--png", w.png, "the same as --picture")->excludes(picture);
    app.add_option("--png-var", w.var, "variable drawn: r (default), neff, neff_lag1, p or slope")
        ->check(CLI::IsMember({"r", "neff", "neff_lag1", "p", "slope"}));
    app.add_option("--stipple", w.stipple, "points dotted: fdr (sig_fdr, the default) or local (sig_local)")
        ->check(CLI::IsMember({"fdr", "local"}));
    app.add_option("--range", w.range,
                   "colour range LO:HI, in p for p (0.001:1); default: r symmetric, rounded up to a tenth; p "
                   "0.0001 to 1; others their values' range");
    app.add_option("--size", w.size, "WxH of the picture: pixels for PNG, points for SVG and PDF");
    app.add_option("--title", opt.title, "title of the picture in place of the one saying what was tested");
    app.add_flag("--no-coast", w.no_coast, "no coastlines");
}

// Everything about the picture is checked here, before any file is touched: its
// format, its size, the colour range on the drawn variable's scale.
void read_picture_options(const CLI::App& app, const PictureWords& w, RunOptions& opt)
{
    if (!w.png.empty()) opt.picture = w.png;
    const bool wanted = app.count("--picture") + app.count("--png") > 0;
    if (wanted && opt.picture.empty()) fail("\"\"", "is an empty name; name a picture to write");
    opt.title_given = app.count("--title") > 0;
    opt.coastlines = !w.no_coast;
    opt.stipple = w.stipple == "local" ? StippleMask::local : StippleMask::fdr;
    opt.picture_var = w.var == "neff"        ? PictureVariable::neff
                      : w.var == "neff_lag1" ? PictureVariable::neff_lag1
                      : w.var == "p"         ? PictureVariable::p
                      : w.var == "slope"     ? PictureVariable::slope
                                             : PictureVariable::r;
    if (!w.range.empty()) {
        opt.range = parse_value_range("--range", w.range);
        opt.fixed_range = true;
        check_colour_range(picture_scale(opt.picture_var), opt.range.lo, opt.range.hi);
    }
    if (!w.size.empty()) opt.picture_size = parse_picture_size(w.size);
    if (!wanted) {
        for (const char* option : {"--png-var", "--stipple", "--range", "--size", "--title", "--no-coast"})
            if (app.count(option) > 0) fail(option, "draws nothing without --picture FILE");
        return;
    }
    opt.picture_format = picture_format_of(opt.picture);
    check_picture_size(opt.picture_format, opt.picture_size, opt.picture);
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

// A whole number from 0 to 2^64 - 1, written in decimal digits only.
uint64_t parse_seed(const std::string& text)
{
    uint64_t seed = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seed);
    if (text.empty() || text[0] == '+' || error != std::errc{} || stop != end)
        fail("--seed", "must be a whole number from 0 to 18446744073709551615, not \"" + text + "\"");
    return seed;
}

// The command line into options; throws CLI::ParseError for what CLI11 finds
// and RunError, naming the option, for the ranges. Returns false when the help
// was asked for (and printed).
bool read_command_line(int argc, char** argv, RunOptions& opt)
{
    const long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    opt.jobs = cpus > 0 ? int(cpus) : 1;
    std::string field_steps, series_steps, method = "min", test = "t", seed_text;
    PictureWords picture;

    CLI::App app{DESCRIPTION, "neffmap"};
    app.add_option("FIELD", opt.field, "NetCDF file of the field")->required();
    app.add_option("VAR", opt.var, "the field's variable, time first")->required();
    app.add_option("SERIES", opt.series, "CSV FILE[:COLUMN], NetCDF FILE:VAR or a record file")->required();
    app.add_option("OUT", opt.out, "NetCDF file to write")->required();
    app.add_option("--jobs", opt.jobs, "tiles computed at once (default: online CPUs)")->check(CLI::Range(1, 64));
    app.add_option("--work", opt.work,
                   "also write every tile's record files here, as the three programs would (a new or empty "
                   "directory, or one an earlier --work run made)");
    app.add_flag("--quiet", opt.quiet, "no progress line and no summary");
    app.add_option("--alpha", opt.alpha, "level of the local test, p < alpha (default 0.05)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--fdr", opt.q, "false-discovery rate q of the Benjamini-Hochberg mask (default 0.10)")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--neff", method, "effective sample size of the test: chain, lag1 or min (default min)")
        ->check(CLI::IsMember({"chain", "lag1", "min"}));
    add_picture_options(app, opt, picture);
    // The test.
    app.add_option("--test", test,
                   "significance test: t (Student's t with the effective sample size of --neff, the default) or "
                   "phase (phase-randomised surrogates of the series)")
        ->check(CLI::IsMember({"t", "phase"}));
    const CLI::Option* surrogates =
        app.add_option("--surrogates", opt.surrogates, "surrogates of --test phase (default 1000, at most 100000)")
            ->check(CLI::Range(int64_t(1), MAX_SURROGATES));
    // Read as text: CLI11 would take -1 as 2^64 - 1, and the map records the seed as it is used.
    const CLI::Option* seed = app.add_option("--seed", seed_text, "seed of the surrogates' random phases (default 1)");

    // Dates: which steps are paired, and what is taken out of them first.
    std::string period;
    app.add_option("--period", period,
                   "paired period START/END, ISO dates, inclusive (1982-01/1992-12; START/ or /END leave a side open)");
    app.add_option("--lag", opt.pairing.lag,
                   "K steps: K > 0 pairs the series' step t with the field's step t + K (the series leads); K < 0 "
                   "the other way")
        ->check(CLI::Range(-1000000, 1000000));
    app.add_flag("--pair-by-position", opt.pairing.pair_by_position,
                 "pair the steps by their order even where both have dates (also accepts an irregular time axis)");
    app.add_option("--field-steps", field_steps, "time steps A:B of the field, 1-based, inclusive (without dates)");
    app.add_option("--series-steps", series_steps, "time steps A:B of the series, 1-based, inclusive (without dates)");
    app.add_option("--missing-value", opt.series_read.missing_value,
                   "a number that marks a missing value of the series (-99.99, -999)");
    app.add_flag("--anomalies", opt.anomalies,
                 "take out, at every point and from the series, the mean of each calendar month (monthly steps), "
                 "three annual harmonics (daily steps) or the mean (other steps)");
    app.add_flag("--detrend", opt.detrend, "then take out the least-squares line");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e);
        return false;
    }
    if (!(opt.alpha > 0 && opt.alpha < 1)) fail("--alpha", "must lie strictly between 0 and 1");
    if (!(opt.q > 0 && opt.q < 1)) fail("--fdr", "must lie strictly between 0 and 1");
    parse_neff_method(method.c_str(), opt.method);
    read_picture_options(app, picture, opt);
    opt.test = test == "phase" ? TestKind::phase : TestKind::t;
    if (opt.test == TestKind::t && surrogates->count() > 0) fail("--surrogates", "is for --test phase");
    if (opt.test == TestKind::t && seed->count() > 0) fail("--seed", "is for --test phase");
    if (seed->count() > 0) opt.seed = parse_seed(seed_text);
    opt.command_line = history_line(argc, argv);

    if (!period.empty()) {
        opt.pairing.period = parse_period(period);
        opt.pairing.has_period = true;
    }
    for (auto [text, option, selection] : {std::tuple{&field_steps, "--field-steps", &opt.pairing.field_steps},
                                           std::tuple{&series_steps, "--series-steps", &opt.pairing.series_steps}}) {
        if (text->empty()) continue;
        const StepRange r = parse_step_range(option, *text);
        *selection = StepSelection{true, r.first, r.last};
    }
    opt.series_read.has_missing_value = app.count("--missing-value") > 0;
    if (opt.series_read.has_missing_value && !std::isfinite(opt.series_read.missing_value))
        fail("--missing-value", "must be a finite number");
    return true;
}

[[noreturn]] void end_fatally()
{
    // Everything of the run is cleaned up by now. The exit handlers are skipped:
    // after a write it refused, libhdf5's own clean-up at exit crashes on the
    // file it could not close.
    std::fflush(stdout);
    std::_Exit(FATAL_STATUS);
}

} // namespace

int main(int argc, char** argv)
{
    // A write past a file size limit, or into a pipe nobody reads, then fails and
    // is reported, instead of the process ending on a signal without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        RunOptions opt;
        if (read_command_line(argc, argv, opt))
            for (const std::string& note : run_neffmap(opt)) std::fprintf(stderr, "neffmap: %s\n", note.c_str());
        if (std::fflush(stdout) != 0) fail("standard output", std::strerror(errno));
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "neffmap: %s (see neffmap --help)\n", e.what());
    } catch (const RunError& e) {
        std::fprintf(stderr, "neffmap: %s: %s\n", e.file.c_str(), e.cause.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "neffmap: memory: not enough memory for this grid\n");
    } catch (const Interrupted& i) {
        std::fprintf(stderr, "neffmap: interrupted (%s); every output is as it was\n", strsignal(i.signal));
        std::fflush(stdout);
        end_on_signal(i.signal);
    }
    end_fatally();
}
