// The field: its variable in the NetCDF file, held open for the run, with the
// steps selected.
#pragma once

#include <cstdint>
#include <string>

#include "netcdf_common.hpp"
#include "netcdf_input.hpp"
#include "series_input.hpp"
#include "value_ranges.hpp"

struct FieldSource {
    std::string path, var;
    TimeVariable tv;
    Unpacking unpack;
    int64_t first_step = 1; // 1-based
    int32_t steps = 0;
    std::string time_span;  // the selected steps' time coordinate, or ""
};

// Opens the field and selects its steps; throws on a variable without steps or
// points, or a selection outside it.
FieldSource open_field(const std::string& path, const std::string& var, const StepRange& range);

// The series must give every selected step a value, as many steps as the field,
// and the run needs 3 … 2000 of them.
void check_series_against_field(const FieldSource& field, const IndexSeries& series);
