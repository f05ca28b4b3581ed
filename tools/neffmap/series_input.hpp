// The index series: from a CSV column, a 1-D NetCDF variable along time, or a
// record file of one point per pair, with its steps selected.
#pragma once

#include <cstdint>
#include <string>

#include "run_options.hpp"
#include "series_file.hpp"

struct IndexSeries {
    std::string path;        // the file, for messages
    std::string source;      // as given on the command line
    int64_t steps_in_file = 0;
    int32_t steps = 0;       // selected
    int64_t first_step = 1;  // 1-based, in the file
    float values[MAX_STEPS];
    std::string time_span;   // the selected steps' time coordinate, or ""
};

// Reads SERIES as neffmap's third argument names it. A selection outside the file,
// or more than MAX_STEPS selected steps, is fatal; missing values are checked later.
void read_index_series(const std::string& argument, const StepRange& range, IndexSeries& s);

// The 1-based steps first … last that a range selects from `count` steps; fatal
// (naming `path` and `option`) when the range lies outside them.
void select_steps(const StepRange& range, int64_t count, const char* path, const char* option, int64_t& first,
                  int64_t& last);
