// What one neffmap command asks for, as given on its command line.
#pragma once

#include <string>

#include "significance.hpp"
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
};
