// neffmap's significance outputs, run as a user runs it: the variables and
// attributes of the map, r and neff_lag1 on cases worked by hand, the
// false-positive rate of the default test on null fields, and the phase test
// against a plain double loop over the same surrogates.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <numeric>

#include "neffmap_runs.hpp"
#include "phasetest.hpp"
#include "series_file.hpp"
#include "significance.hpp"
#include "test_support.hpp"

namespace {

const std::string neffmap = NEFFMAP_EXE;



// An open output map, read variable by variable.
struct Map {
    int nc = -1;
    explicit Map(const std::string& path) { EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path; }
    ~Map() { nc_close(nc); }
    int var(const char* name) const
    {
        int v = -1;
        EXPECT_EQ(nc_inq_varid(nc, name, &v), NC_NOERR) << name;
        return v;
    }
    std::vector<double> values(const char* name, size_t n) const
    {
        std::vector<double> v(n);
        EXPECT_EQ(nc_get_var_double(nc, var(name), v.data()), NC_NOERR) << name;
        return v;
    }
    std::vector<signed char> mask(const char* name, size_t n) const
    {
        std::vector<signed char> v(n);
        EXPECT_EQ(nc_get_var_schar(nc, var(name), v.data()), NC_NOERR) << name;
        return v;
    }
    double fill(const char* name) const
    {
        double f = 0;
        nc_get_att_double(nc, var(name), "_FillValue", &f);
        return f;
    }
    double number(const char* att, int v = NC_GLOBAL) const
    {
        double x = -12345;
        EXPECT_EQ(nc_get_att_double(nc, v, att, &x), NC_NOERR) << att;
        return x;
    }
    std::string text(const char* att, int v = NC_GLOBAL) const
    {
        size_t len = 0;
        if (nc_inq_attlen(nc, v, att, &len) != NC_NOERR) return "(absent)";
        std::string s(len, '\0');
        nc_get_att_text(nc, v, att, s.data());
        return s;
    }
};

TEST(NeffmapSignificance, MapHoldsTheTestItsMasksAndTheirAttributes)
{
    TempDir dir;
    generate(dir, {"--lon", "144", "--lat", "73", "--steps", "240", "--series-phi", "0.6", "--field-phi", "0.6",
                   "--region-r", "0.5", "--missing", "3000", "--gaps", "20", "--seed", "11", "f.nc", "idx.csv"});
    const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--png", "map.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t n = 73 * 144;
    const Map m(dir.file("map.nc"));
    for (const char* v : {"r", "neff", "neff_lag1", "dof", "p", "sig_local", "sig_fdr"}) {
        int dims[4], rank = 0;
        nc_inq_varndims(m.nc, m.var(v), &rank);
        nc_inq_vardimid(m.nc, m.var(v), dims);
        char a[NC_MAX_NAME + 1], b[NC_MAX_NAME + 1];
        ASSERT_EQ(rank, 2) << v;
        nc_inq_dimname(m.nc, dims[0], a);
        nc_inq_dimname(m.nc, dims[1], b);
        EXPECT_EQ(std::string(a) + "," + b, "lat,lon") << v;
        EXPECT_NE(m.text("long_name", m.var(v)), "(absent)") << v;
        EXPECT_EQ(m.text("units", m.var(v)), "1") << v;
    }
    for (const char* v : {"sig_local", "sig_fdr"}) {
        signed char flags[2] = {9, 9};
        EXPECT_EQ(nc_get_att_schar(m.nc, m.var(v), "flag_values", flags), NC_NOERR);
        EXPECT_EQ(flags[0], 0);
        EXPECT_EQ(flags[1], 1);
        EXPECT_EQ(m.text("flag_meanings", m.var(v)), "not_significant significant");
    }
    EXPECT_EQ(m.number("alpha"), 0.05);
    EXPECT_EQ(m.number("q"), 0.10);
    EXPECT_EQ(m.text("neff_method"), "min");

    const auto rv = m.values("r", n), p = m.values("p", n), neff = m.values("neff", n),
               lag1 = m.values("neff_lag1", n), dof = m.values("dof", n);
    const auto local = m.mask("sig_local", n), fdr = m.mask("sig_fdr", n);
    const auto planted = [&] {
        std::vector<signed char> v(n);
        int nc, var;
        nc_open(dir.file("f.nc").c_str(), NC_NOWRITE, &nc);
        nc_inq_varid(nc, "planted", &var);
        nc_get_var_schar(nc, var, v.data());
        nc_close(nc);
        return v;
    }();
    const double p_fdr = m.number("p_FDR"), pfill = m.fill("p"), ffill = m.fill("r");
    int64_t tested = 0, n_local = 0, n_fdr = 0, missing = 0, inside = 0, found = 0;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == pfill) {
            ++missing;
            EXPECT_EQ(rv[i], ffill) << i;
            EXPECT_EQ(local[i], -1) << i;
            EXPECT_EQ(fdr[i], -1) << i;
            continue;
        }
        ++tested;
        ASSERT_GE(p[i], 0.0);
        ASSERT_LE(p[i], 1.0);
        EXPECT_EQ(local[i], p[i] < 0.05) << i;
        EXPECT_EQ(fdr[i], p[i] <= p_fdr) << i;
        // The test credits the smaller of the two sizes, never more than N.
        EXPECT_NEAR(dof[i], std::min(std::min(neff[i], lag1[i]), 240.0) - 2, 1e-3) << i;
        n_local += local[i] == 1;
        n_fdr += fdr[i] == 1;
        inside += planted[i] != 0;
        found += planted[i] != 0 && fdr[i] == 1;
    }
    EXPECT_EQ(missing, 3020);
    EXPECT_EQ(m.number("points_tested"), double(tested));
    // Benjamini-Hochberg worked out here over the map's own p-values, by the
    // adjusted p of each rank: min over j >= i of p_(j) m / j, at most q = 0.10
    // where significant. The largest p so passed is the threshold.
    std::vector<double> sorted;
    for (size_t i = 0; i < n; ++i)
        if (p[i] != pfill) sorted.push_back(p[i]);
    std::sort(sorted.begin(), sorted.end());
    const double count = double(sorted.size());
    double adjusted = 1, threshold = -1;
    for (size_t j = sorted.size(); j >= 1; --j) {
        adjusted = std::min(adjusted, sorted[j - 1] * count / double(j));
        if (adjusted <= 0.10) threshold = std::max(threshold, sorted[j - 1]);
    }
    ASSERT_GT(threshold, 0) << "the planted region passes";
    EXPECT_EQ(p_fdr, threshold);
    for (size_t i = 0; i < n; ++i)
        if (p[i] != pfill) {
            EXPECT_EQ(fdr[i], p[i] <= threshold) << i;
        }
    EXPECT_EQ(m.number("points_significant_local"), double(n_local));
    EXPECT_EQ(m.number("points_significant_fdr"), double(n_fdr));
    // A region correlated at r = 0.5 over 240 steps is found after FDR.
    EXPECT_GE(double(found), 0.9 * double(inside));
    EXPECT_NE(r.out.find("FDR:       " + std::to_string(n_fdr) + " points significant"), std::string::npos) << r.out;
    EXPECT_EQ(read_file(dir.file("map.png")).substr(1, 3), "PNG");
}

// Eight steps at four stations: an affine copy of the index, its negation, a
// constant and an unrelated one.
const char* const STATIONS_CDL = R"(netcdf stations {
dimensions:
  time = 8 ; station = 4 ;
variables:
  double time(time) ; time:units = "days since 1990-01-01" ;
  float v(time, station) ;
  float idx(time) ;
data:
  time = 0, 1, 2, 3, 4, 5, 6, 7 ;
  v = 2, -0.5, 7, 1,
      -2, 1.5, 7, 3,
      5, -2, 7, 2,
      3, -1, 7, 5,
      0, 0.5, 7, 4,
      7, -3, 7, 1,
      1, 0, 7, 2,
      -1, 1, 7, 6 ;
  idx = 0.5, -1.5, 2, 1, -0.5, 3, 0, -1 ;
}
)";

float lag1_by_lagscan(const TempDir& dir, const std::string& name, const std::vector<std::vector<float>>& steps,
                      size_t point)
{
    std::string bytes;
    for (size_t t = 0; t < steps.size(); ++t) bytes += pair_bytes(int32_t(t + 1), 1, 1, steps[t]);
    write_file(dir.file(name + ".dat"), bytes);
    const RunResult r = run_program(LAGSCAN_EXE, name + ".dat\n" + name + ".aut\n", dir.path);
    EXPECT_EQ(r.status, 0) << r.err;
    const ParsedSeries p = parse_series(read_file(dir.file(name + ".aut")));
    EXPECT_TRUE(p.ok && !p.pairs.empty());
    return p.pairs.empty() ? NAN : p.pairs[0].values[point];
}

TEST(NeffmapSignificance, CorrelationAndLagOneSizeOnCasesWorkedByHand)
{
    TempDir dir;
    make_netcdf(dir, "st", STATIONS_CDL);
    for (const char* method : {"min", "chain", "lag1"}) {
        const std::string out = std::string(method) + ".nc";
        const RunResult r = run_neffmap(dir, {"st.nc", "v", "st.nc:idx", out, "--neff", method});
        ASSERT_EQ(r.status, 0) << r.err;
        // With 8 steps the critical-lag search cannot find a lag: the warning.
        EXPECT_EQ(r.out.find("warning:") != std::string::npos, std::string(method) == "chain") << r.out;
    }
    const Map m(dir.file("min.nc"));
    const auto rv = m.values("r", 4), p = m.values("p", 4), lag1 = m.values("neff_lag1", 4);
    EXPECT_EQ(rv[0], 1.0);
    EXPECT_EQ(rv[1], -1.0);
    EXPECT_EQ(rv[2], m.fill("r")); // constant: r undefined, not tested
    EXPECT_EQ(p[0], 0.0);
    EXPECT_EQ(p[1], 0.0);
    EXPECT_EQ(p[2], m.fill("p"));
    EXPECT_EQ(m.mask("sig_local", 4)[2], -1);
    EXPECT_EQ(m.number("points_tested"), 3.0);

    // neff_lag1 = N (1 - a1 b1) / (1 + a1 b1) with a1 and b1 as lagscan writes them.
    const float a1 = lag1_by_lagscan(dir, "series", {{0.5f}, {-1.5f}, {2}, {1}, {-0.5f}, {3}, {0}, {-1}}, 0);
    const float b1 = lag1_by_lagscan(dir, "fourth", {{1}, {3}, {2}, {5}, {4}, {1}, {2}, {6}}, 0);
    const double ab = double(a1) * double(b1);
    EXPECT_FLOAT_EQ(float(lag1[3]), float(8 * (1 - ab) / (1 + ab)));
    const double neff3 = m.values("neff", 4)[3];
    const Map chain(dir.file("chain.nc")), only_lag1(dir.file("lag1.nc"));
    EXPECT_FLOAT_EQ(float(chain.values("dof", 4)[3]), float(std::min(neff3, 8.0) - 2));
    EXPECT_FLOAT_EQ(float(only_lag1.values("dof", 4)[3]), float(std::min(lag1[3], 8.0) - 2));
    EXPECT_EQ(chain.text("neff_method"), "chain");
    EXPECT_EQ(only_lag1.text("neff_method", only_lag1.var("dof")), "lag1");
}

// Null fields: AR(1) points (0.6) independent of an AR(1) index (0.6), 10000
// points, several fields per length. Prints the three methods' rates.
TEST(NeffmapSignificance, DefaultKeepsFalsePositivesNearAlphaFromTwentySteps)
{
    int all_maps = 0, all_maps_with_fdr = 0;
    for (const auto& [steps, maps] : {std::pair{20, 10}, std::pair{40, 8}, std::pair{240, 5}}) {
        int64_t tested = 0, flagged_min = 0, flagged_chain = 0, flagged_lag1 = 0, flagged_n = 0;
        int maps_with_fdr = 0;
        for (int k = 0; k < maps; ++k) {
            TempDir dir;
            generate(dir, {"--lon", "100", "--lat", "100", "--steps", std::to_string(steps), "--series-phi", "0.6",
                           "--field-phi", "0.6", "--seed", std::to_string(100 * steps + k), "f.nc", "idx.csv"});
            const RunResult r = run_neffmap(dir, {"f.nc", "field", "f.nc:index", "map.nc", "--quiet"});
            ASSERT_EQ(r.status, 0) << r.err;
            const Map m(dir.file("map.nc"));
            const size_t n = 10000;
            const auto p = m.values("p", n), rv = m.values("r", n), neff = m.values("neff", n),
                       lag1 = m.values("neff_lag1", n);
            for (size_t i = 0; i < n; ++i) {
                if (p[i] == m.fill("p")) continue;
                ++tested;
                flagged_min += p[i] < 0.05;
                flagged_chain += two_sided_p(rv[i], test_dof(neff[i], steps)) < 0.05;
                flagged_lag1 += two_sided_p(rv[i], test_dof(lag1[i], steps)) < 0.05;
                flagged_n += two_sided_p(rv[i], steps - 2) < 0.05;
            }
            maps_with_fdr += m.number("points_significant_fdr") > 0;
        }
        const double rate = double(flagged_min) / double(tested);
        std::printf("[ rates    ] N = %3d, %2d null maps: with N %.1f %%, chain %.1f %%, lag1 %.1f %%, min %.1f %%; "
                    "maps with any FDR point %d\n",
                    steps, maps, 100.0 * double(flagged_n) / double(tested),
                    100.0 * double(flagged_chain) / double(tested), 100.0 * double(flagged_lag1) / double(tested),
                    100.0 * rate, maps_with_fdr);
        EXPECT_NEAR(rate, 0.05, 0.015) << steps << " steps";
        all_maps += maps;
        all_maps_with_fdr += maps_with_fdr;
    }
    // On null maps FDR at q = 0.10 flags any point in about a tenth of them.
    EXPECT_LE(all_maps_with_fdr, all_maps / 4) << all_maps_with_fdr << " of " << all_maps << " null maps";
}

// Every point's p and the map's field_p worked out again in double precision
// from the same 199 surrogates, drawn with `seed` from f.nc's index; a count
// within 1e-6 of a tie may go either way.
void check_phase_against_double_loop(const TempDir& dir, const Map& map, size_t n, int32_t steps, uint64_t seed)
{
    const int64_t m = 199, rank = 190; // ceil(0.95 M)
    const Map f(dir.file("f.nc"));
    const auto x = f.values("field", n * size_t(steps)), y = f.values("index", size_t(steps)), p = map.values("p", n);
    const auto local = map.mask("sig_local", n), fdr = map.mask("sig_fdr", n);
    const Surrogates s = draw_surrogates(y.data(), steps, m, seed, "index");
    const double p_fdr = map.number("p_FDR");
    int64_t wrong = 0, tested = 0, observed = 0, observed_slack = 0;
    std::vector<int64_t> field(static_cast<size_t>(m)), slack(static_cast<size_t>(m));
    std::vector<double> r(static_cast<size_t>(m)), xs(static_cast<size_t>(steps));
    for (size_t j = 0; j < n; ++j) {
        double xm = 0, ym = 0, xx = 0, yy = 0, xy = 0;
        for (int32_t t = 0; t < steps; ++t) xm += (xs[size_t(t)] = x[size_t(t) * n + j]) / steps;
        for (int32_t t = 0; t < steps; ++t) ym += y[size_t(t)] / steps;
        if (std::any_of(xs.begin(), xs.end(), [](double v) { return v == 1e20f; })) {
            wrong += p[j] != map.fill("p");
            continue;
        }
        ++tested;
        for (int32_t t = 0; t < steps; ++t) {
            xx += (xs[size_t(t)] - xm) * (xs[size_t(t)] - xm);
            yy += (y[size_t(t)] - ym) * (y[size_t(t)] - ym);
            xy += (xs[size_t(t)] - xm) * (y[size_t(t)] - ym);
        }
        const double obs = std::fabs(xy / std::sqrt(xx * yy));
        int64_t reach = 0, near = 0;
        for (int64_t k = 0; k < m; ++k) {
            double dot = 0;
            for (int32_t t = 0; t < steps; ++t) dot += double(s.values[size_t(k * steps + t)]) * (xs[size_t(t)] - xm);
            r[size_t(k)] = std::fabs(dot / std::sqrt(xx));
            reach += r[size_t(k)] >= obs;
            near += std::fabs(r[size_t(k)] - obs) <= 1e-6;
        }
        const int64_t count = std::llround(p[j] * double(m + 1)) - 1;
        if ((std::llabs(count - reach) > near || local[j] != (p[j] < 0.05) || fdr[j] != (p[j] <= p_fdr)) &&
            wrong++ == 0)
            ADD_FAILURE() << "point " << j << ": p " << p[j] << ", by the loop " << (1 + reach) << "/" << (m + 1);
        std::vector<double> sorted = r;
        std::nth_element(sorted.begin(), sorted.begin() + rank - 1, sorted.end());
        const double c = sorted[size_t(rank - 1)];
        observed += obs >= c;
        observed_slack += std::fabs(obs - c) <= 1e-6;
        for (int64_t k = 0; k < m; ++k) {
            field[size_t(k)] += r[size_t(k)] >= c;
            slack[size_t(k)] += r[size_t(k)] != c && std::fabs(r[size_t(k)] - c) <= 1e-6;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(map.number("points_tested"), double(tested));
    // field_p between what the counts give with every near tie against the
    // observed count and with every one for it.
    int64_t low = 0, high = 0;
    for (int64_t k = 0; k < m; ++k) {
        low += field[size_t(k)] - slack[size_t(k)] >= observed + observed_slack;
        high += field[size_t(k)] + slack[size_t(k)] >= observed - observed_slack;
    }
    EXPECT_GE(map.number("field_p"), double(1 + low) / double(m + 1));
    EXPECT_LE(map.number("field_p"), double(1 + high) / double(m + 1));
}

// Two tiles (101 rows of 100) of 440 steps, the first tested in two slices, with
// missing points and gaps: a planted region gives field_p at its floor, a null
// field neither that nor a warning; another seed gives other p-values.
TEST(NeffmapPhase, PAndFieldPAgreeWithAPlainDoubleLoopOverTheSameSurrogates)
{
    for (const char* region : {"0.6", "0"}) {
        SCOPED_TRACE(region);
        TempDir dir;
        generate(dir, {"--lon", "100", "--lat", "101", "--steps", "440", "--series-phi", "0.6", "--field-phi", "0.6",
                       "--region-r", region, "--missing", "3", "--gaps", "4", "--seed", "5", "f.nc", "idx.csv"});
        for (const char* seed : {"9", "10"}) {
            const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", std::string(seed) + ".nc",
                                                  "--test", "phase", "--surrogates", "199", "--seed", seed, "--quiet"});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        const Map map(dir.file("9.nc")), other(dir.file("10.nc"));
        check_phase_against_double_loop(dir, map, 10100, 440, 9);
        const bool planted = std::string(region) != "0";
        EXPECT_EQ(map.number("field_p") == 1.0 / 200, planted);
        if (!planted) {
            EXPECT_EQ(map.text("warning"), "(absent)");
        }
        const auto a = map.values("p", 10100), b = other.values("p", 10100);
        EXPECT_GT(std::inner_product(a.begin(), a.end(), b.begin(), 0, std::plus<>(), std::not_equal_to<>()), 5000);
    }
}

TEST(NeffmapPhase, TheSeriesItselfIsAtTheFloorAndTheMapNamesTheTest)
{
    TempDir dir;
    make_netcdf(dir, "st", STATIONS_CDL);
    // With 9 surrogates the two copies sit at the floor 0.1 and, of m = 3 points
    // tested, cannot pass (0.1 > 2 q / 3); telling them apart takes
    // 10 m / (q k) - 1 = 149 surrogates, and 999 are enough.
    for (const char* m : {"9", "999"}) {
        const RunResult r = run_neffmap(dir, {"st.nc", "v", "st.nc:idx", "map.nc", "--test", "phase", "--surrogates", m});
        ASSERT_EQ(r.status, 0) << r.err;
        const Map map(dir.file("map.nc"));
        const auto p = map.values("p", 4);
        const double floor = 1.0 / (std::stod(m) + 1);
        EXPECT_EQ(p[0], floor);
        EXPECT_EQ(p[1], floor) << "two-sided";
        EXPECT_EQ(p[2], map.fill("p")) << "a constant is not tested";
        EXPECT_GT(p[3], floor);
        EXPECT_EQ(map.number("p_smallest"), floor);
        EXPECT_EQ(map.number("surrogates"), std::stod(m));
        const bool warned = std::string(m) == "9";
        EXPECT_EQ(r.out.find("--surrogates 149 or more") != std::string::npos, warned) << r.out;
        EXPECT_EQ(map.text("warning") != "(absent)", warned);
        EXPECT_EQ(map.text("test"), "phase");
        EXPECT_NE(map.text("blas").find(", kernel "), std::string::npos);
        for (const char* var : {"neff", "neff_lag1", "dof"})
            EXPECT_NE(map.text("note", map.var(var)).find("did not use it"), std::string::npos) << var;
    }
    ASSERT_EQ(run_neffmap(dir, {"st.nc", "v", "st.nc:idx", "t.nc"}).status, 0);
    const Map t(dir.file("t.nc"));
    EXPECT_EQ(t.text("test"), "t");
    EXPECT_EQ(t.text("note", t.var("dof")), "(absent)");
}

} // namespace
