// fieldtool run as a user runs it, on files made by hand, by ncgen and by lagscan.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string fieldtool = FIELDTOOL_EXE;

RunResult run_tool(const TempDir& dir, const std::vector<std::string>& args) { return run_program(fieldtool, "", dir.path, args); }

// A packed short field on a 3 x 4 grid with a fill value, over three months.
const char* const SST_CDL = R"(netcdf sst {
dimensions:
  time = UNLIMITED ; lat = 3 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ;
  float lat(lat) ; lat:units = "degrees_north" ; lat:standard_name = "latitude" ;
  float lon(lon) ; lon:units = "degrees_east" ;
  short sst(time, lat, lon) ;
    sst:_FillValue = -32767s ; sst:scale_factor = 0.01f ; sst:add_offset = 20.f ;
  float mask(lat, lon) ;
  float total ;
data:
  time = 0, 31, 59 ;
  lat = -10, 0, 10 ;
  lon = 100, 110, 120, 130 ;
  sst = 0, 100, 200, 300, 400, 500, 600, 700, 800, 900, -32767, 1100,
        1, 2, 3, 4, 5, 6, 7, 8, 9, 10, _, 12,
        -100, -200, -300, -400, -500, -600, -700, -800, -900, -1000, -32767, -1200 ;
  mask = 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 1 ;
  total = 3 ;
}
)";

float unpacked(int stored) { return float(stored * double(0.01f) + 20.0); }

// What from-netcdf must write for SST_CDL, built from the CDL's numbers.
std::string sst_records()
{
    const int raw[3][12] = {{0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 0, 1100},
                            {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0, 12},
                            {-100, -200, -300, -400, -500, -600, -700, -800, -900, -1000, 0, -1200}};
    std::string s;
    for (int t = 0; t < 3; ++t) {
        std::vector<float> v;
        for (int p = 0; p < 12; ++p) v.push_back(p == 10 ? MISSING_VALUE : unpacked(raw[t][p]));
        s += framed(header_payload(t + 1, 4, 3, 12)) + framed(floats_payload(v));
    }
    return s;
}

std::vector<float> nc_floats(int ncid, const char* var, size_t n)
{
    int varid;
    EXPECT_EQ(nc_inq_varid(ncid, var, &varid), NC_NOERR) << var;
    std::vector<float> v(n);
    EXPECT_EQ(nc_get_var_float(ncid, varid, v.data()), NC_NOERR) << var;
    return v;
}

} // namespace

TEST(FieldtoolCsvRun, ColumnBecomesSeriesAndDumpsBackToTheSameFloats)
{
    TempDir dir;
    write_file(dir.file("index.csv"), "year,\"nino 3.4\",pdo\r\n1990,0.1,1\r\n1991,,2\r\n\r\n1992,NaN,3\r\n"
                                      "1993,-1.7e-3,4\r\n1994,3.4028234e38,5\r\n");
    RunResult r = run_tool(dir, {"from-csv", "index.csv", "byname", "--column", "nino 3.4", "--allow-missing"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("index.csv: note: 2 of 5 steps are missing"), std::string::npos) << r.err;
    const std::vector<float> want = {0.1f, MISSING_VALUE, MISSING_VALUE, -1.7e-3f, 3.4028234e38f};
    std::string bytes;
    for (size_t t = 0; t < want.size(); ++t) bytes += pair_bytes(int32_t(t + 1), 1, 1, {want[t]});
    EXPECT_EQ(read_file(dir.file("byname")), bytes);

    r = run_tool(dir, {"from-csv", "index.csv", "byindex", "--allow-missing", "--column", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("byindex")), bytes);

    r = run_tool(dir, {"dump", "byname", "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::istringstream rows(r.out);
    std::string row;
    size_t t = 0;
    for (; std::getline(rows, row); ++t) {
        ASSERT_LT(t, want.size());
        const std::string prefix = std::to_string(t + 1) + ",1,1,1,";
        ASSERT_EQ(row.compare(0, prefix.size(), prefix), 0) << row;
        EXPECT_EQ(bits(std::strtof(row.c_str() + prefix.size(), nullptr)), bits(want[t])) << row;
    }
    EXPECT_EQ(t, want.size());
}

TEST(FieldtoolCsvRun, BadInputsNameTheFileAndTheCause)
{
    TempDir dir;
    write_file(dir.file("bad.csv"), "a,b\n1,2\n3,x7\n");
    write_file(dir.file("one.csv"), "5\n6\n");
    std::string many;
    for (int i = 0; i < 2001; ++i) many += std::to_string(i) + "\n";
    write_file(dir.file("long.csv"), many);
    std::string wide = "0";
    for (int i = 1; i < 1030; ++i) {
        wide += ',';
        wide += std::to_string(i);
    }
    write_file(dir.file("wide.csv"), wide + "\n");
    std::string names = "c0", values = "0";
    for (int i = 1; i < 1100; ++i) {
        names += ",c";
        names += std::to_string(i);
        values += ',';
        values += std::to_string(i);
    }
    write_file(dir.file("named.csv"), names + "\n" + values + "\n");
    write_file(dir.file("nul.csv"), std::string("a,b\n1,2\n2\0\n3,4\n", 15));
    write_file(dir.file("twice.csv"), "x,x\n1,2\n3,4\n");
    write_file(dir.file("cell.csv"), "v\n1\n" + std::string(5000, '9') + "\n");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"from-csv", "bad.csv", "o", "--column", "b"}, "bad.csv: step 2 has no value"},
        {{"from-csv", "bad.csv", "o"}, "2 columns (1 \"a\", 2 \"b\"): choose one"},
        {{"from-csv", "bad.csv", "o", "--column", "c"}, "no column named \"c\""},
        {{"from-csv", "bad.csv", "o", "--column", "3"}, "there is no column 3"},
        {{"from-csv", "one.csv", "o", "--column", "x"}, "no header line"},
        {{"from-csv", "long.csv", "o"}, "holds 2001 steps; lagscan reads at most 2000"},
        {{"from-csv", "long.csv", "o", "--steps", "3:1"}, "--steps: 3:1 ends before it starts"},
        {{"from-csv", "wide.csv", "o", "--column", "1031"}, "there is no column 1031 (the file has 1030)"},
        {{"from-csv", "nul.csv", "o", "--column", "b"}, "nul.csv: line 3 holds a NUL byte"},
        {{"from-csv", "twice.csv:x", "o"}, "the name \"x\" heads columns 1 and 2: choose one by its number"},
        {{"from-csv", "cell.csv", "o"}, "line 3: \"" + std::string(77, '9') + "…\" is outside the range"},
        {{"from-csv", "absent.csv", "o"}, "absent.csv: No such file or directory"},
        {{"from-csv", "one.csv"}, "OUT is required"},
        {{"from-csv", "one.csv", "o", "--flip"}, "not expected: --flip"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_tool(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_LT(r.err.size(), 400u) << "one short line";
        EXPECT_FALSE(file_exists(dir.file("o"))) << "nothing is written for " << c.says;
    }
    // Any column, by number or by name; a selection of a long series.
    for (const auto& [args, value] :
         {std::pair{std::vector<std::string>{"from-csv", "wide.csv", "o1", "--column", "1030"}, 1029.0f},
          std::pair{std::vector<std::string>{"from-csv", "named.csv:c1099", "o2"}, 1099.0f},
          std::pair{std::vector<std::string>{"from-csv", "named.csv", "o3", "--column", "c1029"}, 1029.0f},
          std::pair{std::vector<std::string>{"from-csv", "long.csv", "o4", "--steps", "1001:"}, 1000.0f}}) {
        const RunResult r = run_tool(dir, args);
        ASSERT_EQ(r.status, 0) << r.err;
        const ParsedSeries p = parse_series(read_file(dir.file(args[2])));
        ASSERT_TRUE(p.ok && !p.pairs.empty()) << args[2];
        EXPECT_EQ(p.pairs[0].values, std::vector<float>{value}) << args[2];
        EXPECT_EQ(p.pairs.size(), args[2] == "o4" ? 1001u : 1u);
    }
}

TEST(FieldtoolNetcdfRun, NcgenFieldBecomesRecordsAndGoesBackOnItsGrid)
{
    TempDir dir;
    make_netcdf(dir, "sst", SST_CDL);
    RunResult r = run_tool(dir, {"from-netcdf", "sst.nc", "sst", "field"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(same_series(sst_records(), read_file(dir.file("field"))));

    r = run_tool(dir, {"to-netcdf", "field", "back.nc", "--like", "sst.nc", "sst", "--record", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    int nc;
    ASSERT_EQ(nc_open(dir.file("back.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    int varid, ndims, dims[2];
    ASSERT_EQ(nc_inq_varid(nc, "value", &varid), NC_NOERR);
    ASSERT_EQ(nc_inq_var(nc, varid, nullptr, nullptr, &ndims, dims, nullptr), NC_NOERR);
    ASSERT_EQ(ndims, 2);
    char name[NC_MAX_NAME + 1];
    size_t len;
    ASSERT_EQ(nc_inq_dim(nc, dims[0], name, &len), NC_NOERR);
    EXPECT_EQ(std::string(name) + "=" + std::to_string(len), "lat=3");
    ASSERT_EQ(nc_inq_dim(nc, dims[1], name, &len), NC_NOERR);
    EXPECT_EQ(std::string(name) + "=" + std::to_string(len), "lon=4");
    EXPECT_EQ(nc_floats(nc, "lat", 3), (std::vector<float>{-10, 0, 10}));
    EXPECT_EQ(nc_floats(nc, "lon", 4), (std::vector<float>{100, 110, 120, 130}));
    int latid;
    ASSERT_EQ(nc_inq_varid(nc, "lat", &latid), NC_NOERR);
    char units[32] = {};
    ASSERT_EQ(nc_get_att_text(nc, latid, "units", units), NC_NOERR);
    EXPECT_STREQ(units, "degrees_north");
    float fill = 0;
    ASSERT_EQ(nc_get_att_float(nc, varid, "_FillValue", &fill), NC_NOERR);
    const std::vector<float> got = nc_floats(nc, "value", 12);
    const ParsedSeries field = parse_series(read_file(dir.file("field")));
    ASSERT_EQ(field.pairs.size(), 3u);
    for (size_t p = 0; p < 12; ++p) {
        const float v = field.pairs[2].values[p];
        EXPECT_EQ(bits(got[p]), bits(v == MISSING_VALUE ? fill : v)) << p;
    }
    EXPECT_EQ(bits(got[10]), bits(fill));
    nc_close(nc);

    // An ordinary file: other tools can change it.
    r = run_program(NCATTED_EXE, "", dir.path, {"-a", "title,global,c,c,annotated", "back.nc"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(FieldtoolNetcdfRun, MissingValueListAndNanOfAFloatVariable)
{
    TempDir dir;
    make_netcdf(dir, "st", "netcdf st { dimensions: time = 2 ; station = 3 ;\n"
                           "variables: float anom(time, station) ; anom:missing_value = -999.f ;\n"
                           "data: anom = 1.5, NaNf, -999, -0.25, 2, 3 ; }\n");
    const RunResult r = run_tool(dir, {"from-netcdf", "st.nc", "anom", "out"});
    ASSERT_EQ(r.status, 0) << r.err;
    // One grid dimension: it gives the columns, and there is one row. Stations 2
    // and 3 miss step 1, so they are marked missing at step 2 as well.
    EXPECT_EQ(read_file(dir.file("out")), pair_bytes(1, 3, 1, {1.5f, MISSING_VALUE, MISSING_VALUE}) +
                                              pair_bytes(2, 3, 1, {-0.25f, MISSING_VALUE, MISSING_VALUE}));
    EXPECT_NE(r.err.find("st.nc: note: 2 of 3 points miss at least one time step"), std::string::npos) << r.err;
}

TEST(FieldtoolNetcdfRun, BadVariablesAndOversizedFieldsAreRefusedWithAWayOut)
{
    TempDir dir;
    make_netcdf(dir, "sst", SST_CDL);
    std::string steps = "netcdf long { dimensions: time = UNLIMITED ; x = 1 ;\nvariables: float v(time, x) ;\ndata: v = 0";
    for (int i = 1; i < 2001; ++i) steps += ", " + std::to_string(i % 7);
    make_netcdf(dir, "long", steps + " ; }\n");
    make_netcdf(dir, "wide", "netcdf wide { dimensions: time = 1 ; lat = 101 ; lon = 100 ;\n"
                             "variables: float v(time, lat, lon) ; }\n");
    write_file(dir.file("text.nc"), "this is not a NetCDF file\n");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"from-netcdf", "sst.nc", "sss", "o"}, "no variable named \"sss\" (variables: time, lat, lon, sst, mask, total)"},
        {{"from-netcdf", "sst.nc", "mask", "o"}, "the first, \"lat\", is not time"},
        {{"from-netcdf", "sst.nc", "total", "o"}, "\"total\" has 0 dimensions"},
        {{"from-netcdf", "long.nc", "v", "o"}, "has 2001 time steps; at most 2000 fit, so take a shorter period first, "
                                               "for example ncks -d time,0,1999"},
        {{"from-netcdf", "wide.nc", "v", "o"}, "has 10100 grid points; at most 10000 fit"},
        {{"from-netcdf", "wide.nc", "v", "o"}, "ncks -d lat,FIRST,LAST -d lon,FIRST,LAST"},
        {{"from-netcdf", "text.nc", "v", "o"}, "text.nc: cannot open as NetCDF"},
        {{"to-netcdf", "absent", "o"}, "absent: No such file or directory"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_tool(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(dir.file("o"))) << c.says;
    }
    // A template whose grid does not fit the record is refused before any output exists.
    write_file(dir.file("five"), pair_bytes(1, 5, 1, {1, 2, 3, 4, 5}));
    const RunResult r = run_tool(dir, {"to-netcdf", "five", "o.nc", "--like", "sst.nc", "sst"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("has 12 points, the record has 5"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir.file("o.nc")));
}

TEST(FieldtoolNetcdfRun, GridShapeSurvivesLagscanAndShapesTheOutput)
{
    TempDir dir;
    make_netcdf(dir, "sst", SST_CDL);
    ASSERT_EQ(run_tool(dir, {"from-netcdf", "sst.nc", "sst", "field"}).status, 0);
    const RunResult lag = run_program(LAGSCAN_EXE, "field\naut\n", dir.path);
    ASSERT_EQ(lag.status, 0) << lag.err;
    RunResult r = run_tool(dir, {"to-netcdf", "aut", "aut.nc", "--record", "2", "--name", "acf"});
    ASSERT_EQ(r.status, 0) << r.err;
    int nc, varid, ndims, dims[2], header[4];
    size_t rows, cols;
    ASSERT_EQ(nc_open(dir.file("aut.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    ASSERT_EQ(nc_inq_varid(nc, "acf", &varid), NC_NOERR);
    ASSERT_EQ(nc_inq_var(nc, varid, nullptr, nullptr, &ndims, dims, nullptr), NC_NOERR);
    ASSERT_EQ(ndims, 2);
    ASSERT_EQ(nc_inq_dimlen(nc, dims[0], &rows), NC_NOERR);
    ASSERT_EQ(nc_inq_dimlen(nc, dims[1], &cols), NC_NOERR);
    EXPECT_EQ(rows, 3u);
    EXPECT_EQ(cols, 4u);
    ASSERT_EQ(nc_get_att_int(nc, varid, "record_header", header), NC_NOERR);
    EXPECT_EQ(header[0], 2) << "lag 2";
    nc_close(nc);

    // Without a grid shape in W2 x W3 the variable has one dimension.
    write_file(dir.file("neff"), pair_bytes(NEFF_RECORD_TAG, 2, 2, {7, 8, 9}));
    r = run_tool(dir, {"to-netcdf", "neff", "neff.nc"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(nc_open(dir.file("neff.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    ASSERT_EQ(nc_inq_varid(nc, "neff", &varid), NC_NOERR);
    ASSERT_EQ(nc_inq_varndims(nc, varid, &ndims), NC_NOERR);
    EXPECT_EQ(ndims, 1);
    EXPECT_EQ(nc_floats(nc, "neff", 3), (std::vector<float>{7, 8, 9}));
    nc_close(nc);
}

TEST(FieldtoolInfoRun, CountsAndRangeOfAMixedFile)
{
    TempDir dir;
    const float inf = INFINITY;
    write_file(dir.file("mixed"), pair_bytes(1, 2, 3, {4, MISSING_VALUE, NAN, 1}) +
                                      pair_bytes(9, 8, 7, {-inf, 2.5f, inf, 3, 10, MISSING_VALUE, 6}));
    RunResult r = run_tool(dir, {"info", "mixed"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* line : {"record pairs: 2\n", "first header: W1=1 W2=2 W3=3 W4=4\n",
                             "last header:  W1=9 W2=8 W3=7 W4=7\n", "W4 varies: yes\n", "values: 11\n",
                             "minimum: 1\n", "median: 3.5\n", "maximum: 10\n", "MISSING_VALUE: 2\n", "NaN: 1\n",
                             "+inf: 1\n", "-inf: 1\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << " in\n" << r.out;

    write_file(dir.file("odd"), field_bytes({{5}, {1}, {3}}));
    r = run_tool(dir, {"info", "odd"});
    EXPECT_NE(r.out.find("median: 3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("W4 varies: no\n"), std::string::npos) << r.out;

    write_file(dir.file("torn"), pair_bytes(1, 0, 0, {1, 2}).substr(0, 30));
    r = run_tool(dir, {"info", "torn"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("fieldtool: torn: "), std::string::npos) << r.err;
}
