// Damaged netCDF-4 inputs: a bit flipped in a small file ncgen writes makes
// libhdf5 crash or loop for ever inside netCDF's reading of the header. fieldtool
// and neffmap, for the field and for a NetCDF series alike, end with one line
// that names the file and status 2: never a signal, never a wait without end.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "test_support.hpp"

namespace {

const char* const SMALL_CDL = R"(netcdf small {
dimensions:
  time = UNLIMITED ; lat = 3 ; lon = 4 ;
variables:
  double time(time) ; time:units = "days since 1990-01-01" ;
  float lat(lat) ; lat:units = "degrees_north" ;
  float lon(lon) ; lon:units = "degrees_east" ;
  float t(time, lat, lon) ; t:_FillValue = -999.f ; t:long_name = "temperature" ;
  float idx(time) ;
data:
  time = 0, 1, 2, 3, 4, 5 ;
  lat = -10, 0, 10 ;
  lon = 0, 90, 180, 270 ;
  t = 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
      2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
      3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8,
      9, 7, 9, 3, 2, 3, 8, 4, 6, 2, 6, 4,
      3, 3, 8, 3, 2, 7, 9, 5, 0, 2, 8, 8,
      4, 1, 9, 7, 1, 6, 9, 3, 9, 9, 3, 7 ;
  idx = 0.5, -1.5, 2, 1, -0.5, 3 ;
}
)";

RunResult run_with_limit(const TempDir& dir, const std::string& exe, std::vector<std::string> args)
{
    args.insert(args.begin(), {"FIELDNEFF_OPEN_TIMEOUT=2", exe});
    RunOptions options;
    options.timeout_seconds = 30;
    return run_program("/usr/bin/env", "", dir.path, args, options);
}

} // namespace

TEST(DamagedNetcdf4, ACrashOrAHangInTheLibraryEndsTheRunWithOneLine)
{
    TempDir dir;
    make_netcdf(dir, "good", SMALL_CDL, "nc4");
    const std::string good = read_file(dir.file("good.nc"));
    // The global heap holds the variables' dimension lists, which netCDF reads
    // for every variable it is asked about.
    const size_t heap = good.find("GCOL");
    ASSERT_NE(heap, std::string::npos) << "no global heap in ncgen's netCDF-4 file";
    const struct Damage {
        const char* kind;
        size_t byte; // after the heap's signature, flipped whole
        const char* says;
    } damages[] = {
        {"crash", 98, "crashed the netCDF library: the netCDF-4 file is damaged"},
        {"hang", 24, "did not end within 2 s, so the netCDF-4 file is damaged or its disk very slow"},
    };
    const struct Run {
        std::string program, exe;
        std::vector<std::string> args;
        std::string output;
    } runs[] = {
        {"fieldtool", FIELDTOOL_EXE, {"from-netcdf", "bad.nc", "t", "out.dat"}, "out.dat"},
        {"neffmap", NEFFMAP_EXE, {"bad.nc", "t", "good.nc:idx", "map.nc"}, "map.nc"},
        {"neffmap", NEFFMAP_EXE, {"good.nc", "t", "bad.nc:idx", "map.nc"}, "map.nc"},
    };
    for (const Run& run : runs) {
        std::vector<std::string> args = run.args;
        for (std::string& a : args)
            if (a.rfind("bad.nc", 0) == 0) a.replace(0, 3, "good");
        const RunResult r = run_with_limit(dir, run.exe, args);
        EXPECT_EQ(r.status, 0) << run.program << " on the undamaged file: " << r.err;
        std::filesystem::remove(dir.file(run.output));
    }
    for (const Damage& d : damages) {
        std::string bytes = good;
        bytes[heap + d.byte] = char(~bytes[heap + d.byte]);
        write_file(dir.file("bad.nc"), bytes);
        // The damage is real: netCDF's own ncdump dies on the file, or never ends.
        RunOptions quick;
        quick.timeout_seconds = 3;
        const RunResult dump = run_program(NCDUMP_EXE, "", dir.path, {"-h", "bad.nc"}, quick);
        EXPECT_TRUE(std::string(d.kind) == "crash" ? dump.signalled : dump.timed_out) << d.kind << ": " << dump.status;
        for (const Run& run : runs) {
            const std::string what = std::string(d.kind) + ": " + run.program + " " + run.args[0] + " " + run.args[2];
            const RunResult r = run_with_limit(dir, run.exe, run.args);
            EXPECT_EQ(r.status, 2) << what;
            EXPECT_FALSE(r.signalled || r.timed_out) << what;
            EXPECT_EQ(r.err.rfind(run.program + ": bad.nc: ", 0), 0u) << what << ": " << r.err;
            EXPECT_NE(r.err.find(d.says), std::string::npos) << what << ": " << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
            EXPECT_FALSE(file_exists(dir.file(run.output))) << what;
        }
    }
}
