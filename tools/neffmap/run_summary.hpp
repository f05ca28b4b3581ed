// The summary neffmap prints at the end of a run.
#pragma once

#include <string>

#include "point_results.hpp"
#include "series_input.hpp"
#include "significance_map.hpp"
#include "tile_work.hpp"

// "lat 73 × lon 144", or "a single point".
std::string grid_text(const TimeVariable& tv);

void print_summary(const FieldSource& field, const IndexSeries& series, const PointResults& res,
                   const SignificanceMap& sig, const TestSettings& test, double seconds);
