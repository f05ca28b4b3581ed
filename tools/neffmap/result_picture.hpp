// neffmap --picture: one variable of the finished map drawn by mapdraw (PNG, SVG
// or PDF by the name's extension), the significant points dotted, coastlines on
// a latitude/longitude grid, and a title that says what was tested.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "field_source.hpp"
#include "map_output.hpp"
#include "output_file.hpp"
#include "run_options.hpp"
#include "paired_steps.hpp"
#include "significance_map.hpp"

// What was tested, as the title says it. An empty text, a zero or a false is
// left out of the title, so a fact the run does not know is simply not shown.
struct TestedFacts {
    std::string variable; // the field's variable, "sst"
    std::string units;    // its units attribute
    std::string series;   // the series as named, without its directories: "nino34.csv:nino34"
    int32_t steps = 0;    // N, the steps paired
    // The paired steps, 1-based in each file: shown when there are no dates.
    int64_t field_first = 0, series_first = 0;
    // The paired dates ("1982-01", "1982-01-16"): the field's, and the series'
    // when they differ from the field's (a lag, a series stamped otherwise).
    std::string field_start, field_end, series_start, series_end;
    // --lag: the series leads by lag steps (negative: the field leads), each
    // step a step_unit ("month", "day"; empty: "step").
    int32_t lag = 0;
    std::string step_unit;
    bool anomalies = false; // --anomalies
    bool detrended = false; // --detrend
    // The test: Student's t with the --neff method, or the phase test with M
    // surrogates (phase_surrogates > 0).
    NeffMethod method = NeffMethod::min;
    int64_t phase_surrogates = 0;
    double alpha = 0.05, q = 0.10;
};

// The facts the command line and the inputs give, the paired steps among them.
TestedFacts tested_facts(const RunOptions& opt, const FieldSource& field, const PairedSteps& paired);

struct PictureTitle {
    std::string title, subtitle;
};

// The title line (the variable, the series, the steps or dates and N, the lag)
// and the subtitle (the transforms, the test, alpha and q, and how many points
// are significant).
PictureTitle picture_title(const TestedFacts& facts, const MapTest& result);

// Whether the field's grid can be drawn: at most two grid dimensions. Any size.
bool grid_is_drawable(const FieldSource& field);

// Draws the chosen variable of the map (before close_map) into out, which has
// been begun; returns the notes for the user (coastline data not found, say),
// one line each, for main to print.
std::vector<std::string> draw_result_picture(OutputFile& out, MapOutput& map, const FieldSource& field,
                                             const TestedFacts& facts, const MapTest& result,
                                             const RunOptions& opt);
