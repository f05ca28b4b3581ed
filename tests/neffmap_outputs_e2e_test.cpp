// neffmap's outputs under a user's mistakes, failures, interrupts and kills:
// no output lands on an input or on another output, a run that does not finish
// leaves every old file as it was and no temporary file, nothing runs on after
// the process is gone, --work keeps to directories of its own, and the map is
// an ordinary NetCDF file that other tools can change.
#include <gtest/gtest.h>
#include <netcdf.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "neffmap_runs.hpp"
#include "test_support.hpp"

namespace {

const std::string neffmap = NEFFMAP_EXE;




// Names starting with a dot in a directory: temporary files left behind.
std::string hidden_files(const std::string& dir)
{
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string()[0] == '.') names += e.path().filename().string() + " ";
    return names;
}

// A directory tree as "name:bytes" lines, to see that nothing in it changed.
std::string tree_of(const std::string& dir)
{
    std::vector<std::string> lines;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        lines.push_back(e.path().string().substr(dir.size()) + ":" +
                        (e.is_regular_file() ? read_file(e.path().string()) : std::string("(dir)")));
    std::sort(lines.begin(), lines.end());
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

bool is_complete_map(const std::string& path)
{
    int nc;
    if (nc_open(path.c_str(), NC_NOWRITE, &nc) != NC_NOERR) return false;
    double p_fdr;
    long long tested = 0;
    const bool ok = nc_get_att_double(nc, NC_GLOBAL, "p_FDR", &p_fdr) == NC_NOERR &&
                    nc_get_att_longlong(nc, NC_GLOBAL, "points_tested", &tested) == NC_NOERR && tested > 0;
    nc_close(nc);
    return ok;
}

// neffmap started in the background, in a process group of its own.
pid_t start_neffmap(const TempDir& dir, const std::vector<std::string>& args)
{
    std::vector<std::string> words = neffmap_words(dir, args);
    const std::string err = dir.file("run.err");
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setpgid(0, 0);
        if (::chdir(dir.path.c_str()) != 0) ::_exit(127);
        const int out = ::open("/dev/null", O_WRONLY);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        ::execv("/usr/bin/env", argv.data());
        ::_exit(127);
    }
    return pid;
}

int wait_for(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void sleep_seconds(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// A small field on two tiles, and its index as CSV and as a record file.
void small_inputs(const TempDir& dir)
{
    generate(dir, {"--lon", "120", "--lat", "100", "--steps", "40", "--series-phi", "0.5", "--field-phi", "0.5",
                   "--region-r", "0.5", "f.nc", "idx.csv"});
}

} // namespace

TEST(NeffmapOutputs, NoOutputLandsOnAnInputOrOnAnotherOutput)
{
    TempDir dir;
    small_inputs(dir);
    const RunResult first = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--quiet"});
    ASSERT_EQ(first.status, 0) << first.err;
    std::string series;
    for (int t = 0; t < 40; ++t) series += pair_bytes(t + 1, 1, 1, {0.1f * float(t % 7)});
    write_file(dir.file("idx.dat"), series);
    std::filesystem::create_symlink("f.nc", dir.file("link.nc"));
    std::filesystem::create_symlink("f.nc", dir.file("link.png"));
    std::filesystem::create_symlink("map.nc", dir.file("map.png"));
    std::filesystem::create_hard_link(dir.file("f.nc"), dir.file("hard.nc"));
    const std::string field = read_file(dir.file("f.nc")), index = read_file(dir.file("idx.dat"));
    const struct {
        std::vector<std::string> args;
        std::string file, says;
    } cases[] = {
        {{"f.nc", "field", "idx.csv:index", "f.nc"}, "f.nc", "is the input f.nc itself"},
        {{"f.nc", "field", "idx.csv:index", "link.nc"}, "link.nc", "is the input f.nc itself"},
        {{"f.nc", "field", "idx.csv:index", "hard.nc"}, "hard.nc", "is the input f.nc itself"},
        {{"f.nc", "field", "idx.dat", "idx.dat"}, "idx.dat", "is the input idx.dat itself"},
        {{"f.nc", "field", "idx.csv:index", "new.nc", "--png", "link.png"}, "link.png", "is the input f.nc itself"},
        {{"f.nc", "field", "idx.csv:index", "new.svg", "--picture", "new.svg"}, "new.svg",
         "names the same file as the output"},
        {{"f.nc", "field", "idx.csv:index", "new.svg", "--png", "./new.svg"}, "./new.svg",
         "names the same file as the output new.svg"},
        {{"f.nc", "field", "idx.csv:index", "map.nc", "--picture", "map.png"}, "map.png",
         "names the same file as the output"},
        {{"f.nc", "field", "idx.csv:index", "new.nc", "--work", "new.nc"}, "new.nc", "names the same file as the output"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_neffmap(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err.rfind("neffmap: " + c.file + ": ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    // The standard output redirected onto the field, as a shell does it.
    const RunResult r = run_program("/bin/sh", "", dir.path,
                                    {"-c", neffmap + " f.nc field idx.csv:index /dev/stdout --quiet >> f.nc"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/dev/stdout: is the input f.nc itself"), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(dir.file("f.nc")) == field);
    EXPECT_TRUE(read_file(dir.file("idx.dat")) == index);
    EXPECT_FALSE(file_exists(dir.file("new.nc")));
    EXPECT_FALSE(file_exists(dir.file("new.svg")));
    EXPECT_EQ(hidden_files(dir.path), "");
}

TEST(NeffmapOutputs, ABadOutputNameFailsBeforeAnyInputIsOpened)
{
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    std::filesystem::create_directory(dir.file("sub.png"));
    write_file(dir.file("map.nc"), "an older map");
    // The field does not exist: an error about the output shows it was checked first.
    const struct {
        std::vector<std::string> args;
        std::string file, says;
    } cases[] = {
        {{"absent.nc", "field", "idx.csv", "sub"}, "sub", "is a directory"},
        {{"absent.nc", "field", "idx.csv", "sub/"}, "sub/", "is a directory"},
        {{"absent.nc", "field", "idx.csv", std::string(256, 'n') + ".nc"}, std::string(256, 'n') + ".nc",
         "File name too long"},
        {{"absent.nc", "field", "idx.csv", ""}, "\"\"", "is an empty name"},
        {{"absent.nc", "field", "idx.csv", "none/map.nc"}, "none/map.nc", "its directory none does not exist"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--png", "sub.png"}, "sub.png", "is a directory"},
        // The picture's name, size and range, before anything else.
        {{"absent.nc", "field", "idx.csv", "map.nc", "--picture", "map.jpg"}, "map.jpg",
         "a picture's name must end in .png, .svg or .pdf"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--png", "sub"}, "sub", "must end in .png, .svg or .pdf"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--picture", ""}, "\"\"", "is an empty name"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--picture", "m.png", "--size", "9x900"}, "--size",
         "each side must be 64"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--picture", "m.png", "--size", "30000x30000"}, "m.png",
         "more than 512 MiB"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--picture", "m.png", "--png-var", "p", "--range", "0:1"},
         "--range", "log scale"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--size", "900x600"}, "--size", "without --picture"},
        {{"absent.nc", "field", "idx.csv", "map.nc", "--stipple", "local"}, "--stipple", "without --picture"},
    };
    for (const auto& c : cases) {
        const RunResult r = run_neffmap(dir, c.args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_EQ(r.err.rfind("neffmap: " + c.file + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_EQ(hidden_files(dir.path), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("sub")));
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("sub.png")));
    EXPECT_EQ(read_file(dir.file("map.nc")), "an older map");
    EXPECT_FALSE(file_exists(dir.file("map.jpg")));
    EXPECT_FALSE(file_exists(dir.file("m.png")));
}

TEST(NeffmapOutputs, AFailingOutputLeavesEveryOldFile)
{
    TempDir dir;
    small_inputs(dir);
    ASSERT_EQ(run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--png", "map.png", "--work", "w",
                                "--quiet"})
                  .status,
              0);
    const std::string map = read_file(dir.file("map.nc")), picture = read_file(dir.file("map.png")),
                      work = tree_of(dir.file("w"));
    // The picture on a full disk; then a file size limit, which every output
    // reaches part way.
    std::filesystem::create_symlink(writable_device(dir, "full"), dir.file("full.png"));
    RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--png", "full.png", "--work", "w",
                                    "--quiet"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("full.png: No space left on device"), std::string::npos) << r.err;
    RunOptions limited;
    limited.file_size_limit = 20000;
    r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--png", "map.png", "--work", "w", "--quiet"},
                    limited);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find(": File too large"), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(dir.file("map.nc")) == map);
    EXPECT_TRUE(read_file(dir.file("map.png")) == picture);
    EXPECT_TRUE(tree_of(dir.file("w")) == work);
    EXPECT_EQ(hidden_files(dir.path), "");
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
}

TEST(NeffmapWork, OnlyANewEmptyOrEarlierWorkDirectoryIsUsed)
{
    TempDir dir;
    small_inputs(dir);
    generate(dir, {"--lon", "120", "--lat", "250", "--steps", "40", "big.nc", "big.csv"});
    // A directory of the user's is refused and left alone.
    std::filesystem::create_directory(dir.file("mine"));
    write_file(dir.file("mine/series.dat"), "my series");
    write_file(dir.file("mine/series.aut"), "my autocorrelations");
    RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--work", "mine"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("mine: is not empty and no earlier neffmap --work made it"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(dir.file("mine/series.dat")), "my series");
    EXPECT_EQ(read_file(dir.file("mine/series.aut")), "my autocorrelations");
    EXPECT_FALSE(file_exists(dir.file("map.nc")));

    // A new directory; then the same one again, for a grid of fewer tiles, after a
    // run was killed in it: the earlier run's files are replaced, not kept beside.
    ASSERT_EQ(run_neffmap(dir, {"big.nc", "field", "big.csv:index", "big.nc.map", "--work", "w", "--quiet"}).status, 0);
    EXPECT_TRUE(file_exists(dir.file("w/tile-00003/neff.dat")));
    EXPECT_TRUE(file_exists(dir.file("w/.neffmap-work")));
    std::filesystem::create_directories(dir.file("w/.neffmap-staging-KILLED/tile-00001"));
    r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--work", "w", "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string names;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("w"))) names += e.path().filename().string() + " ";
    std::vector<std::string> sorted;
    for (const auto& e : std::filesystem::directory_iterator(dir.file("w"))) sorted.push_back(e.path().filename());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{".neffmap-work", "series-lags", "series.aut", "series.dat",
                                                "tile-00001", "tile-00002"}))
        << names;

    // An input inside the work directory, and an output, are refused.
    const struct {
        std::vector<std::string> args;
        std::string says;
    } refused[] = {
        {{"f.nc", "field", "w/series.dat", "other.nc", "--work", "w"}, "w/series.dat: lies inside the --work directory"},
        {{"f.nc", "field", "idx.csv:index", "w/tile-00001/map.nc", "--work", "w"},
         "w/tile-00001/map.nc: lies inside the --work directory"},
    };
    const std::string before = tree_of(dir.file("w"));
    for (const auto& c : refused) {
        r = run_neffmap(dir, c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    EXPECT_TRUE(tree_of(dir.file("w")) == before);
}

TEST(NeffmapWork, ADirectoryInUseIsRefusedAndRunsSharingOneAgree)
{
    TempDir dir;
    small_inputs(dir);
    ASSERT_EQ(run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "alone.nc", "--work", "w", "--quiet"}).status, 0);
    const std::string before = tree_of(dir.file("w"));
    {
        // As another run holds it.
        const int fd = ::open(dir.file("w").c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);
        const RunResult r = run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--work", "w"});
        ::close(fd);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("w: is in use by another neffmap run"), std::string::npos) << r.err;
        EXPECT_FALSE(file_exists(dir.file("map.nc")));
        EXPECT_TRUE(tree_of(dir.file("w")) == before);
    }
    // Runs started together on one directory: each either has it or is refused,
    // and every map written is the one a run alone writes.
    for (int round = 0; round < 3; ++round) {
        pid_t pids[3];
        const std::string maps[3] = {"m0.nc", "m1.nc", "m2.nc"};
        for (int k = 0; k < 3; ++k)
            pids[k] = start_neffmap(dir, {"f.nc", "field", "idx.csv:index", maps[k], "--work", "w", "--quiet"});
        for (int k = 0; k < 3; ++k) {
            const int status = wait_for(pids[k]);
            ASSERT_TRUE(WIFEXITED(status)) << status;
            const std::string m = dir.file(maps[k]);
            if (WEXITSTATUS(status) != 0) {
                EXPECT_EQ(WEXITSTATUS(status), 2);
                EXPECT_FALSE(file_exists(m));
                continue;
            }
            for (const char* var : {"neff", "r", "p", "sig_fdr"}) {
                int a, b, va, vb;
                ASSERT_EQ(nc_open(m.c_str(), NC_NOWRITE, &a), NC_NOERR);
                ASSERT_EQ(nc_open(dir.file("alone.nc").c_str(), NC_NOWRITE, &b), NC_NOERR);
                nc_inq_varid(a, var, &va);
                nc_inq_varid(b, var, &vb);
                std::vector<double> x(12000), y(12000);
                nc_get_var_double(a, va, x.data());
                nc_get_var_double(b, vb, y.data());
                EXPECT_TRUE(std::memcmp(x.data(), y.data(), x.size() * sizeof(double)) == 0) << var;
                nc_close(a);
                nc_close(b);
            }
            std::filesystem::remove(m);
        }
        EXPECT_TRUE(tree_of(dir.file("w")) == before) << "one complete set of the same work files";
    }
}

TEST(NeffmapSignals, AnInterruptAtAnyMomentLeavesTheOldFilesAndNoTemporaryFile)
{
    TempDir dir;
    generate(dir, {"--lon", "200", "--lat", "150", "--steps", "240", "--series-phi", "0.5", "--field-phi", "0.5",
                   "f.nc", "idx.csv"});
    const std::vector<std::string> args = {"f.nc", "field", "idx.csv:index", "map.nc", "--png",
                                           "map.png", "--work", "w", "--quiet", "--jobs", "2"};
    ASSERT_EQ(run_neffmap(dir, args).status, 0);
    std::string map = read_file(dir.file("map.nc")), picture = read_file(dir.file("map.png"));
    std::string work = tree_of(dir.file("w"));
    int interrupted = 0;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        for (const double delay : {0.0, 0.03, 0.08, 0.15, 0.3}) {
            const pid_t pid = start_neffmap(dir, args);
            sleep_seconds(delay);
            ::kill(pid, sig);
            const int status = wait_for(pid);
            const std::string err = read_file(dir.file("run.err"));
            // Ended by the signal (or by the status a shell gives for it): every old file as it was.
            if (WIFSIGNALED(status) || WEXITSTATUS(status) == 128 + sig) {
                ++interrupted;
                EXPECT_TRUE(read_file(dir.file("map.nc")) == map) << sig << " after " << delay << " s";
                EXPECT_TRUE(read_file(dir.file("map.png")) == picture) << sig << " after " << delay << " s";
                EXPECT_TRUE(tree_of(dir.file("w")) == work) << sig << " after " << delay << " s";
                EXPECT_EQ(err.find("removed"), std::string::npos) << err;
            } else {
                // The run was complete before the signal came: all its outputs are new,
                // and the old files of the next run.
                EXPECT_EQ(WEXITSTATUS(status), 0) << err;
                EXPECT_TRUE(is_complete_map(dir.file("map.nc")));
                map = read_file(dir.file("map.nc"));
                picture = read_file(dir.file("map.png"));
                work = tree_of(dir.file("w"));
            }
            EXPECT_EQ(hidden_files(dir.path), "") << sig << " after " << delay << " s";
            EXPECT_EQ(hidden_files(dir.file("w")).find(".neffmap-staging"), std::string::npos) << sig << " after "
                                                                                                 << delay << " s";
            EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
        }
    EXPECT_GT(interrupted, 5) << "most signals come while the run works";
}

TEST(NeffmapSignals, AfterSigkillNothingRunsOn)
{
    TempDir dir;
    generate(dir, {"--lon", "300", "--lat", "200", "--steps", "480", "f.nc", "idx.csv"});
    write_file(dir.file("map.nc"), "an older map");
    for (const double delay : {0.0, 0.02}) {
        const std::string left_before = hidden_files(dir.path);
        const pid_t pid = start_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--png", "map.png",
                                              "--jobs", "2", "--quiet"});
        // Killed while its outputs are pending (their temporary files exist), however
        // fast the machine finishes the run.
        for (int k = 0; k < 2000 && hidden_files(dir.path) == left_before; ++k) sleep_seconds(0.001);
        sleep_seconds(delay);
        ::kill(pid, SIGKILL);
        const int status = wait_for(pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        // Nothing of the run is left to finish its work later.
        sleep_seconds(2);
        EXPECT_EQ(::kill(-pid, 0), -1);
        EXPECT_EQ(errno, ESRCH);
        EXPECT_EQ(read_file(dir.file("map.nc")), "an older map");
        EXPECT_FALSE(file_exists(dir.file("map.png")));
        EXPECT_TRUE(std::filesystem::is_empty(dir.file("tmp")));
    }
}

#ifndef FIELDNEFF_SANITIZE_BUILD
// The memory held for the whole grid, measured as the growth of the peak
// resident set between two grids (5 steps each: the tiles themselves are small,
// and every point is tested, so the false-discovery threshold sorts them all).
// Only the p-values (8 bytes a point) are held for the whole grid; the bound
// leaves room for the allocator.
TEST(NeffmapMemory, AGridPointCostsLittleMoreThanItsPValue)
{
    TempDir dir;
    generate(dir, {"--lon", "1000", "--lat", "600", "--steps", "5", "small.nc", "small.csv"});
    generate(dir, {"--lon", "2000", "--lat", "1200", "--steps", "5", "large.nc", "large.csv"});
    long peak[2];
    for (int k = 0; k < 2; ++k) {
        const std::string name = k ? "large" : "small";
        const RunResult r =
            run_neffmap(dir, {name + ".nc", "field", name + ".csv:index", name + ".map.nc", "--quiet", "--jobs", "2"});
        ASSERT_EQ(r.status, 0) << r.err;
        peak[k] = r.peak_rss_kib;
    }
    const double bytes_per_point = double(peak[1] - peak[0]) * 1024.0 / double(2400000 - 600000);
    std::printf("[ memory   ] peak %ld KiB at 600000 points, %ld KiB at 2400000: %.1f bytes a point\n", peak[0],
                peak[1], bytes_per_point);
    EXPECT_LE(bytes_per_point, 12.0);
}
#endif

TEST(NeffmapOutputs, OtherToolsCanAnnotateTheMap)
{
    TempDir dir;
    small_inputs(dir);
    ASSERT_EQ(run_neffmap(dir, {"f.nc", "field", "idx.csv:index", "map.nc", "--quiet"}).status, 0);
    const RunResult r = run_program(NCATTED_EXE, "", dir.path, {"-a", "title,global,c,c,annotated", "map.nc"});
    ASSERT_EQ(r.status, 0) << r.err;
    int nc;
    ASSERT_EQ(nc_open(dir.file("map.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    char title[16] = {};
    EXPECT_EQ(nc_get_att_text(nc, NC_GLOBAL, "title", title), NC_NOERR);
    EXPECT_STREQ(title, "annotated");
    nc_close(nc);
    EXPECT_TRUE(is_complete_map(dir.file("map.nc")));
}
