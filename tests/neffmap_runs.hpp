// neffmap and the sample generator run as a user runs them, for the tests of
// neffmap's executable (NEFFMAP_EXE, SAMPLEDATA_EXE). neffmap's temporary files
// go under the test's own directory, where a leftover shows.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

// The words that run neffmap with args through env, TMPDIR set to dir/tmp.
inline std::vector<std::string> neffmap_words(const TempDir& dir, std::vector<std::string> args)
{
    std::filesystem::create_directories(dir.file("tmp"));
    args.insert(args.begin(), {"TMPDIR=" + dir.file("tmp"), NEFFMAP_EXE});
    return args;
}

inline RunResult run_neffmap(const TempDir& dir, const std::vector<std::string>& args, RunOptions options = {})
{
    options.timeout_seconds = 120;
    return run_program("/usr/bin/env", "", dir.path, neffmap_words(dir, args), options);
}

// `sampledata netcdf args` in dir; the test stops when it fails.
inline void generate(const TempDir& dir, std::vector<std::string> args)
{
    args.insert(args.begin(), "netcdf");
    const RunResult r = run_program(SAMPLEDATA_EXE, "", dir.path, args);
    ASSERT_EQ(r.status, 0) << r.err;
}
