// fieldtool under everyday mistakes and failures: outputs that cannot be written
// or that name an input, cut-short NetCDF files, gaps in CSV and NetCDF inputs.
// Every failure must end with status 2, a message naming the cause, and every
// path the user had as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "netcdf_classic_check.hpp"
#include "series_file.hpp"
#include "test_support.hpp"

namespace {

const std::string fieldtool = FIELDTOOL_EXE;

RunResult run_tool(const TempDir& dir, const std::vector<std::string>& args, const RunOptions& options = {})
{
    return run_program(fieldtool, "", dir.path, args, options);
}

// A 3 x 4 grid over two steps, with latitude and longitude.
const char* const GRID_CDL = R"(netcdf grid {
dimensions: time = UNLIMITED ; lat = 3 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ;
  float lat(lat) ; float lon(lon) ;
  float t(time, lat, lon) ;
data:
  time = 0, 1 ; lat = -10, 0, 10 ; lon = 0, 10, 20, 30 ;
  t = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13 ;
}
)";

// Names in the directory that start with a dot: temporary files left behind.
std::string hidden_files(const TempDir& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path))
        if (e.path().filename().string()[0] == '.') names += e.path().filename().string() + " ";
    return names;
}

std::string grid_record()
{
    std::vector<float> v(12);
    for (int p = 0; p < 12; ++p) v[size_t(p)] = float(p) * 0.25f;
    return pair_bytes(NEFF_RECORD_TAG, 4, 3, v);
}

} // namespace

TEST(FieldtoolOutputs, AFailedWriteLeavesTheOldOutputAndNoTemporaryFile)
{
    TempDir dir;
    write_file(dir.file("map"), grid_record());
    ASSERT_EQ(run_tool(dir, {"png", "map", "map.png"}).status, 0);
    ASSERT_EQ(run_tool(dir, {"to-netcdf", "map", "map.nc"}).status, 0);
    const std::string png = read_file(dir.file("map.png")), nc = read_file(dir.file("map.nc"));

    // A file size limit makes the write fail part way; the signal it raises is ignored.
    RunOptions small;
    small.file_size_limit = 100;
    RunResult r;
    for (const char* command : {"png", "to-netcdf"}) {
        const std::string out = std::string("map.") + (command[0] == 'p' ? "png" : "nc");
        r = run_tool(dir, {command, "map", out}, small);
        EXPECT_EQ(r.status, 2) << command << ": " << r.err;
        EXPECT_NE(r.err.find(out + ": File too large"), std::string::npos) << r.err;
    }
    // Record outputs too.
    write_file(dir.file("one.csv"), "1\n2\n3\n4\n5\n6\n7\n8\n"); // 36 bytes a row
    write_file(dir.file("series"), "old");
    r = run_tool(dir, {"from-csv", "one.csv", "series"}, small);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("File too large"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("series")), "old");

    // A bad variable name is found after the file is begun.
    r = run_tool(dir, {"to-netcdf", "map", "map.nc", "--name", "a/b"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("map.nc: defining the variable"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("map.png")), png);
    EXPECT_EQ(read_file(dir.file("map.nc")), nc);
    EXPECT_EQ(hidden_files(dir), "");

    // A full device behind a link: the cause is named and the link stays.
    const std::string full = writable_device(dir, "full");
    std::filesystem::create_symlink(full, dir.file("full.png"));
    r = run_tool(dir, {"png", "map", "full.png"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("full.png: No space left on device"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("full.png")));
    // However long the path, the message holds all of it.
    const std::string deep = std::string(70, 'd') + "/" + std::string(70, 'e');
    std::filesystem::create_directories(dir.file(deep));
    std::filesystem::create_symlink(full, dir.file(deep + "/series"));
    r = run_tool(dir, {"from-csv", "one.csv", deep + "/series"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(" " + deep + "/series: No space left on device"), std::string::npos) << r.err;
    struct stat st;
    ASSERT_EQ(::stat(full.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

TEST(FieldtoolOutputs, APipeBehindDevStdoutIsWrittenAsItIs)
{
    TempDir dir;
    write_file(dir.file("map"), grid_record());
    // A picture's format comes from its name: a link named for it stands for the pipe.
    std::filesystem::create_symlink("/dev/stdout", dir.file("out.png"));
    for (const char* command : {"png", "to-netcdf"}) {
        const std::string out = command[0] == 'p' ? "out.png" : "/dev/stdout";
        const RunResult r =
            run_program("/bin/sh", "", dir.path, {"-c", fieldtool + " " + command + " map " + out + " | wc -c"});
        ASSERT_EQ(r.status, 0) << command << ": " << r.err;
        EXPECT_GT(std::atol(r.out.c_str()), 100) << command;
    }
}

TEST(FieldtoolOutputs, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten)
{
    TempDir dir;
    make_netcdf(dir, "x", GRID_CDL);
    write_file(dir.file("map"), grid_record());
    write_file(dir.file("one.csv"), "1\n2\n");
    std::filesystem::create_hard_link(dir.file("one.csv"), dir.file("same.csv"));
    std::filesystem::create_symlink("map", dir.file("maplink.png"));
    const std::string nc = read_file(dir.file("x.nc")), map = read_file(dir.file("map"));
    const std::vector<std::string> cases[] = {
        {"from-netcdf", "x.nc", "t", "x.nc"},
        {"from-csv", "one.csv", "same.csv"},
        {"png", "map", "maplink.png"},
        {"to-netcdf", "map", "x.nc", "--like", "x.nc", "t"},
    };
    for (const auto& args : cases) {
        const RunResult r = run_tool(dir, args);
        EXPECT_EQ(r.status, 2) << args[0];
        EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(read_file(dir.file("x.nc")), nc);
    EXPECT_EQ(read_file(dir.file("map")), map);
    EXPECT_EQ(read_file(dir.file("same.csv")), "1\n2\n");
}

TEST(FieldtoolOutputs, ErrorsNameTheRealCause)
{
    TempDir dir;
    make_netcdf(dir, "grid", GRID_CDL);
    write_file(dir.file("map"), grid_record());
    write_file(dir.file("one.csv"), "1\n2\n");
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_directory(dir.file("sub.png"));
    // The record is 4 columns x 3 rows; this one claims 3 columns x 4 rows.
    std::vector<float> v(12, 1.0f);
    write_file(dir.file("turned"), pair_bytes(1, 3, 4, v));
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"png", "map", "nowhere/map.png"}, "nowhere/map.png: its directory nowhere does not exist"},
        {{"to-netcdf", "map", "nowhere/map.nc"}, "nowhere/map.nc: its directory nowhere does not exist"},
        {{"png", "map", "sub.png"}, "sub.png: is a directory"},
        {{"to-netcdf", "map", "sub"}, "sub: is a directory"},
        {{"from-csv", "one.csv", "sub"}, "sub: is a directory"},
        {{"to-netcdf", "turned", "o.nc", "--like", "grid.nc", "t"}, "is not the record's 4 rows × 3 columns"},
    };
    for (const Case& c : cases) {
        const RunResult r = run_tool(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_FALSE(file_exists(dir.file("o.nc")));

    const std::string full = writable_device(dir, "full");
    for (const char* help : {"--help", "png --help"}) {
        const RunResult r = run_program("/bin/sh", "", dir.path, {"-c", fieldtool + " " + help + " > " + full});
        EXPECT_EQ(r.status, 2) << help;
        EXPECT_NE(r.err.find("standard output: No space left on device"), std::string::npos) << r.err;
    }
}

TEST(FieldtoolNetcdfInput, CutShortAndDamagedClassicFilesAreRefused)
{
    TempDir dir;
    for (const char* kind : {"classic", "64-bit-offset", "cdf5"}) {
        make_netcdf(dir, "whole", GRID_CDL, kind);
        RunResult r = run_tool(dir, {"from-netcdf", "whole.nc", "t", "whole"});
        ASSERT_EQ(r.status, 0) << kind << ": " << r.err;
        const std::string bytes = read_file(dir.file("whole.nc"));
        // The last value of the last step is gone.
        write_file(dir.file("cut.nc"), bytes.substr(0, bytes.size() - 4));
        r = run_tool(dir, {"from-netcdf", "cut.nc", "t", "o"});
        EXPECT_EQ(r.status, 2) << kind;
        EXPECT_NE(r.err.find("cut.nc: is cut short: its header describes " + std::to_string(bytes.size()) +
                             " bytes, the file holds " + std::to_string(bytes.size() - 4)),
                  std::string::npos)
            << r.err;
        EXPECT_FALSE(file_exists(dir.file("o")));
        r = run_tool(dir, {"png", "whole", "o.png", "--like", "cut.nc", "t"});
        EXPECT_NE(r.err.find("is cut short"), std::string::npos) << "templates are checked too: " << r.err;
    }
    // A dimension count far beyond the file's length (at byte 12 of a CDF-1
    // header) makes nc_open itself crash; it is refused before it gets there.
    make_netcdf(dir, "whole", GRID_CDL);
    std::string bytes = read_file(dir.file("whole.nc"));
    ASSERT_EQ(bytes.substr(8, 8), std::string("\0\0\0\x0a\0\0\0\x03", 8)) << "dimension list of 3";
    bytes.replace(12, 4, "\x7f\xff\xff\xff");
    write_file(dir.file("damaged.nc"), bytes);
    const RunResult r = run_tool(dir, {"from-netcdf", "damaged.nc", "t", "o"});
    EXPECT_EQ(r.status, 2);
    EXPECT_FALSE(r.signalled);
    EXPECT_NE(r.err.find("damaged.nc: a damaged classic NetCDF header"), std::string::npos) << r.err;
}

TEST(FieldtoolNetcdfInput, AnExplicitFillValueReplacesTheDefault)
{
    TempDir dir;
    // -32767 is netCDF's default short fill and 9.96921e36 its default float
    // fill; with a _FillValue of their own both are data here.
    make_netcdf(dir, "fill", "netcdf fill { dimensions: time = 2 ; x = 3 ;\n"
                             "variables: short a(time, x) ; a:_FillValue = -999s ;\n"
                             "  float b(time, x) ; b:_FillValue = -1.f ;\n"
                             "data: a = -999, -32767, 5, 6, 7, 8 ;\n"
                             "  b = 9.96921e+36, 2, -1, 4, 5, 6 ; }\n");
    RunResult r = run_tool(dir, {"from-netcdf", "fill.nc", "a", "a"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("a")),
              pair_bytes(1, 3, 1, {MISSING_VALUE, -32767, 5}) + pair_bytes(2, 3, 1, {MISSING_VALUE, 7, 8}));
    r = run_tool(dir, {"from-netcdf", "fill.nc", "b", "b"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("b")),
              pair_bytes(1, 3, 1, {9.96921e+36f, 2, MISSING_VALUE}) + pair_bytes(2, 3, 1, {4, 5, MISSING_VALUE}));
}

TEST(FieldioClassicHeader, DataEndIsTheFileLengthOfEveryClassicKind)
{
    TempDir dir;
    // Record variables of odd sizes (padded when there are several), a lone one
    // (not padded), and a fixed variable after them.
    const std::string several = "netcdf s { dimensions: time = UNLIMITED ; x = 3 ;\n"
                                "variables: short a(time, x) ; byte b(time) ; double c(x) ;\n"
                                "data: a = 1, 2, 3, 4, 5, 6, 7, 8, 9 ; b = 1, 2, 3 ; c = 1, 2, 3 ; }\n";
    const std::string lone = "netcdf l { dimensions: time = UNLIMITED ; x = 3 ;\n"
                             "variables: short a(time, x) ; float q(x) ;\n"
                             "data: a = 1, 2, 3, 4, 5, 6, 7, 8, 9 ; q = 1, 2, 3 ; }\n";
    for (const char* kind : {"classic", "64-bit-offset", "cdf5"})
        for (const std::string& cdl : {several, lone}) {
            make_netcdf(dir, "h", cdl, kind);
            const std::string bytes = read_file(dir.file("h.nc"));
            uint64_t end = 0;
            char why[160];
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
            ASSERT_EQ(classic_data_end(p, bytes.size(), bytes.size(), end, why), ClassicHeader::ok) << why;
            // The file ends with the last value, padded to a multiple of 4 bytes.
            EXPECT_LE(end, bytes.size()) << kind << "\n" << cdl;
            EXPECT_GT(end + 4, bytes.size()) << kind << "\n" << cdl;
            // Only the first 16 bytes: the rest of the header is asked for.
            EXPECT_EQ(classic_data_end(p, 16, bytes.size(), end, why), ClassicHeader::incomplete);
        }
}

TEST(FieldtoolCsvRun, GapsAndHeadersKeepEveryRowInPlace)
{
    TempDir dir;
    write_file(dir.file("gap.csv"), "1\n\n3\n-nan\n5\n\n\n");
    RunResult r = run_tool(dir, {"from-csv", "gap.csv", "o"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("gap.csv: step 2 has no value"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("2 of 5 steps are missing"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--allow-missing"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir.file("o")));

    // Blank lines after the last row are not rows.
    r = run_tool(dir, {"from-csv", "gap.csv", "o", "--allow-missing"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir.file("o")), pair_bytes(1, 1, 1, {1}) + pair_bytes(2, 1, 1, {MISSING_VALUE}) +
                                            pair_bytes(3, 1, 1, {3}) + pair_bytes(4, 1, 1, {MISSING_VALUE}) +
                                            pair_bytes(5, 1, 1, {5}));

    // A first line of numbers is data, whatever their range.
    write_file(dir.file("big.csv"), "1e400\n2\n");
    r = run_tool(dir, {"from-csv", "big.csv", "o2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("big.csv: line 1: \"1e400\" is outside the range of single precision"), std::string::npos)
        << r.err;
    // An infinite value is no value a correlation can take.
    write_file(dir.file("pairs.csv"), "1990,0.5\n1991,-inf\n");
    r = run_tool(dir, {"from-csv", "pairs.csv", "o3", "--column", "2"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("pairs.csv: line 2: \"-inf\" is not a finite value"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir.file("o3")));
}
