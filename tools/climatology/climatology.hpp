// Taking the seasonal cycle and the trend out of the paired steps, at every
// point of a tile and from the series, in double precision and stored as the
// nearest float.
//
// Both are least-squares projections fixed by the paired dates alone, so they
// are planned once per run (basis, its inverse Gram matrix, the line) and then
// applied to each tile in two passes vectorised across points: the first
// gathers each point's projections onto the basis and the line, the second
// takes the fit away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "time_axis.hpp"

enum class CycleKind {
    none,             // no anomalies
    calendar_months,  // the mean of each calendar month (monthly steps)
    annual_harmonics, // the first three harmonics of the year, fitted (daily steps)
    mean,             // the mean (any other steps, or none with dates)
};

struct ClimatologyPlan {
    int32_t steps = 0;
    CycleKind cycle = CycleKind::none;
    bool detrend = false;
    int32_t columns = 0;          // basis columns: calendar months present, 7 harmonics, or 1 for the mean
    std::vector<int32_t> column;  // calendar_months and mean: each step's column
    std::vector<double> basis;    // annual_harmonics: steps × columns, step-major
    std::vector<double> solve;    // columns × columns: the inverse of the basis' Gram matrix
    std::vector<double> one_u;    // the basis' column sums
    std::vector<double> tau_u;    // and their products with tau
    std::vector<double> tau;      // each step's t - (steps - 1) / 2, for the line
    double tau_tau = 0;
    std::string description;      // for the summary: "calendar-month means removed, then the least-squares line"
};

// The plan for `steps` paired steps with their dates (one per step, or none
// when neither side has dates) and step kind. Throws RunError{"--anomalies",
// cause} when the period is too short for the cycle: a calendar month seen
// fewer than twice (monthly steps), or daily steps spanning less than a year.
ClimatologyPlan plan_climatology(const std::vector<StepDate>& dates, int32_t steps, StepKind kind, Calendar calendar,
                                 bool anomalies, bool detrend);

// Applies the plan in place to `points` points of plan.steps steps each,
// values[t * points + i]. A point with MISSING_VALUE (or a value that is not
// finite) at any step is left as it is, for the caller to drop. The series is a
// tile of one point.
void remove_climatology(const ClimatologyPlan& plan, float* values, int32_t points);
