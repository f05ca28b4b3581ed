// fieldtool: the companion program that turns NetCDF fields and CSV series into
// record files for lagscan, sigcut and nstar, and their results back into NetCDF,
// text and a PNG map.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "csv_input.hpp"
#include "output_file.hpp"
#include "run_error.hpp"
#include "netcdf_input.hpp"
#include "netcdf_output.hpp"
#include "png_output.hpp"
#include "summary.hpp"

namespace {

const char* const HELP = R"(Usage: fieldtool SUBCOMMAND ARGUMENTS...

Converts between the record files of lagscan, sigcut and nstar and the formats
data come in, and shows what a record file holds.

  info FILE
      Record pairs, first and last header words, whether W4 varies, value count,
      minimum, median and maximum of the numbers, and the count of MISSING_VALUE,
      NaN, +inf and -inf values.
  dump FILE [--csv]
      Every pair as text: its header words W1..W4, then its values, each in the
      shortest form that reads back to the same float. With --csv, one row per
      pair: W1,W2,W3,W4,value,value,...
  from-csv CSV OUT [--column NAME|INDEX] [--allow-missing]
      One column of CSV becomes a single series: one record pair per row, with
      W1 = row number and W2 = W3 = W4 = 1. The first line is a header when any of
      its cells is not written as a number. INDEX counts from 1; a file of one
      column needs no --column, and in it a blank line is a missing row (blank
      lines after the last row are ignored). Empty cells and NaN are missing. A
      series with a missing row is refused, naming it, because lagscan would take
      the marker for a number; --allow-missing writes them as MISSING_VALUE
      anyway. At most 2000 rows.
  from-netcdf NC VAR OUT
      Variable VAR, with time as its first dimension, becomes a field series: one
      record pair per time step, W1 = step number, W2 = size of the last
      dimension (columns), W3 = size of the one before it (rows), W4 = number of
      grid points, row-major in the file's own order. _FillValue (or netCDF's
      default fill when there is none), missing_value and NaN become
      MISSING_VALUE; scale_factor and add_offset are applied. A point missing at
      any step is marked missing at step 2, where the programs look for missing
      points, and standard error says how many points that was. A classic file
      shorter than its header says, or with a damaged header, is refused.
      At most 2000 steps and 10000 points.
  to-netcdf FILE OUT.nc [--like NC VAR] [--record K] [--name NAME]
      Record pair K (default 1) becomes a NetCDF variable, float, named NAME
      (default neff for an nstar result, else value). With --like, the grid
      dimensions after time of VAR in NC, and their coordinate variables with
      their attributes, are copied; otherwise the shape is W3 rows (y) × W2
      columns (x) when W2 × W3 = W4, else one dimension (point). The template's
      grid must be the record's W3 rows × W2 columns. MISSING_VALUE becomes the
      _FillValue, netCDF's default float fill (9.96921e+36).
  png FILE OUT.png [--record K] [--flip | --like NC VAR] [--range LO:HI]
                   [--diverging]
      Record pair K (default 1) as a colour map of its W3 rows × W2 columns (W2 ×
      W3 must equal W4), with a colour bar and its range below; MISSING_VALUE and
      NaN are grey. North is up when the file's row 0 is the southernmost row,
      as in most NetCDF grids (latitude increasing): row 0 is drawn at the
      bottom. Use --flip for a grid stored north to south, or --like with the
      NetCDF variable the field came from to decide by its row coordinate; its
      coordinates then also label the left and bottom edges (30N, 120W).
      The colours span the values' range, or LO … HI with --range (values
      beyond take the end colours). --diverging draws blue below 0, white at 0
      and red above, over ±max|value| unless --range is given.

Outputs are written to a temporary file beside them and renamed into place when
complete, so a failed run leaves an existing file of that name as it was; a
device or a FIFO named as the output is written as it is. An output that is one
of the inputs is refused. Errors go to standard error as "fieldtool: FILE:
cause" and the exit status is then 2.
)";

[[noreturn]] void usage_error(const std::string& what)
{
    std::fprintf(stderr, "fieldtool: %s\nTry 'fieldtool --help'.\n", what.c_str());
    std::exit(2);
}

// The words after the subcommand: positional arguments and the options that the
// subcommand allows.
struct Arguments {
    int positional_count = 0;
    const char* positional[4] = {};
    bool csv = false, flip = false, allow_missing = false, diverging = false, fixed_range = false;
    double lo = 0, hi = 0;
    const char* column = nullptr;
    const char* like_path = nullptr;
    const char* like_var = nullptr;
    const char* name = nullptr;
    int32_t record = 1;
};

// LO:HI, two finite numbers with LO below HI.
void parse_range(const char* s, Arguments& a)
{
    const std::string bad = std::string("--range needs LO:HI, two numbers with LO below HI, not \"") + s + "\"";
    const char* colon = std::strchr(s, ':');
    if (!colon || colon == s) usage_error(bad);
    char* end = nullptr;
    a.lo = std::strtod(s, &end);
    if (end != colon) usage_error(bad);
    a.hi = std::strtod(colon + 1, &end);
    if (end == colon + 1 || *end != '\0' || !std::isfinite(a.lo) || !std::isfinite(a.hi) || !(a.lo < a.hi))
        usage_error(bad);
    a.fixed_range = true;
}

int32_t record_number(const char* s)
{
    char* end = nullptr;
    const long k = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || k < 1 || k > 1000000) usage_error(std::string("--record needs a pair number from 1, not \"") + s + "\"");
    return int32_t(k);
}

Arguments parse(const char* command, int argc, char** argv, int positionals, const char* allowed)
{
    Arguments a;
    for (int i = 0; i < argc; ++i) {
        const std::string w = argv[i];
        auto value = [&](int n) {
            if (i + n >= argc) usage_error(w + " needs " + (n == 1 ? "a value" : "two values"));
            i += n;
            return argv[i - n + 1];
        };
        if (w.size() > 2 && w[0] == '-' && w[1] == '-') {
            if (std::strstr(allowed, (w + " ").c_str()) == nullptr)
                usage_error(std::string(command) + " takes no option " + w);
            if (w == "--csv") a.csv = true;
            else if (w == "--flip") a.flip = true;
            else if (w == "--allow-missing") a.allow_missing = true;
            else if (w == "--diverging") a.diverging = true;
            else if (w == "--range") parse_range(value(1), a);
            else if (w == "--column") a.column = value(1);
            else if (w == "--name") a.name = value(1);
            else if (w == "--record") a.record = record_number(value(1));
            else if (w == "--like") {
                a.like_path = value(2);
                a.like_var = argv[i];
            }
            continue;
        }
        if (a.positional_count == positionals)
            usage_error(std::string(command) + " takes " + std::to_string(positionals) + " arguments; \"" + w +
                        "\" is one too many");
        a.positional[a.positional_count++] = argv[i];
    }
    if (a.positional_count < positionals)
        usage_error(std::string(command) + " needs " + std::to_string(positionals) + " arguments");
    return a;
}

// Standard output is checked at the end of every run, the help included: text
// that could not be written is a failure.
int finish_stdout()
{
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "fieldtool: standard output: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file size limit a write then fails and is reported, instead of the
    // process ending on a signal without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2) usage_error("no subcommand given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(HELP, stdout);
        return finish_stdout();
    }
    for (int i = 2; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(HELP, stdout);
            return finish_stdout();
        }
    const int rest = argc - 2;
    char** words = argv + 2;

    // The record functions report a fault by throwing; it ends the run on the
    // tools' fatal path, which abandons any output begun.
    try {
        if (command == "info") {
            const Arguments a = parse("info", rest, words, 1, "");
            print_info(a.positional[0], stdout);
        } else if (command == "dump") {
            const Arguments a = parse("dump", rest, words, 1, "--csv ");
            print_dump(a.positional[0], a.csv, stdout);
        } else if (command == "from-csv") {
            const Arguments a = parse("from-csv", rest, words, 2, "--column --allow-missing ");
            convert_csv(a.positional[0], a.positional[1], a.column ? a.column : "", a.allow_missing);
        } else if (command == "from-netcdf") {
            const Arguments a = parse("from-netcdf", rest, words, 3, "");
            convert_netcdf(a.positional[0], a.positional[1], a.positional[2]);
        } else if (command == "to-netcdf") {
            const Arguments a = parse("to-netcdf", rest, words, 2, "--like --record --name ");
            write_result_netcdf(a.positional[0], a.positional[1], {a.record, a.like_path, a.like_var, a.name});
        } else if (command == "png") {
            const Arguments a = parse("png", rest, words, 2, "--record --flip --like --range --diverging ");
            if (a.flip && a.like_path) usage_error("png takes --flip or --like, not both");
            PngOptions opt{a.record, a.flip, a.like_path, a.like_var, {}};
            opt.style.scale = a.diverging ? ColourScale::diverging : ColourScale::sequential;
            opt.style.fixed_range = a.fixed_range;
            opt.style.lo = a.lo;
            opt.style.hi = a.hi;
            write_record_png(a.positional[0], a.positional[1], opt);
        } else {
            usage_error("unknown subcommand \"" + command + "\"");
        }
    } catch (const RunError& e) {
        output_fatal(e.file.c_str(), e.cause.c_str());
    }
    return finish_stdout();
}
