// What one neffmap command asks for, as given on its command line.
#pragma once

#include <string>

#include "pairing.hpp"
#include "series_source.hpp"
#include "significance.hpp"
#include "value_ranges.hpp"

enum class PictureVariable { r, neff, p };

struct RunOptions {
    std::string field, var, series, out;
    std::string png;  // empty: no picture
    std::string work; // empty: no work files
    int jobs = 1;     // tiles computed at once
    bool quiet = false;
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
    PictureVariable png_var = PictureVariable::r;
    bool fixed_range = false;
    ValueRange range;
    std::string command_line; // for the history attribute

    // Dates: which steps of the field and of the series are paired (--period,
    // --lag, --pair-by-position, --field-steps, --series-steps), how the
    // series is read (--missing-value), and what is taken out of both before
    // the chain.
    PairingOptions pairing;
    SeriesReadOptions series_read;
    bool anomalies = false, detrend = false;
};
