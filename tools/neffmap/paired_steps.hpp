// The series read by what its file holds, its steps paired with the field's
// (by date, or by position), and the seasonal cycle and the line taken out of
// both: the values the chain and the test see, and what the summary and the
// map say about them.
#pragma once

#include <string>
#include <vector>

#include "field_source.hpp"
#include "pairing.hpp"
#include "run_options.hpp"
#include "series_source.hpp"
#include "tile_transforms.hpp"

struct PairedSteps {
    SeriesSource series;        // as read: every step of its file
    Pairing pairing;
    int64_t lag = 0;            // --lag, as paired
    std::vector<float> values;  // the series' paired steps, transformed
    TileTransforms field;       // what each tile of the field goes through
    CycleCount series_cycle;    // the series' own annual-cycle test (zero when not looked for)
};

// Reads the series, pairs its steps with the field's (narrowing field.first_step
// and field.steps to the paired ones), plans the anomalies and the line on each
// side's own dates and takes them out of the series. Throws RunError for a
// pairing that cannot be made and for a series left constant or not finite.
PairedSteps pair_with_field(FieldSource& field, const RunOptions& opt);

// The paired period as the series' own dates (or the field's, or steps) name it.
std::string series_period_text(const Pairing& p);

// The warning that seasonal cycles are being correlated, when the series or at
// least a tenth of the tested points carry one; "" otherwise.
std::string annual_cycle_warning(const PairedSteps& p, const CycleCount& field);
