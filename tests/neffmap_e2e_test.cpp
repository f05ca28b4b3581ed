// neffmap run as a user runs it, on fields from the sample generator and from
// ncgen, checked against lagscan, sigcut and nstar run by hand on the same tiles.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <sys/stat.h>

#include "series_file.hpp"
#include "neffmap_runs.hpp"
#include "test_support.hpp"

namespace {

const std::string neffmap = NEFFMAP_EXE;
const std::string sampledata = SAMPLEDATA_EXE;



struct NcVar {
    std::vector<std::string> dims;
    std::vector<size_t> sizes;
    std::vector<float> values;
    float fill = NC_FILL_FLOAT;
};

NcVar read_var(const std::string& path, const char* name)
{
    NcVar v;
    int nc, var, rank, dimids[NC_MAX_VAR_DIMS];
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
    EXPECT_EQ(nc_inq_varid(nc, name, &var), NC_NOERR) << name;
    nc_inq_varndims(nc, var, &rank);
    nc_inq_vardimid(nc, var, dimids);
    size_t n = 1;
    for (int d = 0; d < rank; ++d) {
        char dim[NC_MAX_NAME + 1];
        size_t len;
        nc_inq_dim(nc, dimids[d], dim, &len);
        v.dims.push_back(dim);
        v.sizes.push_back(len);
        n *= len;
    }
    v.values.resize(n);
    EXPECT_EQ(nc_get_var_float(nc, var, v.values.data()), NC_NOERR);
    nc_get_att_float(nc, var, "_FillValue", &v.fill);
    nc_close(nc);
    return v;
}

std::string global_text(const std::string& path, const char* name)
{
    int nc;
    size_t len = 0;
    std::string s;
    if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) return "(unreadable)";
    if (nc_inq_attlen(nc, NC_GLOBAL, name, &len) == NC_NOERR) {
        s.resize(len);
        nc_get_att_text(nc, NC_GLOBAL, name, s.data());
    }
    nc_close(nc);
    return s;
}

// The CSV index as the generator printed it, parsed here independently.
std::vector<float> csv_index(const std::string& path)
{
    std::vector<float> v;
    std::istringstream in(read_file(path));
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) v.push_back(std::strtof(line.substr(line.find(',') + 1).c_str(), nullptr));
    return v;
}

std::string series_bytes(const std::vector<float>& v)
{
    std::string s;
    for (size_t t = 0; t < v.size(); ++t) s += pair_bytes(int32_t(t + 1), 1, 1, {v[t]});
    return s;
}

void run_ok(const std::string& exe, const std::string& answers, const std::string& cwd)
{
    const RunResult r = run_program(exe, answers, cwd);
    ASSERT_EQ(r.status, 0) << exe << ": " << r.err;
}

std::vector<std::string> tile_dirs(const std::string& work)
{
    std::vector<std::string> dirs;
    for (auto& e : std::filesystem::directory_iterator(work))
        if (e.path().filename().string().rfind("tile-", 0) == 0) dirs.push_back(e.path().filename().string());
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

// The field as read, [step][point] over the whole grid: the NetCDF values, with
// the chain's missing marker at step 2 of every point that has a fill value
// anywhere. Scaled: each point with a value at every step (and not constant)
// multiplied by its own power of two, as the chain takes it.
std::vector<std::vector<float>> field_as_read(const NcVar& field, size_t steps, bool scale)
{
    const size_t points = field.values.size() / steps;
    std::vector<std::vector<float>> out(steps, std::vector<float>(points));
    for (size_t p = 0; p < points; ++p) {
        std::vector<float> v(steps);
        bool missing = false;
        for (size_t s = 0; s < steps; ++s) {
            v[s] = field.values[s * points + p];
            missing |= v[s] == field.fill;
        }
        const bool varies = std::any_of(v.begin(), v.end(), [&](float x) { return x != v[0]; });
        if (scale && !missing && varies) v = scaled(v);
        for (size_t s = 0; s < steps; ++s)
            out[s][p] = (s == 1 && missing) || v[s] == field.fill ? MISSING_VALUE : v[s];
    }
    return out;
}

// The chain run by hand, with a series file written here from the CSV: each
// tile's neff, in tile order. Every record file neffmap wrote for the run must
// be, byte for byte, what the programs write on the same input (its work
// files), and what they write on the unscaled field and series: the powers of
// two change no bit.
std::vector<float> neff_by_hand(const TempDir& dir, const std::vector<float>& index, const NcVar& field)
{
    const std::string hand = dir.file("hand"), work = dir.file("work");
    std::filesystem::create_directories(hand + "/s");
    write_file(hand + "/scaled.dat", series_bytes(scaled(index)));
    EXPECT_EQ(read_file(work + "/series.dat"), read_file(hand + "/scaled.dat"));
    write_file(hand + "/series.dat", series_bytes(index));
    run_ok(LAGSCAN_EXE, "series.dat\nseries.aut\n", hand);
    run_ok(SIGCUT_EXE, "../series.aut\n", hand + "/s");
    EXPECT_EQ(read_file(work + "/series.aut"), read_file(hand + "/series.aut"));
    EXPECT_EQ(read_file(work + "/series-lags/critic-lags"), read_file(hand + "/s/critic-lags"));
    const size_t steps = index.size();
    const auto unscaled = field_as_read(field, steps, false);
    std::vector<float> all;
    size_t first = 0;
    for (const std::string& t : tile_dirs(work)) {
        const std::string d = hand + "/" + t;
        std::filesystem::create_directories(d);
        const ParsedSeries tile = parse_series(read_file(work + "/" + t + "/field.dat"));
        EXPECT_TRUE(tile.ok && tile.pairs.size() == steps) << t;
        if (tile.pairs.empty()) continue;
        const size_t points = tile.pairs[0].values.size();
        std::vector<std::vector<float>> own(steps);
        for (size_t s = 0; s < steps; ++s) own[s].assign(unscaled[s].begin() + long(first), unscaled[s].begin() + long(first + points));
        first += points;
        write_file(d + "/unscaled.dat", field_bytes(own, tile.pairs[0].w[1], tile.pairs[0].w[2]));
        run_ok(LAGSCAN_EXE, "unscaled.dat\nunscaled.aut\n", d);
        run_ok(LAGSCAN_EXE, "../../work/" + t + "/field.dat\nfield.aut\n", d);
        EXPECT_TRUE(read_file(d + "/unscaled.aut") == read_file(d + "/field.aut")) << t;
        run_ok(SIGCUT_EXE, "field.aut\n", d);
        run_ok(NSTAR_EXE, "../series.aut\nfield.aut\n../s/critic-lags\ncritic-lags\nneff.dat\n", d);
        for (const char* name : {"field.aut", "critic-lags", "neff.dat"})
            EXPECT_TRUE(read_file(work + "/" + t + "/" + name) == read_file(d + "/" + name)) << t << "/" << name;
        const ParsedSeries p = parse_series(read_file(d + "/neff.dat"));
        EXPECT_TRUE(p.ok && p.pairs.size() == 1) << t;
        if (p.pairs.size() == 1) all.insert(all.end(), p.pairs[0].values.begin(), p.pairs[0].values.end());
    }
    return all;
}

// The tiles' field files put side by side, as [step][point] over the whole grid.
std::vector<std::vector<float>> tiles_joined(const TempDir& dir)
{
    std::vector<std::vector<float>> steps;
    for (const std::string& t : tile_dirs(dir.file("work"))) {
        const ParsedSeries p = parse_series(read_file(dir.file("work/" + t + "/field.dat")));
        EXPECT_TRUE(p.ok) << t;
        if (steps.empty()) steps.resize(p.pairs.size());
        EXPECT_EQ(p.pairs.size(), steps.size()) << t;
        for (size_t s = 0; s < p.pairs.size() && s < steps.size(); ++s)
            steps[s].insert(steps[s].end(), p.pairs[s].values.begin(), p.pairs[s].values.end());
    }
    return steps;
}

// The tiles hold the field as the chain takes it, scaled.
void expect_tiles_hold_field(const TempDir& dir, const NcVar& field, size_t steps)
{
    const size_t points = field.values.size() / steps;
    const auto want = field_as_read(field, steps, true);
    const auto joined = tiles_joined(dir);
    ASSERT_EQ(joined.size(), steps);
    for (size_t s = 0; s < steps; ++s) ASSERT_EQ(joined[s].size(), points);
    for (size_t p = 0; p < points; ++p)
        for (size_t s = 0; s < steps; ++s)
            ASSERT_EQ(bits(joined[s][p]), bits(want[s][p])) << "point " << p << " step " << s + 1;
}

void expect_same_neff(const std::vector<float>& hand, const NcVar& out)
{
    ASSERT_EQ(hand.size(), out.values.size());
    for (size_t p = 0; p < hand.size(); ++p) {
        const float want = hand[p] == MISSING_VALUE ? out.fill : hand[p];
        ASSERT_TRUE(same_value(out.values[p], want)) << "point " << p << ": " << out.values[p] << " vs " << want;
    }
}

bool directory_empty(const std::string& path)
{
    return std::filesystem::is_empty(path);
}

TEST(NeffmapChain, EqualsTheChainRunByHandOnTheSameTiles)
{
    TempDir dir;
    generate(dir, {"--lon", "144", "--lat", "73", "--steps", "120", "--series-phi", "0.6", "--field-phi", "0.5",
                   "--region-r", "0.5", "--missing", "4", "--gaps", "6", "f.nc", "idx.csv"});
    const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "out.nc", "--work", "work", "--jobs", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tile_dirs(dir.file("work")).size(), 2u); // 10512 points
    expect_tiles_hold_field(dir, read_var(dir.file("f.nc"), "field"), 120);

    const NcVar out = read_var(dir.file("out.nc"), "neff");
    EXPECT_EQ(out.dims, (std::vector<std::string>{"lat", "lon"}));
    expect_same_neff(neff_by_hand(dir, csv_index(dir.file("idx.csv")), read_var(dir.file("f.nc"), "field")), out);
    const NcVar lat = read_var(dir.file("out.nc"), "lat");
    EXPECT_EQ(lat.values.front(), -90.0f);
    EXPECT_EQ(global_text(dir.file("out.nc"), "Conventions"), "CF-1.8");
    EXPECT_NE(global_text(dir.file("out.nc"), "history").find("neffmap f.nc field idx.csv:index out.nc"),
              std::string::npos);
    EXPECT_NE(r.out.find("4 missing throughout, 6 dropped for gaps"), std::string::npos) << r.out;
}

// Every variable's values and every attribute of a NetCDF file as raw bytes, by
// "variable/attribute" ("/attribute" for the global ones).
std::map<std::string, std::string> netcdf_contents(const std::string& path)
{
    std::map<std::string, std::string> all;
    int nc, nvars = 0;
    EXPECT_EQ(nc_open(path.c_str(), NC_NOWRITE, &nc), NC_NOERR) << path;
    nc_inq_nvars(nc, &nvars);
    for (int v = -1; v < nvars; ++v) {
        char name[NC_MAX_NAME + 1] = "";
        int natts = 0;
        if (v >= 0) {
            nc_type t;
            int rank, dims[NC_MAX_VAR_DIMS];
            size_t size, n = 1;
            nc_inq_var(nc, v, name, &t, &rank, dims, &natts);
            nc_inq_type(nc, t, nullptr, &size);
            for (int d = 0; d < rank; ++d) {
                size_t len;
                nc_inq_dimlen(nc, dims[d], &len);
                n *= len;
            }
            std::string bytes(n * size, '\0');
            EXPECT_EQ(nc_get_var(nc, v, bytes.data()), NC_NOERR) << name;
            all[name] = bytes;
        } else {
            nc_inq_natts(nc, &natts);
        }
        for (int a = 0; a < natts; ++a) {
            char att[NC_MAX_NAME + 1];
            nc_type t;
            size_t len, size;
            nc_inq_attname(nc, v, a, att);
            nc_inq_att(nc, v, att, &t, &len);
            nc_inq_type(nc, t, nullptr, &size);
            std::string bytes(len * size, '\0');
            nc_get_att(nc, v, att, bytes.data());
            all[std::string(name) + "/" + att] = bytes;
        }
    }
    nc_close(nc);
    return all;
}

TEST(NeffmapChain, AnyNumberOfJobsWritesTheSameMap)
{
    TempDir dir;
    generate(dir, {"--lon", "150", "--lat", "140", "--steps", "60", "--series-phi", "0.5", "--field-phi", "0.7",
                   "--region-r", "0.5", "--missing", "3", "--gaps", "5", "f.nc", "idx.csv"});
    for (const char* test : {"t", "phase"}) {
        SCOPED_TRACE(test);
        for (const char* jobs : {"1", "2", "3"}) {
            std::vector<std::string> args = {"f.nc", "field", "idx.csv:index", std::string("map") + jobs + ".nc",
                                             "--jobs", jobs, "--quiet"};
            if (std::string(test) == "phase") args.insert(args.end(), {"--test", "phase", "--surrogates", "300"});
            const RunResult r = run_neffmap(dir, args);
            ASSERT_EQ(r.status, 0) << r.err;
        }
        auto one = netcdf_contents(dir.file("map1.nc"));
        ASSERT_GT(one.size(), 40u) << "eight variables with their attributes, and the global ones";
        double p_fdr = 0;
        std::memcpy(&p_fdr, one["/p_FDR"].data(), sizeof p_fdr);
        EXPECT_GT(p_fdr, 0.0) << "the planted region passes";
        one.erase("/history");
        for (const char* other : {"map2.nc", "map3.nc"}) {
            auto contents = netcdf_contents(dir.file(other));
            contents.erase("/history");
            EXPECT_TRUE(contents == one) << other;
        }
    }
    EXPECT_TRUE(directory_empty(dir.file("tmp")));
}

TEST(NeffmapGrids, ThreeDimensionalGridAcrossLevels)
{
    TempDir dir;
    // 3 levels × 40 × 100: tiles of 100 lines cross from one level to the next.
    generate(dir, {"--lon", "100", "--lat", "40", "--levels", "3", "--steps", "30", "--series-phi", "0.5",
                   "--field-phi", "0.5", "--gaps", "2", "f.nc", "idx.csv"});
    const RunResult r = run_neffmap(dir, {"f.nc", "field", "f.nc:index", "out.nc", "--work", "work"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tile_dirs(dir.file("work")).size(), 2u);
    expect_tiles_hold_field(dir, read_var(dir.file("f.nc"), "field"), 30);
    const NcVar out = read_var(dir.file("out.nc"), "neff");
    EXPECT_EQ(out.dims, (std::vector<std::string>{"lev", "lat", "lon"}));
    expect_same_neff(neff_by_hand(dir, csv_index(dir.file("idx.csv")), read_var(dir.file("f.nc"), "field")), out);
}

TEST(NeffmapGrids, LongLineSplitIntoPieces)
{
    TempDir dir;
    // One line of 12000 points is longer than a tile: it goes in two pieces.
    generate(dir, {"--lon", "12000", "--lat", "1", "--steps", "20", "--series-phi", "0.5", "--field-phi", "0.5",
                   "f.nc", "idx.csv"});
    const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "out.nc", "--work", "work", "--jobs", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tile_dirs(dir.file("work")).size(), 2u);
    expect_tiles_hold_field(dir, read_var(dir.file("f.nc"), "field"), 20);
    expect_same_neff(neff_by_hand(dir, csv_index(dir.file("idx.csv")), read_var(dir.file("f.nc"), "field")),
                     read_var(dir.file("out.nc"), "neff"));
}

// Six steps at five stations; station 3 has a fill value at step 5 alone.
const char* const STATIONS_CDL = R"(netcdf stations {
dimensions:
  time = 6 ; station = 5 ;
variables:
  double time(time) ; time:units = "days since 1990-01-01" ;
  int station(station) ; station:long_name = "station number" ;
  short t2m(time, station) ; t2m:_FillValue = -999s ; t2m:scale_factor = 0.5 ;
  float idx(time) ;
data:
  time = 0, 365, 730, 1096, 1461, 1826 ;
  station = 101, 102, 103, 104, 105 ;
  t2m = 1, 5, 3, 7, 2,
        4, 2, 8, 1, 6,
        2, 9, 4, 3, 3,
        8, 1, 7, 5, 9,
        3, 6, -999, 2, 4,
        5, 3, 1, 8, 1 ;
  idx = 0.5, -1.5, 2, 1, -0.5, 3 ;
}
)";

TEST(NeffmapGrids, OneDimensionalGridWithAGapAtStepFive)
{
    TempDir dir;
    make_netcdf(dir, "st", STATIONS_CDL);
    write_file(dir.file("idx.csv"), "year,idx\n1990,0.5\n1991,-1.5\n1992,2\n1993,1\n1994,-0.5\n1995,3\n");
    const RunResult r = run_neffmap(dir, {"st.nc", "t2m", "idx.csv:2", "out.nc", "--work", "work"});
    ASSERT_EQ(r.status, 0) << r.err;
    const NcVar out = read_var(dir.file("out.nc"), "neff");
    EXPECT_EQ(out.dims, (std::vector<std::string>{"station"}));
    ASSERT_EQ(out.values.size(), 5u);
    EXPECT_EQ(out.values[2], out.fill);
    for (int p : {0, 1, 3, 4}) EXPECT_TRUE(std::isfinite(out.values[p]) && out.values[p] != out.fill) << p;
    NcVar t2m = read_var(dir.file("st.nc"), "t2m"); // as stored: unpacked here
    for (float& v : t2m.values) v = v == t2m.fill ? v : v * 0.5f;
    expect_same_neff(neff_by_hand(dir, {0.5f, -1.5f, 2, 1, -0.5f, 3}, t2m), out);
    EXPECT_EQ(read_var(dir.file("out.nc"), "station").values[2], 103.0f);
    EXPECT_NE(r.out.find("0 missing throughout, 1 dropped for gaps"), std::string::npos) << r.out;

    // The same series from the NetCDF file and from a record file gives the same map.
    write_file(dir.file("idx.dat"), series_bytes({0.5f, -1.5f, 2, 1, -0.5f, 3}));
    ASSERT_EQ(run_neffmap(dir, {"st.nc", "t2m", "st.nc:idx", "nc.nc", "--quiet"}).status, 0);
    ASSERT_EQ(run_neffmap(dir, {"st.nc", "t2m", "idx.dat", "rec.nc", "--quiet"}).status, 0);
    for (const char* other : {"nc.nc", "rec.nc"}) {
        const NcVar o = read_var(dir.file(other), "neff");
        for (size_t p = 0; p < 5; ++p) EXPECT_EQ(bits(o.values[p]), bits(out.values[p])) << other << " " << p;
    }
}

TEST(NeffmapChecks, BadSeriesAndStepsEndBeforeAnyWork)
{
    TempDir dir;
    make_netcdf(dir, "st", STATIONS_CDL);
    generate(dir, {"--lon", "4", "--lat", "3", "--levels", "2", "--steps", "6", "f3.nc", "f3.csv"});
    write_file(dir.file("short.csv"), "idx\n1\n2\n3\n4\n5\n");
    write_file(dir.file("six.csv"), "idx\n1\n2\n3\n4\n5\n6\n");
    write_file(dir.file("gap.csv"), "t,idx\n1,1\n2,2\n3,3\n4,\n5,5\n6,6\n");
    write_file(dir.file("later.csv"), "date,idx\n2001-01-01,1\n2002-01-01,2\n2003-01-01,3\n");
    write_file(dir.file("out.nc"), "an older map");
    struct Case {
        std::vector<std::string> args;
        std::string file, words;
    } cases[] = {
        {{"st.nc", "t2m", "short.csv", "out.nc"}, "short.csv", "the field has 6 selected steps (1 … 6) and the series 5"},
        {{"st.nc", "t2m", "later.csv", "out.nc"}, "later.csv",
         "no steps in common (the field covers 1990 … 1995 and the series 2001 … 2003)"},
        {{"st.nc", "t2m", "gap.csv:idx", "out.nc"}, "gap.csv", "has no value for step 4"},
        {{"st.nc", "t2m", "six.csv", "out.nc", "--field-steps", "2:3", "--series-steps", "2:3"}, "six.csv",
         "at least 3"},
        {{"st.nc", "t2m", "six.csv", "out.nc", "--field-steps", "2:9"}, "st.nc", "--field-steps 2:9"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--field-steps", "2:6"}, "--field-steps", "paired by date"},
        {{"st.nc", "t2m", "st.nc", "out.nc"}, "st.nc", "FILE:VAR"},
        {{"st.nc", "nope", "st.nc:idx", "out.nc"}, "st.nc", "no variable named \"nope\""},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--jobs", "0"}, "--jobs", "not in range"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--field-steps", "4:2"}, "--field-steps", "ends before"},
        {{"st.nc", "t2m", "st.nc:idx", "no/such/out.nc"}, "no/such/out.nc", "its directory no/such does not exist"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--alpha", "1.5"}, "--alpha", "not in range"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--fdr", "0"}, "--fdr", "strictly between 0 and 1"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--neff", "n"}, "--neff", "n not in {chain,lag1,min}"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--png-var", "q"}, "--png-var", "q not in"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--range", "1:-1"}, "--range", "LO below HI"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--test", "f"}, "--test", "f not in {t,phase}"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--test", "phase", "--surrogates", "100001"}, "--surrogates",
         "not in range"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--surrogates", "500"}, "--surrogates", "is for --test phase"},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--test", "phase", "--seed", "-1"}, "--seed", "not \"-1\""},
        {{"st.nc", "t2m", "st.nc:idx", "out.nc", "--period", "1993-05/1991-01"}, "--period", "comes after the end"},
        {{"f3.nc", "field", "f3.nc:index", "out.nc", "--png", "out.png"}, "f3.nc", "at most two dimensions"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_neffmap(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.words;
        EXPECT_EQ(r.err.rfind("neffmap: " + c.file + ":", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.words), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(read_file(dir.file("out.nc")), "an older map");
    EXPECT_TRUE(directory_empty(dir.file("tmp")));
}

// A monthly field from January of `year` as ncgen text: values[t][p], NaN for
// the fill value.
std::string monthly_field_cdl(int year, const std::vector<std::vector<float>>& values)
{
    std::ostringstream c;
    c.precision(9);
    c << "netcdf f {\ndimensions:\n  time = " << values.size() << " ; station = " << values[0].size()
      << " ;\nvariables:\n  double time(time) ; time:units = \"months since " << year << "-01-01\" ;\n"
      << "  float x(time, station) ; x:_FillValue = -999.f ; x:units = \"K\" ;\ndata:\n  time = ";
    for (size_t t = 0; t < values.size(); ++t) c << t << (t + 1 < values.size() ? ", " : " ;\n  x = ");
    for (size_t t = 0; t < values.size(); ++t)
        for (size_t p = 0; p < values[t].size(); ++p)
            c << (std::isnan(values[t][p]) ? -999.0f : values[t][p]) << (t + 1 < values.size() || p + 1 < values[t].size() ? ", " : " ;\n}\n");
    return c.str();
}

// A series from January of `year` as a dated CSV and as a table of a year per
// row; -99.99 is written as tables write their marker.
std::string csv_cell(float v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(v));
    return v == -99.99f ? "-99.99" : text;
}

std::string dated_csv(int year, const std::vector<float>& v)
{
    std::string c = "month,idx\n";
    for (size_t k = 0; k < v.size(); ++k)
        c += std::to_string(year + int(k / 12)) + (k % 12 < 9 ? "-0" : "-") + std::to_string(k % 12 + 1) + "," +
             csv_cell(v[k]) + "\n";
    return c;
}

std::string year_table(int year, const std::vector<float>& v)
{
    std::string c = "year,jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec";
    for (size_t k = 0; k < v.size(); ++k) {
        if (k % 12 == 0) {
            c += '\n';
            c += std::to_string(year + int(k / 12));
        }
        c += ",";
        c += csv_cell(v[k]);
    }
    return c + "\n";
}

// Every variable of a map (not the global attributes, which name the inputs).
std::map<std::string, std::string> map_variables(const std::string& path)
{
    auto all = netcdf_contents(path);
    std::erase_if(all, [](const auto& e) { return e.first[0] == '/'; });
    return all;
}

// An index over 1979 … 1986 and a field over 1981 … 1983 whose points are copies
// of it: point 0 month by month, point 1 as 2.5 × the index two months earlier
// + 7, point 2 as minus the index a month later, point 3 unrelated.
TEST(NeffmapDates, StepsPairByDateAndTheLagShiftsThem)
{
    TempDir dir;
    std::mt19937 gen(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> index(96);
    for (float& v : index) v = noise(gen);
    std::vector<std::vector<float>> field(36);
    for (int t = 0; t < 36; ++t) {
        const int k = t + 24; // the index's month
        field[t] = {index[k], 2.5f * index[k - 2] + 7.0f, -index[k + 1], noise(gen)};
    }
    make_netcdf(dir, "f", monthly_field_cdl(1981, field));
    index[2] = -99.99f; // a marker outside the field's years
    write_file(dir.file("dated.csv"), dated_csv(1979, index));
    write_file(dir.file("table.csv"), year_table(1979, index));
    write_file(dir.file("later.csv"), dated_csv(1982, {index.begin() + 36, index.end()}));
    std::string shifted; // the lag by hand: the index two months before each of the field's
    for (int t = 0; t < 36; ++t) shifted += pair_bytes(t + 1, 1, 1, {index[size_t(t + 22)]});
    write_file(dir.file("shifted.dat"), shifted);
    std::vector<float> gap = index;
    gap[40] = -99.99f; // 1982-05
    write_file(dir.file("gap.csv"), year_table(1979, gap));

    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "f.nc");
        args.insert(args.begin() + 1, "x");
        const RunResult r = run_neffmap(dir, args);
        EXPECT_EQ(r.status, 0) << r.err;
        return r;
    };
    run({"dated.csv", "dated.nc", "--missing-value", "-99.99"});
    run({"table.csv", "table.nc", "--missing-value", "-99.99"});
    run({"dated.csv", "lag.nc", "--missing-value", "-99.99", "--lag", "2"});
    run({"shifted.dat", "hand.nc"});
    const RunResult later = run({"later.csv", "later.nc"});
    EXPECT_NE(later.out.find("N = 24, 1982-01 … 1983-12 (monthly), by date"), std::string::npos) << later.out;
    EXPECT_EQ(global_text(dir.file("later.nc"), "time_coverage_start"), "1982-01");

    // r = 1 only where the copy is paired with the index it was made from, and
    // then the slope is the planted multiple.
    const struct {
        const char* map;
        int copy;
        double slope;
    } runs[] = {{"dated.nc", 0, 1.0}, {"table.nc", 0, 1.0}, {"later.nc", 0, 1.0}, {"lag.nc", 1, 2.5}, {"hand.nc", 1, 2.5}};
    for (const auto& c : runs) {
        const NcVar r = read_var(dir.file(c.map), "r"), slope = read_var(dir.file(c.map), "slope");
        for (int p = 0; p < 4; ++p) {
            if (p == c.copy) {
                EXPECT_NEAR(r.values[p], 1.0, 1e-6) << c.map;
                EXPECT_NEAR(slope.values[p], c.slope, 1e-5) << c.map;
            } else {
                EXPECT_LT(std::fabs(r.values[p]), 0.9) << c.map << " point " << p;
            }
        }
    }
    EXPECT_TRUE(map_variables(dir.file("table.nc")) == map_variables(dir.file("dated.nc")));
    EXPECT_TRUE(map_variables(dir.file("lag.nc")) == map_variables(dir.file("hand.nc")));

    const RunResult r = run_neffmap(dir, {"f.nc", "x", "gap.csv", "gap.nc", "--missing-value", "-99.99"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("gap.csv: has no value for 1982-05"), std::string::npos) << r.err;
}

// Calendar-month means and the line taken out as a scientist's script would,
// at every point of a tile and from the series: 37 points, a planted cycle at 4
// of them, a trend at others, a gap at one.
TEST(NeffmapDates, AnomaliesAndTheLineAsComputedByHandAndTheCycleWarning)
{
    TempDir dir;
    std::mt19937 gen(9);
    std::normal_distribution<double> noise(0.0, 1.0);
    const int steps = 36, points = 37;
    std::vector<std::vector<float>> field(steps, std::vector<float>(points));
    std::vector<float> index(steps);
    for (int t = 0; t < steps; ++t) {
        index[t] = float(3 + 0.04 * t + noise(gen));
        for (int p = 0; p < points; ++p)
            field[t][p] = float(280 + p + (p < 4 ? 8 * std::cos(0.5236 * (t % 12)) : 0) + 0.1 * (p % 3) * t +
                                noise(gen) + 0.5 * index[t]);
    }
    field[6][20] = NAN;
    make_netcdf(dir, "f", monthly_field_cdl(1990, field));
    write_file(dir.file("idx.csv"), dated_csv(1990, index));

    // By hand, in double: each calendar month's mean, then the line of what is left.
    const auto by_hand = [&](std::vector<double> x) {
        for (int m = 0; m < 12; ++m) {
            const double mean = (x[m] + x[m + 12] + x[m + 24]) / 3;
            for (int y = 0; y < 3; ++y) x[m + 12 * y] -= mean;
        }
        double sy = 0, sty = 0, stt = 0;
        for (int t = 0; t < steps; ++t) {
            sy += x[t];
            sty += (t - 17.5) * x[t];
            stt += (t - 17.5) * (t - 17.5);
        }
        for (int t = 0; t < steps; ++t) x[t] -= sy / steps + sty / stt * (t - 17.5);
        return x;
    };
    RunResult r = run_neffmap(dir, {"f.nc", "x", "idx.csv", "a.nc", "--anomalies", "--detrend", "--work", "work"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_EQ(global_text(dir.file("a.nc"), "warning"), "");
    // The work files hold what the chain saw: each series brought by a power of two
    // to a largest magnitude in [0.5, 1).
    const auto unit_scale = [](const std::vector<double>& x) {
        double largest = 0;
        for (double v : x) largest = std::max(largest, std::fabs(v));
        int e = 0;
        std::frexp(largest, &e);
        return std::ldexp(1.0, -e);
    };
    const std::vector<double> y = by_hand({index.begin(), index.end()});
    const ParsedSeries series = parse_series(read_file(dir.file("work/series.dat")));
    ASSERT_EQ(series.pairs.size(), size_t(steps));
    for (int t = 0; t < steps; ++t) EXPECT_NEAR(series.pairs[t].values[0], y[t] * unit_scale(y), 1e-5) << t;
    const auto tiles = tiles_joined(dir);
    const NcVar rmap = read_var(dir.file("a.nc"), "r");
    for (int p = 0; p < points; ++p) {
        if (p == 20) {
            EXPECT_EQ(tiles[1][p], MISSING_VALUE) << "missing where the chain looks";
            EXPECT_EQ(rmap.values[p], rmap.fill);
            continue;
        }
        std::vector<double> x(steps);
        for (int t = 0; t < steps; ++t) x[t] = field[t][p];
        x = by_hand(x);
        const double scale = unit_scale(x);
        double sxy = 0, sxx = 0;
        for (int t = 0; t < steps; ++t) {
            EXPECT_NEAR(tiles[t][p], x[t] * scale, 1e-5) << "point " << p << " step " << t;
            sxy += x[t] * y[t];
            sxx += x[t] * x[t];
        }
        double syy = 0;
        for (double v : y) syy += v * v;
        EXPECT_NEAR(rmap.values[p], sxy / std::sqrt(sxx * syy), 1e-5) << p;
    }

    // The raw values carry the cycle at 4 of the 36 points tested: more than a tenth.
    r = run_neffmap(dir, {"f.nc", "x", "idx.csv", "raw.nc", "--neff", "lag1"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The summary's neff is the one the test used: here the lag-1 value, at most N.
    double least = steps;
    const NcVar lag1 = read_var(dir.file("raw.nc"), "neff_lag1");
    for (float v : lag1.values)
        if (v != lag1.fill) least = std::min(least, double(v));
    const size_t at = r.out.find("neff:      min ");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_NEAR(std::strtod(r.out.c_str() + at + 15, nullptr), least, 0.006) << r.out;
    const std::string says = "11.1 % of the tested points (4 of 36) carry an annual cycle";
    EXPECT_NE(r.err.find("neffmap: warning: " + says), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("warning:   " + says), std::string::npos) << r.out;
    EXPECT_EQ(global_text(dir.file("raw.nc"), "warning").rfind(says, 0), 0u);
}

// A series the chain cannot take is refused with the cause, also when it
// becomes so only once the cycle or the line is taken out.
TEST(NeffmapDates, ASeriesLeftConstantOrNotFiniteIsRefused)
{
    TempDir dir;
    std::vector<std::vector<float>> field(36);
    std::vector<float> cycle(36), line(36), five(36, 5.0f), huge(36);
    for (int t = 0; t < 36; ++t) {
        field[t] = {float(t % 5), float(t % 7), float((t * t) % 11)};
        cycle[t] = 20.0f + float(t % 12) * 0.3f;
        line[t] = 1.0f + 0.1f * float(t);
        huge[t] = t == 0 ? 3.4e38f : t % 12 == 0 ? -3.4e38f : float(t % 4);
    }
    make_netcdf(dir, "f", monthly_field_cdl(1981, field));
    write_file(dir.file("cycle.csv"), dated_csv(1981, cycle));
    write_file(dir.file("line.csv"), dated_csv(1981, line));
    write_file(dir.file("five.csv"), dated_csv(1981, five));
    write_file(dir.file("huge.csv"), dated_csv(1981, huge));
    std::string inf, nan;
    for (int t = 0; t < 36; ++t) {
        inf += pair_bytes(t + 1, 1, 1, {t == 2 ? INFINITY : float(t % 3)});
        nan += pair_bytes(t + 1, 1, 1, {t == 3 ? NAN : float(t % 3)});
    }
    write_file(dir.file("inf.dat"), inf);
    write_file(dir.file("nan.dat"), nan);
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"cycle.csv", "--anomalies"}, "cycle.csv: the series is constant over the paired period 1981-01 … 1983-12 "
                                       "after --anomalies"},
        {{"line.csv", "--detrend"}, "line.csv: the series is constant over the paired period 1981-01 … 1983-12 after "
                                    "--detrend"},
        {{"five.csv"}, "five.csv: the series is constant over the paired period 1981-01 … 1983-12 (every step holds 5)"},
        {{"huge.csv", "--anomalies"}, "huge.csv: the series leaves the range of single precision at paired step 1 "
                                      "(1981-01-01) after --anomalies"},
        {{"inf.dat"}, "inf.dat: step 3 holds +infinity"},
        {{"nan.dat"}, "nan.dat: has a value that is not finite at step 4"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"f.nc", "x", c.args[0], "out.nc"};
        args.insert(args.end(), c.args.begin() + 1, c.args.end());
        const RunResult r = run_neffmap(dir, args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err.rfind("neffmap: " + c.says, 0), 0u) << r.err;
        EXPECT_FALSE(file_exists(dir.file("out.nc")));
    }
    // Before the transforms neither is constant: the cycle is correlated, with a warning.
    const RunResult r = run_neffmap(dir, {"f.nc", "x", "cycle.csv", "out.nc", "--detrend"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("warning: the series"), std::string::npos) << r.err;
}

} // namespace
