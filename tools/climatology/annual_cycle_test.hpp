// Whether a series still carries an annual cycle: a one-way analysis of
// variance of its values by calendar month (F test, p < 0.001), for the
// warning that raw monthly or daily data are about to be correlated.
#pragma once

#include <cstdint>
#include <vector>

#include "time_axis.hpp"

inline constexpr double ANNUAL_CYCLE_P = 0.001;

struct AnnualCycleTest {
    bool usable = false;        // monthly or daily steps covering two calendar months or more, more steps than months
    int32_t steps = 0;
    int32_t groups = 0;         // calendar months present
    std::vector<int32_t> group; // each step's calendar month, as a group index
    std::vector<double> group_size;
    double f_critical = 0;      // F beyond which p < ANNUAL_CYCLE_P (Boost.Math's fisher_f)
};

// The test for the paired steps' dates and step kind; unusable for other step
// kinds or too few months, and then every count is zero.
AnnualCycleTest plan_annual_cycle_test(const std::vector<StepDate>& dates, StepKind kind);

struct CycleCount {
    int64_t tested = 0;     // points without a missing or non-finite step
    int64_t with_cycle = 0; // of them, those whose calendar-month means differ at p < ANNUAL_CYCLE_P
};

// Over `points` points of test.steps steps, values[t * points + i]; the series
// is one point. Counts from tiles add up.
CycleCount count_annual_cycles(const AnnualCycleTest& test, const float* values, int32_t points);
