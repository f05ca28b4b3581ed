// Which steps of the field go with which steps of the series: by date when
// both have dates, otherwise by position, after the selection (--period or
// steps) and the lag. Everything downstream sees only the paired steps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "iso_date.hpp"
#include "time_axis.hpp"

// Steps first ... last of a file, 1-based and inclusive; last = 0 runs to the end.
struct StepSelection {
    bool given = false;
    int64_t first = 1;
    int64_t last = 0;
};

struct PairingOptions {
    bool has_period = false;
    Period period;
    int64_t lag = 0; // K > 0: the series leads, its step t paired with the field's step t + K
    StepSelection field_steps, series_steps;
    bool pair_by_position = false;
};

// One side as the pairing sees it: its file (for messages), its axis (which may
// have no dates) and how many steps the file holds.
struct PairingSide {
    std::string file;
    const TimeAxis* axis = nullptr;
    int64_t steps = 0;
};

struct Pairing {
    int32_t n = 0;            // paired steps, 3 ... MAX_STEPS
    int64_t field_first = 0;  // 0-based: field steps field_first ... field_first + n - 1
    int64_t series_first = 0; // 0-based: series steps series_first ... series_first + n - 1
    bool by_date = false;
    // The paired steps' dates, each side's own (a side without dates takes
    // the other's, as pairing by position assumes them aligned); empty when
    // neither side has dates. They decide the climatology's calendar months.
    std::vector<StepDate> field_dates, series_dates;
    Calendar field_calendar = Calendar::standard, series_calendar = Calendar::standard;
    StepKind kind = StepKind::none; // of the paired steps (none: irregular or no dates)
    std::string time_step;          // step_kind_text of the side whose dates were used; "" without dates
    // The first and last paired dates as the step kind names them ("1982-01");
    // "" for a side without dates. The series' are "" as well when they equal the field's.
    std::string field_start, field_end, series_start, series_end;
    // One line for the summary when steps were paired by position, else "".
    std::string note;
};

// Pairs the steps, or throws RunError naming the file (or option) at fault:
// - with dates on both sides (and no pair_by_position) the step kinds must
//   agree; steps pair by year and month (monthly), year (yearly), day (daily)
//   or equal time within a tenth of a step, over the period both cover,
//   narrowed by --period, the series' dates moved by `lag` steps first; every
//   date of that period must be on both sides and the series must have a value
//   at each; --field-steps/--series-steps are refused in favour of --period;
// - otherwise by position: each side's selection (steps, or --period on a side
//   with dates), equal lengths, then N shrinks by |lag|;
// - a field axis that is irregular, or whose dates cannot be read, is refused
//   unless pair_by_position; so is a series axis whose dates cannot be read;
// - fewer than 3 or more than MAX_STEPS paired steps are refused, naming the period.
// `series_values` holds the series' steps (MISSING_VALUE where missing).
Pairing pair_steps(const PairingSide& field, const PairingSide& series, const float* series_values,
                   const PairingOptions& options);
