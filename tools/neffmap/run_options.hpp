// What one neffmap command asks for, as given on its command line.
#pragma once

#include <cstdint>
#include <string>

#include "significance.hpp"

// Steps first … last, 1-based and inclusive; last = 0 means "to the end".
struct StepRange {
    int64_t first = 1;
    int64_t last = 0;
};

enum class PictureVariable { r, neff, p };

struct RunOptions {
    std::string field, var, series, out;
    std::string png;      // empty: no picture
    std::string work;     // empty: a temporary directory, removed at the end
    std::string programs; // directory holding lagscan, sigcut and nstar, or empty
    int jobs = 1;
    StepRange field_steps, series_steps;
    bool quiet = false;
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
    PictureVariable png_var = PictureVariable::r;
    bool fixed_range = false;
    double range_lo = 0, range_hi = 0;
    std::string command_line; // for the history attribute
};

// Where the run keeps its files while it works; decided before any work starts
// so that whoever cleans up after a failure knows them.
struct RunPlaces {
    std::string work_dir;
    bool keep_work = false;
};
