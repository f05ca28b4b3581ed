#include "series_input.hpp"

#include <cstring>
#include <netcdf.h>
#include <strings.h>

#include "csv_input.hpp"
#include "netcdf_common.hpp"
#include "netcdf_input.hpp"
#include "record_access.hpp"
#include "run_frame.hpp"

namespace {

bool ends_with(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

bool netcdf_name(const std::string& s) { return ends_with(s, ".nc") || ends_with(s, ".nc4") || ends_with(s, ".cdf"); }

void take(IndexSeries& s, const float* all, int64_t count, const StepRange& range)
{
    int64_t first, last;
    s.steps_in_file = count;
    select_steps(range, count, s.path.c_str(), "--series-steps", first, last);
    if (last - first + 1 > MAX_STEPS) {
        const std::string cause = "the series has " + std::to_string(last - first + 1) +
                                  " selected steps; at most 2000 fit, so select fewer with --series-steps";
        fatal(s.path.c_str(), cause.c_str());
    }
    s.first_step = first;
    s.steps = int32_t(last - first + 1);
    for (int32_t t = 0; t < s.steps; ++t) s.values[t] = all[first - 1 + t];
}

void read_netcdf_series(const std::string& var, const StepRange& range, IndexSeries& s)
{
    static TimeVariable tv;
    open_time_variable(s.path.c_str(), var.c_str(), tv);
    if (tv.rank != 1) {
        const std::string cause = "variable \"" + var + "\" (" + dimension_list(tv) +
                                  ") is not a series: it needs time as its only dimension";
        fatal(s.path.c_str(), cause.c_str());
    }
    int64_t first, last;
    s.steps_in_file = int64_t(tv.sizes[0]);
    select_steps(range, s.steps_in_file, s.path.c_str(), "--series-steps", first, last);
    if (last - first + 1 > MAX_STEPS) {
        const std::string cause = "variable \"" + var + "\" has " + std::to_string(last - first + 1) +
                                  " selected steps; at most 2000 fit, so select fewer with --series-steps";
        fatal(s.path.c_str(), cause.c_str());
    }
    const Unpacking u = read_unpacking(s.path.c_str(), tv);
    static double stored[MAX_STEPS];
    const size_t start = size_t(first - 1), count = size_t(last - first + 1);
    nc_check(nc_get_vara_double(tv.ncid, tv.varid, &start, &count, stored), s.path.c_str(), "reading the series");
    s.first_step = first;
    s.steps = int32_t(count);
    for (int32_t t = 0; t < s.steps; ++t) s.values[t] = unpack_value(u, stored[t]);
    s.time_span = time_span(tv.ncid, tv.dimids[0], start, count);
    nc_close(tv.ncid);
}

void read_record_series(const StepRange& range, IndexSeries& s)
{
    static RecordInput in;
    static float all[MAX_STEPS];
    static float row[MAX_POINTS];
    open_record_input(in, s.path.c_str());
    RecordHeader h;
    int64_t count = 0;
    while (read_pair(in, h, row)) {
        if (h.w4 != 1) {
            const std::string cause = "record pair " + std::to_string(count + 1) + " holds " + std::to_string(h.w4) +
                                      " values; a series file holds one point per pair";
            fatal(s.path.c_str(), cause.c_str());
        }
        if (count == MAX_STEPS) fatal(s.path.c_str(), "has more than 2000 record pairs");
        all[count++] = row[0];
    }
    close_record_input(in);
    take(s, all, count, range);
}

} // namespace

void select_steps(const StepRange& range, int64_t count, const char* path, const char* option, int64_t& first,
                  int64_t& last)
{
    first = range.first;
    last = range.last == 0 ? count : range.last;
    if (first < 1 || last > count || first > last) {
        const std::string cause = std::string(option) + " " + std::to_string(range.first) + ":" +
                                  (range.last ? std::to_string(range.last) : std::string()) +
                                  " does not lie within the " + std::to_string(count) + " steps of the file";
        fatal(path, cause.c_str());
    }
}

void read_index_series(const std::string& argument, const StepRange& range, IndexSeries& s)
{
    s.source = argument;
    std::string column;
    bool csv = false, nc = false;
    const size_t colon = argument.rfind(':');
    if (ends_with(argument, ".csv")) {
        s.path = argument;
        csv = true;
    } else if (colon != std::string::npos && ends_with(argument.substr(0, colon), ".csv")) {
        s.path = argument.substr(0, colon);
        column = argument.substr(colon + 1);
        csv = true;
    } else if (colon != std::string::npos && netcdf_name(argument.substr(0, colon))) {
        s.path = argument.substr(0, colon);
        column = argument.substr(colon + 1);
        nc = true;
    } else {
        s.path = argument;
    }
    if (nc && column.empty()) fatal(s.path.c_str(), "name the series variable as FILE.nc:VAR");
    if (!csv && !nc && netcdf_name(argument)) fatal(argument.c_str(), "name the series variable as FILE.nc:VAR");

    if (csv) {
        static CsvColumn col;
        read_csv_column(s.path.c_str(), column, col, "FILE.csv:NAME or FILE.csv:INDEX");
        take(s, col.values, col.rows, range);
    } else if (nc) {
        read_netcdf_series(column, range, s);
    } else {
        read_record_series(range, s);
    }
}
