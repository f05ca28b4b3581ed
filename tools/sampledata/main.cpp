// sampledata: writes sample inputs for the chain and summarises its result.
//
//   sampledata generate --steps N --points P --series-phi A --field-phi B
//                       [--missing K] [--seed S] SERIES_FILE FIELD_FILE
//   sampledata summarize --steps N --series-phi A --field-phi B NEFF_FILE
//   sampledata netcdf [--lon X] [--lat Y] [--levels Z] --steps N --series-phi A
//                     --field-phi B [--region-r R] [--missing K] [--gaps K]
//                     [--seed S] FIELD.nc INDEX.csv
//   sampledata planted FIELD.nc MAP.nc
//   sampledata seasonal [--lon X] [--lat Y] [--start-year A] [--years N]
//                       [--index-start-year B] [--index-years M] [--region-r R]
//                       [--seed S] FIELD.nc TABLE.csv
//
// The series and every field point are independent AR(1) processes, x(t) =
// phi x(t-1) + e(t) with unit Gaussian noise, started from their stationary law.
// For two such processes large-sample theory gives an effective sample size of
// N (1 - A B) / (1 + A B).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "netcdf_sample.hpp"
#include "run_error.hpp"
#include "run_frame.hpp"
#include "seasonal_sample.hpp"
#include "series_file.hpp"

namespace {

struct Options {
    int steps = 500;
    int points = 2000;
    double series_phi = 0.5;
    double field_phi = 0.6;
    int missing = 0;
    unsigned seed = 1;
    int lon = 144, lat = 73, levels = 0, gaps = 0;
    double region_r = 0;
    bool region_r_given = false;
    int start_year = 1980, years = 11, index_start_year = 1982, index_years = 20;
    std::vector<std::string> files;
};

[[noreturn]] void usage(const char* why)
{
    std::fprintf(stderr, "sampledata: %s\n"
                         "usage: sampledata generate --steps N --points P --series-phi A --field-phi B\n"
                         "                           [--missing K] [--seed S] SERIES_FILE FIELD_FILE\n"
                         "       sampledata summarize --steps N --series-phi A --field-phi B NEFF_FILE\n"
                         "       sampledata netcdf [--lon X] [--lat Y] [--levels Z] --steps N --series-phi A\n"
                         "                         --field-phi B [--region-r R] [--missing K] [--gaps K]\n"
                         "                         [--seed S] FIELD.nc INDEX.csv\n"
                         "       sampledata planted FIELD.nc MAP.nc\n"
                         "       sampledata seasonal [--lon X] [--lat Y] [--start-year A] [--years N]\n"
                         "                           [--index-start-year B] [--index-years M] [--region-r R]\n"
                         "                           [--seed S] FIELD.nc TABLE.csv\n",
                 why);
    std::exit(2);
}

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        if (a == "--steps") o.steps = std::atoi(value());
        else if (a == "--points") o.points = std::atoi(value());
        else if (a == "--series-phi") o.series_phi = std::atof(value());
        else if (a == "--field-phi") o.field_phi = std::atof(value());
        else if (a == "--missing") o.missing = std::atoi(value());
        else if (a == "--lon") o.lon = std::atoi(value());
        else if (a == "--lat") o.lat = std::atoi(value());
        else if (a == "--levels") o.levels = std::atoi(value());
        else if (a == "--gaps") o.gaps = std::atoi(value());
        else if (a == "--region-r") {
            o.region_r = std::atof(value());
            o.region_r_given = true;
        }
        else if (a == "--start-year") o.start_year = std::atoi(value());
        else if (a == "--years") o.years = std::atoi(value());
        else if (a == "--index-start-year") o.index_start_year = std::atoi(value());
        else if (a == "--index-years") o.index_years = std::atoi(value());
        else if (a == "--seed") o.seed = unsigned(std::atol(value()));
        else if (a.rfind("--", 0) == 0) usage(("unknown option " + a).c_str());
        else o.files.push_back(a);
    }
    if (o.steps < 2 || o.steps > MAX_STEPS) usage("--steps must lie in 2 ... 2000");
    if (o.points < 1 || o.points > MAX_POINTS) usage("--points must lie in 1 ... 10000");
    if (o.lon < 1 || o.lat < 1 || o.levels < 0) usage("--lon and --lat must be at least 1, --levels at least 0");
    if (std::fabs(o.region_r) >= 1) usage("--region-r must lie strictly between -1 and 1");
    if (o.gaps < 0) usage("--gaps must be at least 0");
    if (std::fabs(o.series_phi) >= 1 || std::fabs(o.field_phi) >= 1) usage("each phi must lie strictly between -1 and 1");
    if (o.missing < 0) usage("--missing must be at least 0");
    if (o.years < 1 || o.index_years < 1 || o.start_year < 1 || o.start_year > 9000 || o.index_start_year < 1 ||
        o.index_start_year > 9000 || o.years > 1000 || o.index_years > 1000)
        usage("--years and --index-years must lie in 1 ... 1000, the start years in 1 ... 9000");
    return o;
}

// Writes `points` AR(1) series with coefficient phi, one record pair per step; the
// first `missing` points carry MISSING_VALUE at step 2, which marks them missing.
void write_ar1(const std::string& name, int steps, int points, double phi, int missing, std::mt19937_64& gen)
{
    SeriesFile& f = open_output(name);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> state(static_cast<size_t>(points));
    for (double& s : state) s = noise(gen) / std::sqrt(1.0 - phi * phi);
    std::vector<float> row(static_cast<size_t>(points));
    for (int t = 1; t <= steps; ++t) {
        for (int p = 0; p < points; ++p) {
            if (t > 1) state[size_t(p)] = phi * state[size_t(p)] + noise(gen);
            row[size_t(p)] = t == 2 && p < missing ? MISSING_VALUE : float(state[size_t(p)]);
        }
        write_record_header(f, RecordHeader{t, points, 1, points});
        write_record_values(f, points, row.data());
    }
}

int generate(const Options& o)
{
    if (o.files.size() != 2) usage("generate writes a series file and a field file");
    if (o.missing > o.points) usage("--missing must lie in 0 ... points");
    std::mt19937_64 gen(o.seed);
    write_ar1(o.files[0], o.steps, 1, o.series_phi, 0, gen);
    write_ar1(o.files[1], o.steps, o.points, o.field_phi, o.missing, gen);
    finish_run();
}

int netcdf(const Options& o)
{
    if (o.files.size() != 2) usage("netcdf writes a NetCDF field and a CSV index");
    const int64_t points = int64_t(o.lon) * o.lat * (o.levels > 0 ? o.levels : 1);
    if (o.missing + int64_t(o.gaps) > points) usage("--missing and --gaps together exceed the grid's points");
    NetcdfSample s;
    s.lon = o.lon;
    s.lat = o.lat;
    s.levels = o.levels;
    s.steps = o.steps;
    s.series_phi = o.series_phi;
    s.field_phi = o.field_phi;
    s.region_r = o.region_r;
    s.missing = o.missing;
    s.gaps = o.gaps;
    s.seed = o.seed;
    s.field_path = o.files[0];
    s.csv_path = o.files[1];
    write_netcdf_sample(s);
    return 0;
}

int seasonal(const Options& o)
{
    if (o.files.size() != 2) usage("seasonal writes a NetCDF field and a year-per-row CSV table");
    SeasonalSample s;
    s.lon = o.lon;
    s.lat = o.lat;
    s.start_year = o.start_year;
    s.years = o.years;
    s.index_start_year = o.index_start_year;
    s.index_years = o.index_years;
    if (o.region_r_given) s.region_r = o.region_r;
    s.seed = o.seed;
    s.field_path = o.files[0];
    s.table_path = o.files[1];
    try {
        write_seasonal_sample(s);
    } catch (const RunError& e) {
        fatal(e);
    }
    return 0;
}

int summarize(const Options& o)
{
    if (o.files.size() != 1) usage("summarize reads one effective-sample-size file");
    SeriesFile& f = open_input(o.files[0]);
    RecordHeader h;
    static float neff[MAX_POINTS];
    if (!read_series_pair(f, 0, h, neff)) fatal(f.name, "holds no record pair");
    std::vector<float> present;
    for (int p = 0; p < h.w4; ++p)
        if (neff[p] != MISSING_VALUE) present.push_back(neff[p]);
    std::sort(present.begin(), present.end());
    const double ab = o.series_phi * o.field_phi;
    std::printf("points:            %d (%d missing)\n", h.w4, h.w4 - int(present.size()));
    std::printf("steps:             %d (%d lags)\n", o.steps, o.steps - 1);
    if (!present.empty()) {
        const size_t m = present.size();
        const float median = m % 2 ? present[m / 2] : (present[m / 2 - 1] + present[m / 2]) / 2;
        std::printf("effective size:    min %.1f  median %.1f  max %.1f\n", double(present.front()), double(median),
                    double(present.back()));
    }
    std::printf("theory N(1-ab)/(1+ab) with a = %.2f, b = %.2f: %.1f\n", o.series_phi, o.field_phi,
                o.steps * (1 - ab) / (1 + ab));
    finish_run();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) usage("which command?");
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h") usage("writes sample inputs and summarises a result");
    const Options o = parse(argc, argv);
    if (cmd == "generate") return generate(o);
    if (cmd == "summarize") return summarize(o);
    if (cmd == "netcdf") return netcdf(o);
    if (cmd == "seasonal") return seasonal(o);
    if (cmd == "planted") {
        if (o.files.size() != 2) usage("planted reads the sample's field file and neffmap's map");
        report_planted(o.files[0], o.files[1]);
        return 0;
    }
    usage(("unknown command " + cmd).c_str());
}
