// fieldtool: the companion program that turns NetCDF fields and CSV series into
// record files for lagscan, sigcut and nstar, and their results back into NetCDF,
// text and map pictures.
#include <CLI/CLI.hpp>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "csv_conversion.hpp"
#include "netcdf_input.hpp"
#include "netcdf_output.hpp"
#include "record_picture.hpp"
#include "run_error.hpp"
#include "summary.hpp"
#include "value_ranges.hpp"

namespace {

const char* const DESCRIPTION = R"(Converts between the record files of lagscan, sigcut and nstar and the formats
data come in, and shows what a record file holds.

Outputs are written to a temporary file beside them and renamed into place when
complete, so a failed run leaves an existing file of that name as it was; a
device or a FIFO named as the output is written as it is. An output that is one
of the inputs is refused. Errors go to standard error as "fieldtool: FILE:
cause" and the exit status is then 2.)";

const char* const INFO = R"(Record pairs, first and last header words, whether W4 varies, value count,
minimum, median and maximum of the numbers, and the count of MISSING_VALUE,
NaN, +inf and -inf values.)";

const char* const DUMP = R"(Every pair as text: its header words W1..W4, then its values, each in the
shortest form that reads back to the same float. With --csv, one row per pair:
W1,W2,W3,W4,value,value,...)";

const char* const FROM_CSV = R"(A series in CSV text becomes a record file of one point per pair: one pair per
step, W1 = step number and W2 = W3 = W4 = 1. The column is chosen by --column
NAME or INDEX (from 1), or as CSV:COLUMN; a file of one column of values needs
none. The first line is a header when one of its cells is neither a number nor
an ISO date. A column of ISO dates beside the values is read as their dates
(not written: record files have none); a table of a four-digit year and 12
monthly values per row is read month by month. Blank cells, cells that are not
numbers, NaN and the --missing-value marker are missing; in a file of one
column a blank line is a missing step. A series with a missing step is
refused, naming it, because lagscan would take the marker for a number;
--allow-missing writes them as MISSING_VALUE anyway. Infinite values and
numbers beyond single precision are refused. lagscan reads at most 2000
steps: --steps A:B selects them.)";

const char* const FROM_NETCDF = R"(Variable VAR, with time as its first dimension, becomes a field series: one
record pair per time step, W1 = step number, W2 = size of the last
dimension (columns), W3 = size of the one before it (rows), W4 = number of
grid points, row-major in the file's own order. _FillValue (or netCDF's
default fill when there is none), missing_value and NaN become
MISSING_VALUE; scale_factor and add_offset are applied. A point missing at
any step is marked missing at step 2, where the programs look for missing
points, and standard error says how many points that was. A classic file
shorter than its header says, or with a damaged header, is refused. A
netCDF-4 file is first read by a child process (its header and the first and
last steps): a crash there, or one that takes longer than FIELDNEFF_OPEN_TIMEOUT
seconds (default 30), refuses it.
At most 2000 steps and 10000 points.)";

const char* const TO_NETCDF = R"(Record pair K (default 1) becomes a NetCDF variable, float, named NAME
(default neff for an nstar result, else value). With --like, the grid
dimensions after time of VAR in NC, and their coordinate variables with
their attributes, are copied; otherwise the shape is W3 rows (y) × W2
columns (x) when W2 × W3 = W4, else one dimension (point). The template's
grid must be the record's W3 rows × W2 columns. MISSING_VALUE becomes the
_FillValue, netCDF's default float fill (9.96921e+36). The file is an
ordinary netCDF-4 file, which other tools can open for writing.)";

const char* const PNG = R"(Record pair K (default 1) as a colour map of its W3 rows × W2 columns (W2 ×
W3 must equal W4), with a labelled colour bar below; MISSING_VALUE and NaN
are grey. OUT's extension chooses the format: .png, .svg or .pdf; any other
name is refused before anything is read. Row 0 is drawn at the bottom, as
in most NetCDF grids (latitude increasing). Use --flip for a grid stored
north to south, or --like with the NetCDF variable the field came from:
its coordinates then label the edges (30°N, 120°W), put north up, bring
coastlines to a latitude/longitude grid (--no-coast: none), and its name,
units and long_name label the title and the bar. The title names the file
and the record; --title replaces it. The colours span the values' range, or
LO … HI with --range (values beyond take the end colours). --diverging
draws blue below 0, white at 0 and red above, symmetric about 0 with the
largest |value| rounded up to a tenth (0.67: ±0.7) unless --range is given.
--size WxH sets the picture's size, in pixels for PNG and points for SVG
and PDF.)";

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

struct Words {
    std::string file, out, csv, nc, var, column, name, range, size, title, steps;
    double missing_value = 0;
    std::vector<std::string> like;
    int32_t record = 1;
    bool csv_rows = false, allow_missing = false, flip = false, diverging = false, no_coast = false;
};

void add_record_option(CLI::App* c, Words& w)
{
    c->add_option("--record", w.record, "record pair K, from 1 (default 1)")->check(CLI::Range(1, 1000000));
}

CLI::Option* add_like_option(CLI::App* c, Words& w)
{
    return c->add_option("--like", w.like, "NC VAR: the NetCDF variable whose grid the record is on")->expected(2);
}

int run(int argc, char** argv)
{
    Words w;
    CLI::App app{DESCRIPTION, "fieldtool"};
    app.require_subcommand(1);

    CLI::App* info = app.add_subcommand("info", "what a record file holds: pairs, headers, value counts and range");
    info->footer(INFO);
    info->add_option("FILE", w.file, "record file")->required();

    CLI::App* dump = app.add_subcommand("dump", "every pair of a record file as text, or as CSV rows");
    dump->footer(DUMP);
    dump->add_option("FILE", w.file, "record file")->required();
    dump->add_flag("--csv", w.csv_rows, "one CSV row per pair");

    CLI::App* from_csv = app.add_subcommand("from-csv", "one CSV column -> a single series");
    from_csv->footer(FROM_CSV);
    from_csv->add_option("CSV", w.csv, "CSV file, or CSV:COLUMN")->required();
    from_csv->add_option("OUT", w.out, "series file to write")->required();
    from_csv->add_option("--column", w.column, "NAME or INDEX of the column");
    from_csv->add_flag("--allow-missing", w.allow_missing, "write missing steps as MISSING_VALUE");
    from_csv->add_option("--steps", w.steps, "steps A:B of the series, 1-based, inclusive");
    from_csv->add_option("--missing-value", w.missing_value, "a number that marks a missing value (-99.99, -999)");

    CLI::App* from_netcdf = app.add_subcommand("from-netcdf", "a time-first NetCDF variable -> a field series");
    from_netcdf->footer(FROM_NETCDF);
    from_netcdf->add_option("NC", w.nc, "NetCDF file")->required();
    from_netcdf->add_option("VAR", w.var, "variable, time first")->required();
    from_netcdf->add_option("OUT", w.out, "field series file to write")->required();

    CLI::App* to_netcdf = app.add_subcommand("to-netcdf", "one record pair -> a NetCDF variable");
    to_netcdf->footer(TO_NETCDF);
    to_netcdf->add_option("FILE", w.file, "record file")->required();
    to_netcdf->add_option("OUT", w.out, "NetCDF file to write")->required();
    add_like_option(to_netcdf, w);
    add_record_option(to_netcdf, w);
    to_netcdf->add_option("--name", w.name, "variable name (default neff or value)");

    CLI::App* png = app.add_subcommand("png", "one record pair -> a map picture (PNG, SVG or PDF)");
    png->footer(PNG);
    png->add_option("FILE", w.file, "record file")->required();
    png->add_option("OUT", w.out, "picture to write: OUT.png, OUT.svg or OUT.pdf")->required();
    add_record_option(png, w);
    CLI::Option* flip = png->add_flag("--flip", w.flip, "the file's row 0 is the northernmost");
    add_like_option(png, w)->excludes(flip);
    png->add_option("--range", w.range, "LO:HI, the colour range");
    png->add_flag("--diverging", w.diverging, "blue below 0, white at 0, red above");
    png->add_option("--size", w.size, "WxH of the picture: pixels for PNG, points for SVG and PDF");
    png->add_option("--title", w.title, "title in place of the file and record");
    png->add_flag("--no-coast", w.no_coast, "no coastlines");

    bool known = argc < 2 || argv[1][0] == '-';
    for (const CLI::App* c : app.get_subcommands({}))
        known = known || c->get_name() == argv[1];
    if (!known) {
        std::fprintf(stderr, "fieldtool: unknown subcommand \"%s\" (see fieldtool --help)\n", argv[1]);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        app.exit(e);
        return finish_stdout();
    } catch (const CLI::ParseError& e) {
        // A subcommand's --help asks for that subcommand's text.
        if (e.get_exit_code() == 0) {
            app.exit(e);
            return finish_stdout();
        }
        std::fprintf(stderr, "fieldtool: %s (see fieldtool --help)\n", e.what());
        return 2;
    }
    const std::string like_path = w.like.size() == 2 ? w.like[0] : "";
    const std::string like_var = w.like.size() == 2 ? w.like[1] : "";

    if (info->parsed()) {
        print_info(w.file, stdout);
    } else if (dump->parsed()) {
        print_dump(w.file, w.csv_rows, stdout);
    } else if (from_csv->parsed()) {
        CsvConversion c;
        c.column = w.column;
        c.allow_missing = w.allow_missing;
        c.select = !w.steps.empty();
        if (c.select) c.steps = parse_step_range("--steps", w.steps);
        c.read.has_missing_value = from_csv->count("--missing-value") > 0;
        c.read.missing_value = w.missing_value;
        if (c.read.has_missing_value && !std::isfinite(w.missing_value))
            fail("--missing-value", "must be a finite number");
        convert_csv(w.csv, w.out, c);
    } else if (from_netcdf->parsed()) {
        convert_netcdf(w.nc, w.var, w.out);
    } else if (to_netcdf->parsed()) {
        write_result_netcdf(w.file, w.out, {w.record, like_path, like_var, w.name});
    } else if (png->parsed()) {
        RecordPictureOptions opt;
        opt.record = w.record;
        opt.flip = w.flip;
        opt.like_path = like_path;
        opt.like_var = like_var;
        opt.diverging = w.diverging;
        if (!w.range.empty()) {
            const ValueRange r = parse_value_range("--range", w.range);
            opt.fixed_range = true;
            opt.lo = r.lo;
            opt.hi = r.hi;
        }
        if (!w.size.empty()) opt.size = parse_picture_size(w.size);
        opt.title_given = png->count("--title") > 0;
        opt.title = w.title;
        opt.coastlines = !w.no_coast;
        for (const std::string& note : write_record_picture(w.file, w.out, opt))
            std::fprintf(stderr, "fieldtool: %s\n", note.c_str());
    }
    return finish_stdout();
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file size limit a write then fails and is reported, instead of the
    // process ending on a signal without a word.
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const RunError& e) {
        std::fprintf(stderr, "fieldtool: %s: %s\n", e.file.c_str(), e.cause.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "fieldtool: memory: not enough memory for this input\n");
    }
    // Everything of the run is cleaned up by now. The exit handlers are skipped:
    // after a write it refused, libhdf5's own clean-up at exit crashes on the
    // file it could not close.
    std::fflush(stdout);
    std::_Exit(2);
}
