#include "field_source.hpp"

#include <algorithm>
#include <cmath>

#include "run_error.hpp"
#include "series_file.hpp"

FieldSource open_field(const std::string& path, const std::string& var, const StepRange& range)
{
    FieldSource f;
    f.path = path;
    f.var = var;
    f.tv = open_time_variable(path, var);
    const std::string what = "variable \"" + var + "\" (" + dimension_list(f.tv) + ")";
    if (f.tv.sizes[0] == 0) fail(path, what + " has no time steps");
    if (f.tv.points == 0) fail(path, what + " has no grid points");
    const SelectedSteps sel = select_steps(range, int64_t(f.tv.sizes[0]), path, "--field-steps");
    f.first_step = sel.first;
    f.steps = int32_t(std::min<int64_t>(sel.last - sel.first + 1, INT32_MAX));
    f.unpack = read_unpacking(path, f.tv);
    f.time_span = time_span(f.tv.ncid, f.tv.dimids[0], size_t(sel.first - 1), size_t(sel.last - sel.first + 1));
    return f;
}

void check_series_against_field(const FieldSource& field, const IndexSeries& series)
{
    if (field.steps > MAX_STEPS)
        fail(field.path, "the field has " + std::to_string(field.steps) +
                             " selected steps; at most 2000 fit, so select fewer with --field-steps A:B");
    if (series.steps() != field.steps) {
        std::string cause = "the series has " + std::to_string(series.steps()) + " steps, the field " +
                            std::to_string(field.steps) +
                            "; select equal periods with --series-steps and --field-steps";
        if (!series.time_span.empty()) cause += "; series time " + series.time_span;
        if (!field.time_span.empty()) cause += "; field time " + field.time_span;
        fail(series.path, cause);
    }
    for (int32_t t = 0; t < series.steps(); ++t)
        if (series.values[size_t(t)] == MISSING_VALUE || std::isnan(series.values[size_t(t)]))
            fail(series.path, "the series is missing at step " + std::to_string(series.first_step + t) +
                                  "; the correlation needs every step of it");
    if (field.steps < 3)
        fail(field.path, "only " + std::to_string(field.steps) + " steps are selected; at least 3 are needed");
}
