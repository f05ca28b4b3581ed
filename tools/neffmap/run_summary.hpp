// The summary neffmap prints at the end of a run.
#pragma once

#include <string>
#include <vector>

#include "field_source.hpp"
#include "netcdf_output.hpp"
#include "paired_steps.hpp"
#include "phase_map.hpp"
#include "significance_map.hpp"

// "lat 73 × lon 144", or "a single point".
std::string grid_text(const TimeVariable& tv);

// A line for each grid dimension the map names differently from the field.
void print_renamed_grid(const FieldSource& field, const OutputGrid& grid, const std::string& out);

// dof: the test's degrees of freedom over the grid (NaN where missing);
// warning: the annual-cycle warning, or ""; phase: the phase test's run, or
// null under the t test.
void print_summary(const FieldSource& field, const PairedSteps& paired, const MapTest& test,
                   std::vector<float> dof, const TestSettings& settings, const std::string& warning,
                   double seconds, const PhaseRun* phase);
