// The index series: from a CSV column, a 1-D NetCDF variable along time, or a
// record file of one point per pair, with its steps selected.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "value_ranges.hpp"

struct IndexSeries {
    std::string path;   // the file, for messages
    std::string source; // as given on the command line
    int64_t steps_in_file = 0;
    int64_t first_step = 1;    // 1-based, in the file
    std::vector<float> values; // the selected steps
    std::string time_span;     // the selected steps' time coordinate, or ""
    int32_t steps() const { return int32_t(values.size()); }
};

// Reads SERIES as neffmap's third argument names it. A selection outside the
// file, or more than MAX_STEPS selected steps, throws; missing values are
// checked later.
IndexSeries read_index_series(const std::string& argument, const StepRange& range);

// The 1-based steps first … last that a range selects from `count` steps; throws
// (naming `path` and `option`) when the range lies outside them.
struct SelectedSteps {
    int64_t first = 1;
    int64_t last = 0;
};
SelectedSteps select_steps(const StepRange& range, int64_t count, const std::string& path, const char* option);

// The file a SERIES argument reads, for the checks made before any work.
std::string series_file(const std::string& argument);
