// What one neffmap command asks for, as given on its command line.
#pragma once

#include <cstdint>
#include <string>

#include "map_picture.hpp"
#include "pairing.hpp"
#include "series_source.hpp"
#include "significance.hpp"
#include "tile_statistics.hpp"
#include "value_ranges.hpp"

enum class PictureVariable { r, neff, neff_lag1, p, slope };

// How each variable is coloured: r and the slope about 0, p on a log scale.
inline ColourScale picture_scale(PictureVariable v)
{
    return v == PictureVariable::r || v == PictureVariable::slope ? ColourScale::diverging
           : v == PictureVariable::p                               ? ColourScale::p_log
                                                                   : ColourScale::sequential;
}
enum class StippleMask { fdr, local }; // the points dotted: sig_fdr or sig_local

struct RunOptions {
    std::string field, var, series, out;
    std::string work; // empty: no work files
    int jobs = 1;     // tiles computed at once
    bool quiet = false;
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
    // The picture: --picture FILE (or its alias --png), drawn in the format its
    // extension names; empty: none.
    std::string picture;
    PictureFormat picture_format = PictureFormat::png;
    PictureVariable picture_var = PictureVariable::r;
    StippleMask stipple = StippleMask::fdr;
    PictureSize picture_size;  // 0 x 0: the default
    bool title_given = false;  // --title: title replaces what the picture would say
    std::string title;
    bool coastlines = true;    // --no-coast: false
    bool fixed_range = false;  // --range, in p for the p map
    ValueRange range;
    std::string command_line; // for the history attribute
    // The test: Student's t with --neff's sample size, or phase-randomised
    // surrogates of the series, `surrogates` of them drawn from `seed`.
    TestKind test = TestKind::t;
    int64_t surrogates = 1000;
    uint64_t seed = 1;

    // Dates: which steps of the field and of the series are paired (--period,
    // --lag, --pair-by-position, --field-steps, --series-steps), how the
    // series is read (--missing-value), and what is taken out of both before
    // the chain.
    PairingOptions pairing;
    SeriesReadOptions series_read;
    bool anomalies = false, detrend = false;
};
