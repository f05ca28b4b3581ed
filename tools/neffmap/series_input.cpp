#include "series_input.hpp"

#include <cstring>
#include <netcdf.h>
#include <strings.h>

#include "csv_input.hpp"
#include "netcdf_common.hpp"
#include "netcdf_input.hpp"
#include "record_access.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

bool ends_with(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

bool netcdf_name(const std::string& s) { return ends_with(s, ".nc") || ends_with(s, ".nc4") || ends_with(s, ".cdf"); }

// How a SERIES argument splits: the file, the column or variable, and its kind.
struct SeriesArgument {
    std::string path, column;
    bool csv = false, nc = false;
};

SeriesArgument split_argument(const std::string& argument)
{
    SeriesArgument a;
    const size_t colon = argument.rfind(':');
    if (ends_with(argument, ".csv")) {
        a.path = argument;
        a.csv = true;
    } else if (colon != std::string::npos && ends_with(argument.substr(0, colon), ".csv")) {
        a.path = argument.substr(0, colon);
        a.column = argument.substr(colon + 1);
        a.csv = true;
    } else if (colon != std::string::npos && netcdf_name(argument.substr(0, colon))) {
        a.path = argument.substr(0, colon);
        a.column = argument.substr(colon + 1);
        a.nc = true;
    } else {
        a.path = argument;
    }
    return a;
}

void take(IndexSeries& s, const float* all, int64_t count, const StepRange& range)
{
    s.steps_in_file = count;
    const SelectedSteps sel = select_steps(range, count, s.path, "--series-steps");
    if (sel.last - sel.first + 1 > MAX_STEPS)
        fail(s.path, "the series has " + std::to_string(sel.last - sel.first + 1) +
                         " selected steps; at most 2000 fit, so select fewer with --series-steps");
    s.first_step = sel.first;
    s.values.assign(all + sel.first - 1, all + sel.last);
}

void read_netcdf_series(const std::string& var, const StepRange& range, IndexSeries& s)
{
    const TimeVariable tv = open_time_variable(s.path, var);
    if (tv.rank != 1)
        fail(s.path, "variable \"" + var + "\" (" + dimension_list(tv) +
                         ") is not a series: it needs time as its only dimension");
    s.steps_in_file = int64_t(tv.sizes[0]);
    const SelectedSteps sel = select_steps(range, s.steps_in_file, s.path, "--series-steps");
    if (sel.last - sel.first + 1 > MAX_STEPS)
        fail(s.path, "variable \"" + var + "\" has " + std::to_string(sel.last - sel.first + 1) +
                         " selected steps; at most 2000 fit, so select fewer with --series-steps");
    const Unpacking u = read_unpacking(s.path, tv);
    const size_t start = size_t(sel.first - 1), count = size_t(sel.last - sel.first + 1);
    std::vector<double> stored(count);
    nc_check(nc_get_vara_double(tv.ncid, tv.varid, &start, &count, stored.data()), s.path, "reading the series");
    s.first_step = sel.first;
    s.values.resize(count);
    for (size_t t = 0; t < count; ++t) s.values[t] = unpack_value(u, stored[t]);
    s.time_span = time_span(tv.ncid, tv.dimids[0], start, count);
}

void read_record_series(const StepRange& range, IndexSeries& s)
{
    RecordInput in;
    std::vector<float> all, row(MAX_POINTS);
    open_record_input(in, s.path);
    RecordHeader h;
    while (read_pair(in, h, row.data())) {
        if (h.w4 != 1)
            fail(s.path, "record pair " + std::to_string(all.size() + 1) + " holds " + std::to_string(h.w4) +
                             " values; a series file holds one point per pair");
        if (all.size() == size_t(MAX_STEPS)) fail(s.path, "has more than 2000 record pairs");
        all.push_back(row[0]);
    }
    take(s, all.data(), int64_t(all.size()), range);
}

} // namespace

SelectedSteps select_steps(const StepRange& range, int64_t count, const std::string& path, const char* option)
{
    SelectedSteps s{range.first, range.last == 0 ? count : range.last};
    if (s.first < 1 || s.last > count || s.first > s.last)
        fail(path, std::string(option) + " " + std::to_string(range.first) + ":" +
                       (range.last ? std::to_string(range.last) : std::string()) + " does not lie within the " +
                       std::to_string(count) + " steps of the file");
    return s;
}

std::string series_file(const std::string& argument) { return split_argument(argument).path; }

IndexSeries read_index_series(const std::string& argument, const StepRange& range)
{
    IndexSeries s;
    s.source = argument;
    const SeriesArgument a = split_argument(argument);
    s.path = a.path;
    if (a.nc && a.column.empty()) fail(s.path, "name the series variable as FILE.nc:VAR");
    if (!a.csv && !a.nc && netcdf_name(argument)) fail(argument, "name the series variable as FILE.nc:VAR");

    if (a.csv) {
        const auto col = std::make_unique<CsvColumn>();
        read_csv_column(s.path.c_str(), a.column, *col, "FILE.csv:NAME or FILE.csv:INDEX");
        take(s, col->values, col->rows, range);
    } else if (a.nc) {
        read_netcdf_series(a.column, range, s);
    } else {
        read_record_series(range, s);
    }
    return s;
}
