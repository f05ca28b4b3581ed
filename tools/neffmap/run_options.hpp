// What one neffmap command asks for, as given on its command line.
#pragma once

#include <cstdint>
#include <string>

#include "significance.hpp"
#include "tile_statistics.hpp"
#include "value_ranges.hpp"

enum class PictureVariable { r, neff, p };

struct RunOptions {
    std::string field, var, series, out;
    std::string png;  // empty: no picture
    std::string work; // empty: no work files
    int jobs = 1;     // tiles computed at once
    StepRange field_steps, series_steps;
    bool quiet = false;
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
    PictureVariable png_var = PictureVariable::r;
    bool fixed_range = false;
    ValueRange range;
    std::string command_line; // for the history attribute
    // The test: Student's t with --neff's sample size, or phase-randomised
    // surrogates of the series, `surrogates` of them drawn from `seed`.
    TestKind test = TestKind::t;
    int64_t surrogates = 1000;
    uint64_t seed = 1;
};
