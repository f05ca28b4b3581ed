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

void generate(const TempDir& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), "netcdf");
    const RunResult r = run_program(SAMPLEDATA_EXE, "", dir.path, args);
    ASSERT_EQ(r.status, 0) << r.err;
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
        EXPECT_EQ(m.number("points_tested"), 6);
        EXPECT_EQ(m.number("points_missing_throughout"), 1);
        EXPECT_EQ(m.number("points_dropped_for_gaps"), 1);
        EXPECT_EQ(m.number("points_constant"), 1);
        EXPECT_EQ(m.number("points_not_finite"), 1);
        EXPECT_EQ(m.number("points_dof_not_positive"), 0);

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
