#include "csv_conversion.hpp"

#include <cstdio>

#include "csv_series.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"
#include "series_file.hpp"
#include "series_source.hpp"

namespace {

std::string step_name(const SeriesSource& s, size_t t)
{
    std::string name = "step " + std::to_string(t + 1);
    if (s.axis.has_dates) name += " (" + date_text(s.axis.dates[t], step_spacing(s.axis)) + ")";
    return name;
}

} // namespace

void convert_csv(const std::string& argument, const std::string& out_path, const CsvConversion& c)
{
    // The column by --column, or as neffmap takes it: FILE:COLUMN.
    const SeriesArgument a = c.column.empty() ? split_series_argument(argument) : SeriesArgument{argument, c.column};
    const std::string inputs[] = {a.file};
    refuse_output_over_inputs(out_path, inputs, 1);
    SeriesSource s;
    read_csv_series(read_series_text(a.file), a.file, a.selector, c.read, s);

    const int64_t count = int64_t(s.values.size());
    int64_t first = 0, last = count - 1;
    if (c.select) {
        first = c.steps.first - 1;
        last = (c.steps.last == 0 ? count : c.steps.last) - 1;
        if (first < 0 || last >= count || first > last)
            fail(a.file, "--steps " + std::to_string(c.steps.first) + ":" +
                             (c.steps.last ? std::to_string(c.steps.last) : std::string()) +
                             " does not lie within the " + std::to_string(count) + " steps of the series");
    }
    const int64_t n = last - first + 1;
    if (n > MAX_STEPS)
        fail(a.file, "holds " + std::to_string(n) + " steps" + (c.select ? " in --steps" : "") +
                         "; lagscan reads at most 2000, so select at most 2000 with --steps A:B");
    int64_t missing = 0, first_missing = -1;
    for (int64_t t = first; t <= last; ++t)
        if (s.values[size_t(t)] == MISSING_VALUE && missing++ == 0) first_missing = t;
    if (missing > 0 && !c.allow_missing)
        fail(a.file, step_name(s, size_t(first_missing)) + " has no value (blank, not a number, NaN or the missing " +
                         "value; " + std::to_string(missing) + " of " + std::to_string(n) +
                         " steps are missing); lagscan would take the missing-value marker for a number there, so "
                         "fill the gaps, or give --allow-missing to write them as MISSING_VALUE all the same");
    if (missing > 0)
        std::fprintf(stderr, "fieldtool: %s: note: %lld of %lld steps are missing and written as MISSING_VALUE\n",
                     a.file.c_str(), (long long)missing, (long long)n);
    if (s.format == SeriesFormat::year_table)
        std::fprintf(stderr, "fieldtool: %s: note: read as %s, month by month\n", a.file.c_str(),
                     s.description.c_str());
    RecordOutput out;
    open_record_output(out, out_path);
    for (int64_t t = first; t <= last; ++t)
        write_pair(out, RecordHeader{int32_t(t - first + 1), 1, 1, 1}, &s.values[size_t(t)]);
    close_record_output(out);
}
