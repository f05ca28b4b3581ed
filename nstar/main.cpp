// nstar: autocorrelations and critical lags of a series and of a field ->
// effective sample size of every point.
#include <cstdio>

#include "effective_size.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

void require_header(SeriesFile& f, RecordHeader& h)
{
    if (!read_record_header(f, h)) fatal(f.name, "file ends where a record pair is required");
}

} // namespace

int main()
{
    const std::string names[5] = {
        ask_file_name("Autocorrelations of file 1 (timeseries)?", 64),
        ask_file_name("Autocorrelations of file 2 (field)?", 64),
        ask_file_name("Critical lag in file 1?", 64),
        ask_file_name("Critical lag in file 2?", 64),
        ask_file_name("Output file?", 64),
    };
    SeriesFile& series_aut = open_input(names[0]);
    SeriesFile& field_aut = open_input(names[1]);
    SeriesFile& series_lag = open_input(names[2]);
    SeriesFile& field_lag = open_input(names[3]);
    SeriesFile& output = open_output(names[4]);

    // File 1 sets the number of lags; file 2 is read pair by pair alongside it,
    // and whatever file 2 holds beyond that is never read.
    static float r1[MAX_STEPS];
    float* ac2 = reserve_matrix();
    int32_t lags = 0;
    int32_t field_points = MAX_POINTS; // the fewest values of any field record read
    RecordHeader h;
    while (read_record_header(series_aut, h)) {
        if (lags == MAX_STEPS) fatal(series_aut.name, "more record pairs than the capacity of 2000");
        read_record_values(series_aut, 1, &r1[lags]);
        if (!read_series_pair(field_aut, lags, h, ac2 + size_t(lags) * MAX_POINTS))
            fatal(field_aut.name, "file ends before the series autocorrelation file does");
        if (h.w4 < field_points) field_points = h.w4;
        ++lags;
    }

    float clag1;
    require_header(series_lag, h);
    read_record_values(series_lag, 1, &clag1);

    static float clag2[MAX_POINTS];
    RecordHeader hd;
    require_header(field_lag, hd);
    check_value_count(field_lag, hd.w4);
    read_record_values(field_lag, hd.w4, clag2);
    const int32_t n = hd.w4;
    // A point without field autocorrelations would read zeros and pass for a point
    // whose series has none: its neff would be plain L.
    if (lags > 0 && n > field_points) {
        char cause[sizeof field_aut.name + 128];
        std::snprintf(cause, sizeof cause, "critical lags of %d points, but %s holds autocorrelations of only %d",
                      n, field_aut.name, field_points);
        fatal(field_lag.name, cause);
    }

    static float neff[MAX_POINTS];
    compute_effective_sizes(r1, ac2, lags, clag1, clag2, n, neff);

    hd.w1 = NEFF_RECORD_TAG;
    write_record_header(output, hd);
    write_record_values(output, n, neff);
    finish_run();
}
