// neffmap --test phase run as a user runs it, against what the test works out
// on its own: every point's p and the map's field_p by a plain double loop over
// the same surrogates, points whose p is known, and the seed.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <tuple>

#include "phasetest.hpp"
#include "test_support.hpp"

namespace {

RunResult run_neffmap(const TempDir& dir, const std::vector<std::string>& args)
{
    RunOptions options;
    options.timeout_seconds = 120;
    return run_program(NEFFMAP_EXE, "", dir.path, args, options);
}

std::vector<double> read_var(const std::string& path, const char* name)
{
    int nc, var, rank, dims[NC_MAX_VAR_DIMS];
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
    EXPECT_EQ(nc_inq_varid(nc, name, &var), NC_NOERR) << name;
    nc_inq_varndims(nc, var, &rank);
    nc_inq_vardimid(nc, var, dims);
    size_t n = 1;
    for (int d = 0; d < rank; ++d) {
        size_t len;
        nc_inq_dimlen(nc, dims[d], &len);
        n *= len;
    }
    std::vector<double> v(n);
    nc_get_var_double(nc, var, v.data());
    nc_close(nc);
    return v;
}

// A global attribute (var -1) or a variable's, as text; "(absent)" when missing.
std::string attribute(const std::string& path, const char* name, const char* var = nullptr)
{
    int nc, v = NC_GLOBAL;
    nc_type type;
    size_t len = 0;
    std::string text = "(absent)";
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
    if (var) nc_inq_varid(nc, var, &v);
    if (nc_inq_att(nc, v, name, &type, &len) == NC_NOERR) {
        if (type == NC_CHAR) {
            text.assign(len, '\0');
            nc_get_att_text(nc, v, name, text.data());
        } else {
            double x = 0;
            nc_get_att_double(nc, v, name, &x);
            char s[40];
            std::snprintf(s, sizeof s, "%.17g", x);
            text = s;
        }
    }
    nc_close(nc);
    return text;
}

// The map's p and field_p for the field f.nc of `steps` steps (time, lat, lon)
// and its series `index`, worked out point by point in double precision from the
// same surrogates: a count within 1e-6 of a tie may go either way.
void check_against_double_loop(const TempDir& dir, const std::string& map, int32_t steps, int64_t m, uint64_t seed,
                               bool planted)
{
    const std::vector<double> x = read_var(dir.file("f.nc"), "field"), y = read_var(dir.file("f.nc"), "index");
    const std::vector<double> p = read_var(map, "p"), local = read_var(map, "sig_local"),
                              fdr = read_var(map, "sig_fdr");
    const size_t points = p.size();
    const Surrogates s = draw_surrogates(y.data(), steps, m, seed, "index");
    const double p_fdr = std::stod(attribute(map, "p_FDR")), field_p = std::stod(attribute(map, "field_p"));
    const int64_t rank = 190; // ceil(0.95 M) for M = 199
    ASSERT_EQ(m, 199);

    double ym = 0, yy = 0;
    for (double v : y) ym += v / steps;
    for (double v : y) yy += (v - ym) * (v - ym);
    int64_t wrong_p = 0, wrong_mask = 0, tested = 0, observed = 0, observed_slack = 0;
    std::vector<int64_t> field(static_cast<size_t>(m)), field_slack(static_cast<size_t>(m));
    std::vector<double> r(static_cast<size_t>(m)), xs(static_cast<size_t>(steps));
    for (size_t j = 0; j < points; ++j) {
        bool missing = false;
        double xm = 0, xx = 0, xy = 0;
        for (int32_t t = 0; t < steps; ++t) {
            xs[size_t(t)] = x[size_t(t) * points + j];
            missing = missing || xs[size_t(t)] == 1e20f || std::isnan(xs[size_t(t)]);
            xm += xs[size_t(t)] / steps;
        }
        if (missing) {
            wrong_p += p[j] != NC_FILL_DOUBLE;
            continue;
        }
        ++tested;
        for (int32_t t = 0; t < steps; ++t) {
            xx += (xs[size_t(t)] - xm) * (xs[size_t(t)] - xm);
            xy += (xs[size_t(t)] - xm) * (y[size_t(t)] - ym);
        }
        const double observed_r = std::fabs(xy / std::sqrt(xx * yy));
        int64_t reach = 0, near = 0;
        for (int64_t k = 0; k < m; ++k) {
            double dot = 0;
            for (int32_t t = 0; t < steps; ++t) dot += double(s.values[size_t(k * steps + t)]) * (xs[size_t(t)] - xm);
            r[size_t(k)] = std::fabs(dot / std::sqrt(xx));
            reach += r[size_t(k)] >= observed_r;
            near += std::fabs(r[size_t(k)] - observed_r) <= 1e-6;
        }
        const int64_t count = std::llround(p[j] * double(m + 1)) - 1;
        if (std::llabs(count - reach) > near && wrong_p++ == 0)
            ADD_FAILURE() << "point " << j << ": p " << p[j] << ", by the loop " << (1 + reach) << "/" << (m + 1);
        wrong_mask += local[j] != (p[j] < 0.05) || fdr[j] != (p[j] <= p_fdr);

        std::vector<double> sorted = r;
        std::nth_element(sorted.begin(), sorted.begin() + rank - 1, sorted.end());
        const double c = sorted[size_t(rank - 1)];
        observed += observed_r >= c;
        observed_slack += std::fabs(observed_r - c) <= 1e-6;
        for (int64_t k = 0; k < m; ++k) {
            field[size_t(k)] += r[size_t(k)] >= c;
            field_slack[size_t(k)] += r[size_t(k)] != c && std::fabs(r[size_t(k)] - c) <= 1e-6;
        }
    }
    EXPECT_EQ(wrong_p, 0);
    EXPECT_EQ(wrong_mask, 0);
    EXPECT_EQ(attribute(map, "points_tested"), std::to_string(tested));
    // field_p between what the counts give with every near tie against the
    // observed count and with every one for it.
    int64_t low = 0, high = 0;
    for (int64_t k = 0; k < m; ++k) {
        low += field[size_t(k)] - field_slack[size_t(k)] >= observed + observed_slack;
        high += field[size_t(k)] + field_slack[size_t(k)] >= observed - observed_slack;
    }
    EXPECT_GE(field_p, double(1 + low) / double(m + 1));
    EXPECT_LE(field_p, double(1 + high) / double(m + 1));
    if (planted) {
        EXPECT_EQ(field_p, 1.0 / double(m + 1));
    } else {
        EXPECT_GT(field_p, 1.0 / double(m + 1));
        // About m/(M + 1) points sit at the floor by chance: no warning.
        EXPECT_EQ(attribute(map, "warning"), "(absent)");
    }
}

// Two tiles (101 rows of 100), with missing points and gaps; a planted region
// and a null field. 440 steps: the first tile is tested in two slices. The
// same seed gives the same map on any number of jobs, another seed another map.
TEST(NeffmapPhase, PAndFieldPAgreeWithAPlainDoubleLoopOverTheSameSurrogates)
{
    for (const char* region : {"0.6", "0"}) {
        SCOPED_TRACE(region);
        TempDir dir;
        const RunResult g = run_program(SAMPLEDATA_EXE, "", dir.path,
                                        {"netcdf", "--lon", "100", "--lat", "101", "--steps", "440", "--series-phi",
                                         "0.6", "--field-phi", "0.6", "--region-r", region, "--missing", "3",
                                         "--gaps", "4", "--seed", "5", "f.nc", "idx.csv"});
        ASSERT_EQ(g.status, 0) << g.err;
        for (const auto& [out, seed, jobs] : {std::tuple{"a.nc", "9", "2"}, {"b.nc", "9", "1"}, {"c.nc", "10", "2"}}) {
            const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", out, "--test", "phase",
                                                  "--surrogates", "199", "--seed", seed, "--jobs", jobs, "--quiet"});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        check_against_double_loop(dir, dir.file("a.nc"), 440, 199, 9, std::string(region) != "0");
        const std::vector<double> a = read_var(dir.file("a.nc"), "p"), b = read_var(dir.file("b.nc"), "p"),
                                  c = read_var(dir.file("c.nc"), "p");
        EXPECT_TRUE(a == b);
        EXPECT_EQ(attribute(dir.file("a.nc"), "field_p"), attribute(dir.file("b.nc"), "field_p"));
        size_t differ = 0;
        for (size_t i = 0; i < a.size(); ++i) differ += a[i] != c[i];
        EXPECT_GT(differ, a.size() / 2) << "another seed";
    }
}

// Forty steps at four stations: an affine copy of the series, its negation, a
// constant and an unrelated one.
std::string stations_cdl()
{
    std::string idx, v;
    for (int t = 0; t < 40; ++t) {
        const double y = std::sin(1.3 * t) + 0.5 * std::sin(0.37 * t + 1) + 0.02 * t;
        char row[160];
        std::snprintf(row, sizeof row, "%s%.6f", t ? ", " : "", y);
        idx += row;
        std::snprintf(row, sizeof row, "%s%.6f, %.6f, 7, %.6f", t ? ",\n" : "", 2 * y + 1, 1 - 3 * y, std::cos(2.9 * t));
        v += row;
    }
    return "netcdf st {\ndimensions:\n time = 40 ; station = 4 ;\nvariables:\n float v(time, station) ;\n"
           " float idx(time) ;\ndata:\n v = " + v + " ;\n idx = " + idx + " ;\n}\n";
}

TEST(NeffmapPhase, TheSeriesItselfIsAtTheFloorAndTheMapNamesTheTest)
{
    TempDir dir;
    make_netcdf(dir, "st", stations_cdl());
    // 9 surrogates: the two copies sit at the floor 0.1, and with m = 3 points
    // tested two at the floor cannot pass (0.1 > 2 q / 3); telling them apart
    // needs 10 m / (q k) - 1 = 149.
    for (const char* m : {"9", "999"}) {
        const RunResult r = run_neffmap(dir, {"st.nc", "v", "st.nc:idx", "map.nc", "--test", "phase", "--surrogates", m});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<double> p = read_var(dir.file("map.nc"), "p");
        const double floor = 1.0 / (std::stod(m) + 1);
        EXPECT_EQ(p[0], floor);
        EXPECT_EQ(p[1], floor) << "two-sided";
        EXPECT_EQ(p[2], NC_FILL_DOUBLE) << "a constant is not tested";
        EXPECT_GT(p[3], floor);
        EXPECT_EQ(std::stod(attribute(dir.file("map.nc"), "p_smallest")), floor);
        EXPECT_EQ(attribute(dir.file("map.nc"), "surrogates"), m);
        const bool warned = std::string(m) == "9";
        EXPECT_EQ(r.out.find("--surrogates 149 or more") != std::string::npos, warned) << r.out;
        EXPECT_EQ(attribute(dir.file("map.nc"), "warning") != "(absent)", warned);
    }
    const std::string map = dir.file("map.nc");
    EXPECT_EQ(attribute(map, "test"), "phase");
    EXPECT_EQ(attribute(map, "seed"), "1");
    EXPECT_NE(attribute(map, "blas").find(", kernel "), std::string::npos);
    for (const char* var : {"neff", "neff_lag1", "dof"})
        EXPECT_NE(attribute(map, "note", var).find("did not use it"), std::string::npos) << var;

    const RunResult t = run_neffmap(dir, {"st.nc", "v", "st.nc:idx", "t.nc"});
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(attribute(dir.file("t.nc"), "test"), "t");
    EXPECT_EQ(attribute(dir.file("t.nc"), "field_p"), "(absent)");
    EXPECT_EQ(attribute(dir.file("t.nc"), "note", "dof"), "(absent)");
}

} // namespace
