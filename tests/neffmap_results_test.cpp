// neffmap's map where the data are extreme or odd and where the run meets its
// limits: the units of field and series leave the map as it is, every point is
// tested or missing everywhere for one counted reason, values reach the chain
// as the file means them, and the edges of the step counts hold.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "map_file.hpp"
#include "neffmap_runs.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string neffmap = NEFFMAP_EXE;

RunResult run_tool(const TempDir& dir, const std::string& exe, const std::vector<std::string>& args)
{
    RunOptions options;
    options.timeout_seconds = 120;
    return run_program(exe, "", dir.path, args, options);
}


void annotate(const TempDir& dir, const std::string& from, const std::string& to, const std::string& attribute)
{
    std::filesystem::copy_file(dir.file(from), dir.file(to), std::filesystem::copy_options::overwrite_existing);
    const RunResult r = run_program(NCATTED_EXE, "", dir.path, {"-O", "-h", "-a", attribute, to});
    ASSERT_EQ(r.status, 0) << r.err;
}

const char* const FLOAT_VARIABLES[] = {"r", "neff", "neff_lag1", "dof", "p"};

// No variable of the map holds NaN: a point without a value holds the fill.
void expect_no_nan(const MapFile& m, const std::string& which)
{
    for (const char* v : FLOAT_VARIABLES)
        for (double x : m.values(v)) ASSERT_FALSE(std::isnan(x)) << which << ": " << v;
}

} // namespace

// The same field in other units, and the series too: a power of two gives the
// map to the bit, and 1e19, 1e-20 or a series near 1e25 (where the chain's
// single-precision sums overflow, or sink into subnormal numbers) the same map
// within the roundings of the scaled values.
TEST(NeffmapMagnitudes, OtherUnitsOfFieldOrSeriesGiveTheSameMap)
{
    TempDir dir;
    generate(dir, {"--lon", "30", "--lat", "20", "--steps", "240", "--series-phi", "0.6", "--field-phi", "0.6",
                   "--region-r", "0.4", "--missing", "5", "--gaps", "5", "--seed", "23", "f.nc", "idx.csv"});
    for (const char* method : {"min", "chain"}) {
        const RunResult r = run_tool(dir, neffmap, {"f.nc", "field", "f.nc:index", std::string("base-") + method + ".nc",
                                                    "--neff", method, "--quiet"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const struct Case {
        const char* variable; // the one given a scale_factor
        const char* scale;
        const char* method;
        bool exact;
    } cases[] = {
        {"field", "9.223372036854775808e18", "min", true}, // 2^63
        {"field", "8.470329472543003e-22", "chain", true}, // 2^-70
        {"field", "1e19", "min", false},
        {"field", "1e-20", "min", false},
        {"field", "1e-20", "chain", false},
        {"index", "1e25", "chain", false},
        {"index", "1e-25", "min", false},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(c.variable) + " x " + c.scale + ", --neff " + c.method;
        annotate(dir, "f.nc", "scaled.nc", std::string("scale_factor,") + c.variable + ",o,d," + c.scale);
        const RunResult r = run_tool(dir, neffmap, {"scaled.nc", "field", "scaled.nc:index", "scaled-map.nc", "--neff",
                                                    c.method, "--quiet"});
        ASSERT_EQ(r.status, 0) << what << ": " << r.err;
        const MapFile base(dir.file(std::string("base-") + c.method + ".nc")), m(dir.file("scaled-map.nc"));
        expect_no_nan(m, what);
        for (const char* count : {"points_tested", "points_significant_local", "points_significant_fdr"})
            EXPECT_EQ(m.number(count), base.number(count)) << what << ": " << count;
        EXPECT_GT(m.number("points_significant_fdr"), 0) << what << ": the planted region is found";
        for (const char* mask : {"sig_local", "sig_fdr"}) EXPECT_TRUE(m.bytes(mask) == base.bytes(mask)) << what;
        if (c.exact) {
            for (const char* v : FLOAT_VARIABLES) EXPECT_TRUE(m.bytes(v) == base.bytes(v)) << what << ": " << v;
            continue;
        }
        for (const char* v : FLOAT_VARIABLES) {
            const std::vector<double> want = base.values(v), got = m.values(v);
            const double fill = base.fill(v);
            for (size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[i] == fill, want[i] == fill) << what << ": " << v << " at " << i;
                // p is compared on its logarithm: small p-values move by their own size.
                const double a = std::string(v) == "p" ? std::log(want[i]) : want[i];
                const double b = std::string(v) == "p" ? std::log(got[i]) : got[i];
                ASSERT_NEAR(b, a, 1e-5 * std::max(1.0, std::fabs(a))) << what << ": " << v << " at " << i;
            }
        }
    }
}

namespace {

// Eight steps at ten stations, each with its own fate: an affine copy of the
// index, a zigzag (lag-1 autocorrelation below 0, so neff_lag1 > N), a series
// whose lag-1 autocorrelation is exactly 0 (neff_lag1 = N), a constant, an
// infinite value, a gap, missing throughout, and one pattern at 1e30, 1 and
// 1e-30.
const char* const FATES_CDL = R"(netcdf fates {
dimensions:
  time = 8 ; station = 10 ;
variables:
  double time(time) ; time:units = "days since 1990-01-01" ;
  float v(time, station) ; v:_FillValue = -999.f ;
  float idx(time) ;
data:
  time = 0, 1, 2, 3, 4, 5, 6, 7 ;
  v = 2.5,  2,  1, 7,         1,    1, -999, 1e30, 1, 1e-30,
      4,   -1,  0, 7,         2,    2, -999, 2e30, 2, 2e-30,
      7,    3, -1, 7,         3, -999, -999, 4e30, 4, 4e-30,
      8.5, -2,  0, 7, Infinityf,    4, -999, 5e30, 5, 5e-30,
      7,    1,  1, 7,         5,    5, -999, 4e30, 4, 4e-30,
      4,   -3,  0, 7,         6,    6, -999, 2e30, 2, 2e-30,
      2.5,  2, -1, 7,         7,    7, -999, 1e30, 1, 1e-30,
      1,   -1,  0, 7,         8,    8, -999, 3e30, 3, 3e-30 ;
  idx = 0.5, 1, 2, 2.5, 2, 1, 0.5, 0 ;
}
)";

enum Fate { TESTED, CONSTANT, NOT_FINITE, GAP, ABSENT };
const Fate FATES[10] = {TESTED, TESTED, TESTED, CONSTANT, NOT_FINITE, GAP, ABSENT, TESTED, TESTED, TESTED};
constexpr size_t ZIGZAG = 1, ZERO_LAG1 = 2, HUGE_ONE = 7, ORDINARY = 8, TINY_ONE = 9;

} // namespace

// Every point is tested or missing in every variable, for one reason the map
// and the summary count: the counts add up to the grid. No variable holds NaN.
// The test takes each method's size, never more than N.
TEST(NeffmapPoints, EachPointIsTestedOrMissingEverywhereForOneCountedReason)
{
    TempDir dir;
    make_netcdf(dir, "st", FATES_CDL);
    for (const char* method : {"min", "chain", "lag1"}) {
        const std::string out = std::string(method) + ".nc";
        const RunResult r = run_tool(dir, neffmap, {"st.nc", "v", "st.nc:idx", out, "--neff", method});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("points:    6 tested, 1 missing throughout, 1 dropped for gaps, 1 constant, 1 with a "
                             "value or result that is not a finite number, 0 with dof <= 0\n"),
                  std::string::npos)
            << r.out;
        const MapFile m(dir.file(out));
        expect_no_nan(m, method);
        for (const auto& [count, want] : {std::pair{"points_tested", 6}, {"points_missing_throughout", 1},
                                          {"points_dropped_for_gaps", 1}, {"points_constant", 1},
                                          {"points_not_finite", 1}, {"points_dof_not_positive", 0}})
            EXPECT_EQ(m.number(count), want) << method << ": " << count;

        const auto rv = m.values("r"), neff = m.values("neff"), lag1 = m.values("neff_lag1"), dof = m.values("dof"),
                   p = m.values("p");
        const auto local = m.bytes("sig_local"), fdr = m.bytes("sig_fdr");
        for (size_t i = 0; i < 10; ++i) {
            const bool tested = FATES[i] == TESTED;
            for (const char* v : FLOAT_VARIABLES)
                EXPECT_EQ(m.values(v)[i] == m.fill(v), !tested) << method << ": " << v << " at station " << i;
            EXPECT_EQ(local[i] == -1, !tested) << method << " station " << i;
            EXPECT_EQ(fdr[i] == -1, !tested) << method << " station " << i;
            if (!tested) continue;
            EXPECT_GE(p[i], 0.0);
            EXPECT_LE(p[i], 1.0);
            const double chosen = std::string(method) == "chain"  ? neff[i]
                                  : std::string(method) == "lag1" ? lag1[i]
                                                                  : std::min(neff[i], lag1[i]);
            EXPECT_NEAR(dof[i], std::min(chosen, 8.0) - 2, 1e-5) << method << " station " << i;
        }
        // The index's affine copy correlates perfectly.
        EXPECT_EQ(rv[0], 1.0);
        EXPECT_EQ(p[0], 0.0);
        // Eight steps leave the critical-lag search no lag to find: neff = L = 7.
        for (size_t i : {size_t(0), ZIGZAG, ORDINARY}) EXPECT_EQ(neff[i], 7.0) << i;
        // One pattern at 1e30, 1 and 1e-30 gives one result.
        for (size_t i : {HUGE_ONE, TINY_ONE}) {
            EXPECT_NEAR(rv[i], rv[ORDINARY], 1e-6) << i;
            EXPECT_EQ(neff[i], neff[ORDINARY]) << i;
            EXPECT_NEAR(lag1[i], lag1[ORDINARY], 1e-5 * lag1[ORDINARY]) << i;
        }
        // A lag-1 autocorrelation of exactly 0 gives neff_lag1 = N, which is not
        // above N; the zigzag's is, and only it counts as capped with lag1.
        EXPECT_EQ(lag1[ZERO_LAG1], 8.0);
        EXPECT_GT(lag1[ZIGZAG], 8.0);
        EXPECT_EQ(m.number("points_dof_capped"), std::string(method) == "lag1" ? 1 : 0) << method;
    }
}

namespace {

std::string steps_cdl(int steps)
{
    std::string cdl = "netcdf steps { dimensions: time = " + std::to_string(steps) +
                      " ; x = 2 ; variables: float v(time, x) ; data: v = ";
    for (int t = 0; t < steps; ++t) cdl += std::to_string(t % 7) + ", " + std::to_string(t % 5) + (t + 1 < steps ? ", " : " ; }\n");
    return cdl;
}

} // namespace

// The edges of the step counts: neffmap takes 3 steps (where the chain's neff
// is L = 2, so only lag1 leaves a point a positive dof) and refuses 2, and warns
// of the chain below 50 steps; fieldtool from-netcdf takes 2000 steps and
// refuses 2001.
TEST(StepLimits, EachEdgeHolds)
{
    TempDir dir;
    make_netcdf(dir, "st", FATES_CDL);
    make_netcdf(dir, "s2000", steps_cdl(2000));
    make_netcdf(dir, "s2001", steps_cdl(2001));
    generate(dir, {"--lon", "10", "--lat", "5", "--steps", "50", "f.nc", "idx.csv"});
    const std::string fieldtool = FIELDTOOL_EXE;
    // Both files have dates: the steps are chosen by position.
    const std::vector<std::string> three = {"st.nc", "v", "st.nc:idx", "m.nc", "--pair-by-position",
                                            "--field-steps", "1:3", "--series-steps", "1:3"};
    const auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    const struct Case {
        std::string exe;
        std::vector<std::string> args;
        int status;
        std::string says, never; // on standard output, or on standard error for status 2
    } cases[] = {
        {neffmap, with(three, {"--neff", "lag1"}), 0,
         "points:    7 tested, 1 missing throughout, 1 dropped for gaps, 1 constant, 0 with a value or result that is "
         "not a finite number, 0 with dof <= 0\n", ""},
        {neffmap, three, 0,
         "points:    0 tested, 1 missing throughout, 1 dropped for gaps, 1 constant, 0 with a value or result that is "
         "not a finite number, 7 with dof <= 0\n", ""},
        {neffmap, {"st.nc", "v", "st.nc:idx", "m.nc", "--pair-by-position", "--field-steps", "1:2", "--series-steps", "1:2"}, 2,
         "neffmap: st.nc: 2 selected steps leave 2 paired steps; at least 3 are needed\n", ""},
        {neffmap, {"f.nc", "field", "f.nc:index", "m.nc", "--neff", "chain", "--pair-by-position", "--field-steps", "1:49",
                   "--series-steps", "1:49"}, 0, "warning:   with N = 49 steps", ""},
        {neffmap, {"f.nc", "field", "f.nc:index", "m.nc", "--neff", "chain"}, 0, "tested:", "warning:"},
        {fieldtool, {"from-netcdf", "s2000.nc", "v", "s2000.dat"}, 0, "", "fieldtool"},
        {fieldtool, {"from-netcdf", "s2001.nc", "v", "s2001.dat"}, 2, "has 2001 time steps; at most 2000 fit", ""},
    };
    for (const Case& c : cases) {
        std::string what = c.exe.substr(c.exe.rfind('/') + 1);
        for (const std::string& a : c.args) what += " " + a;
        const RunResult r = run_tool(dir, c.exe, c.args);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        const std::string& text = c.status == 0 ? r.out : r.err;
        EXPECT_NE(text.find(c.says), std::string::npos) << what << "\n" << text;
        if (!c.never.empty()) {
            EXPECT_EQ((r.out + r.err).find(c.never), std::string::npos) << what << "\n" << r.out << r.err;
        }
    }
    EXPECT_EQ(parse_series(read_file(dir.file("s2000.dat"))).pairs.size(), 2000u);
}

namespace {

// A NetCDF variable's data as CDL text, each value as the float it is.
std::string cdl_values(const std::vector<std::vector<float>>& v)
{
    std::string s;
    for (size_t t = 0; t < v.size(); ++t)
        for (size_t p = 0; p < v[t].size(); ++p) {
            char text[32];
            std::snprintf(text, sizeof text, "%.9g", double(v[t][p]));
            s += std::string(s.empty() ? "" : ", ") + text;
        }
    return s;
}

// The tiles' field file of a one-tile run with --work, as [step][point].
std::vector<std::vector<float>> tile_as_chained(const TempDir& dir)
{
    const ParsedSeries f = parse_series(read_file(dir.file("work/tile-00001/field.dat")));
    EXPECT_TRUE(f.ok);
    std::vector<std::vector<float>> v;
    for (const ParsedPair& pair : f.pairs) v.push_back(pair.values);
    return v;
}

} // namespace

// Values reach the chain as the file means them: a float packed with
// scale_factor and add_offset unpacked (each point then scaled by its power of
// two), and netCDF's default fill missing where the variable names no
// _FillValue of its own, so that its point is dropped for a gap.
TEST(NeffmapInputs, ValuesReachTheChainAsTheFileMeansThem)
{
    const size_t steps = 8, points = 3;
    const float scale = 0.01f, offset = 273.15f;
    std::vector<std::vector<float>> stored(steps, std::vector<float>(points)), index(steps, std::vector<float>(1));
    for (size_t t = 0; t < steps; ++t) {
        for (size_t p = 0; p < points; ++p) stored[t][p] = float(int((t * 37 + p * 11) % 23) - 11);
        index[t][0] = float(int((t * 5) % 7)) - 3;
    }
    std::vector<std::vector<float>> unfilled = stored;
    unfilled[5][1] = NC_FILL_FLOAT;
    TempDir dir;
    make_netcdf(dir, "in",
                "netcdf in { dimensions: time = 8 ; x = 3 ;\nvariables: double time(time) ; time:units = \"days since "
                "2000-01-01\" ;\n  float packed(time, x) ; packed:scale_factor = 0.01f ; packed:add_offset = 273.15f ;\n"
                "  float unfilled(time, x) ;\n  float idx(time) ;\ndata: time = 0, 1, 2, 3, 4, 5, 6, 7 ;\n  packed = " +
                    cdl_values(stored) + " ;\n  unfilled = " + cdl_values(unfilled) + " ;\n  idx = " +
                    cdl_values(index) + " ;\n}\n");
    // What the chain must see, worked out here: [step][point].
    const auto chained = [&](const std::vector<std::vector<float>>& v, bool packed) {
        std::vector<std::vector<float>> want(steps, std::vector<float>(points));
        for (size_t p = 0; p < points; ++p) {
            std::vector<float> column;
            bool gap = false;
            for (size_t t = 0; t < steps; ++t) {
                gap |= v[t][p] == NC_FILL_FLOAT;
                column.push_back(packed ? float(double(v[t][p]) * double(scale) + double(offset)) : v[t][p]);
            }
            if (!gap) column = scaled(column);
            for (size_t t = 0; t < steps; ++t)
                want[t][p] = (gap && t == 1) || v[t][p] == NC_FILL_FLOAT ? MISSING_VALUE : column[t];
        }
        return want;
    };
    const struct Case {
        const char* var;
        std::vector<std::vector<float>> want;
        const char* counts;
    } cases[] = {
        {"packed", chained(stored, true), "points:    3 tested, 0 missing throughout, 0 dropped for gaps"},
        {"unfilled", chained(unfilled, false), "points:    2 tested, 0 missing throughout, 1 dropped for gaps"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir.file("work"));
        const RunResult r = run_tool(dir, neffmap, {"in.nc", c.var, "in.nc:idx", "m.nc", "--work", "work"});
        ASSERT_EQ(r.status, 0) << c.var << ": " << r.err;
        EXPECT_NE(r.out.find(c.counts), std::string::npos) << c.var << "\n" << r.out;
        const auto got = tile_as_chained(dir);
        ASSERT_EQ(got.size(), steps) << c.var;
        for (size_t t = 0; t < steps; ++t)
            for (size_t p = 0; p < points; ++p)
                EXPECT_EQ(bits(got[t][p]), bits(c.want[t][p])) << c.var << " step " << t + 1 << " point " << p;
    }
}

// Pearson's r never passes 1: affine copies of the index, whose r lands within
// a rounding of 1, all have |r| = 1 and p = 0 or next to it, and are tested.
TEST(NeffmapCorrelation, AffineCopiesOfTheIndexAreTestedWithRAtOne)
{
    const size_t steps = 100, points = 400;
    std::vector<std::vector<float>> field(steps, std::vector<float>(points)), index(steps, std::vector<float>(1));
    uint32_t seed = 12345;
    for (size_t t = 0; t < steps; ++t) {
        seed = seed * 1664525u + 1013904223u;
        index[t][0] = float(seed >> 8) / float(1 << 24) - 0.5f;
    }
    for (size_t p = 0; p < points; ++p) {
        const float a = (p % 2 ? -1.0f : 1.0f) * (3.0f + 0.37f * float(p)), b = 0.1f * float(p % 13);
        for (size_t t = 0; t < steps; ++t) field[t][p] = a * index[t][0] + b;
    }
    TempDir dir;
    make_netcdf(dir, "copies",
                "netcdf copies { dimensions: time = 100 ; x = 400 ;\nvariables: float v(time, x) ; float idx(time) ;\n"
                "data:\n  v = " + cdl_values(field) + " ;\n  idx = " + cdl_values(index) + " ;\n}\n");
    const RunResult r = run_tool(dir, neffmap, {"copies.nc", "v", "copies.nc:idx", "m.nc", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    const MapFile m(dir.file("m.nc"));
    EXPECT_EQ(m.number("points_tested"), double(points));
    const auto rv = m.values("r"), p = m.values("p");
    for (size_t k = 0; k < points; ++k) {
        EXPECT_EQ(rv[k], k % 2 ? -1.0 : 1.0) << k;
        EXPECT_LT(p[k], 1e-30) << k;
    }
}

// A grid coordinate named like a variable of the map (p for pressure, sig_fdr)
// is renamed NAME_coord in it, with its values and attributes; the map's
// variables keep their names. fieldtool to-netcdf --like does the same for
// the name it gives its variable.
TEST(NeffmapGrids, CoordinatesNamedLikeMapVariablesAreRenamed)
{
    TempDir dir;
    make_netcdf(dir, "pr",
                "netcdf pr { dimensions: time = 6 ; p = 2 ; sig_fdr = 3 ;\nvariables:\n"
                "  double time(time) ; time:units = \"days since 2000-01-01\" ;\n"
                "  float p(p) ; p:units = \"hPa\" ; p:standard_name = \"air_pressure\" ;\n  float sig_fdr(sig_fdr) ;\n"
                "  float t(time, p, sig_fdr) ;\n  float idx(time) ;\n"
                "data: time = 0, 1, 2, 3, 4, 5 ; p = 850, 500 ; sig_fdr = 1, 2, 3 ;\n"
                "  t = 1,2,3,4,5,6, 2,1,4,3,6,5, 3,3,1,2,9,1, 4,1,2,5,3,3, 9,8,7,6,5,4, 1,7,2,8,3,9 ;\n"
                "  idx = 1, 3, 2, 5, 4, 6 ;\n}\n");
    RunResult r = run_tool(dir, neffmap, {"pr.nc", "t", "pr.nc:idx", "map.nc"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("renamed:   the grid's \"p\" is \"p_coord\" in map.nc"), std::string::npos) << r.out;
    r = run_program(FIELDTOOL_EXE, "", dir.path, {"from-netcdf", "pr.nc", "t", "t.dat"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = run_program(FIELDTOOL_EXE, "", dir.path, {"to-netcdf", "t.dat", "one.nc", "--like", "pr.nc", "t", "--name", "p"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> renamed = {"p_coord", "sig_fdr_coord"};
    const MapFile map(dir.file("map.nc")), one(dir.file("one.nc"));
    EXPECT_EQ(map.dims("p"), renamed);
    EXPECT_EQ(map.values("sig_fdr_coord"), (std::vector<double>{1, 2, 3}));
    EXPECT_EQ(one.dims("p"), (std::vector<std::string>{"p_coord", "sig_fdr"}));
    for (const MapFile* m : {&map, &one}) {
        EXPECT_EQ(m->values("p_coord"), (std::vector<double>{850, 500}));
        char units[8] = "";
        EXPECT_EQ(nc_get_att_text(m->nc, m->var("p_coord"), "units", units), NC_NOERR);
        EXPECT_EQ(std::string(units, 3), "hPa");
    }
    // In the map, p is the p-values (the points are tested), in the other the
    // field's first step.
    for (double v : map.values("p")) EXPECT_TRUE(v >= 0 && v <= 1) << v;
    EXPECT_EQ(one.values("p"), (std::vector<double>{1, 2, 3, 4, 5, 6}));
    for (const char* v : {"r", "neff", "sig_fdr"}) EXPECT_EQ(map.dims(v), renamed) << v;
}
