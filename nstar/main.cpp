// nstar: autocorrelations and critical lags of a series and of a field ->
// effective sample size of every point.
#include <cstdio>
#include <memory>
#include <new>

#include "effective_size.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

void require_header(SeriesFile& f, RecordHeader& h)
{
    if (!read_record_header(f, h)) fail(f.name, "file ends where a record pair is required");
}

void run()
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
    // and whatever file 2 holds beyond that is never read. Its records are kept as
    // rows (lag-major), one tile as wide as the point capacity.
    const std::unique_ptr<float[]> r1(new float[MAX_STEPS]);
    const std::unique_ptr<float[]> clag2(new float[MAX_POINTS]);
    const std::unique_ptr<float[]> neff(new float[MAX_POINTS]);
    FieldSeries ac2;
    ac2.lanes = MAX_POINTS;
    ac2.v = reserve_matrix();
    int32_t& lags = ac2.count;
    int32_t field_points = MAX_POINTS; // the fewest values of any field record read
    RecordHeader h;
    while (read_record_header(series_aut, h)) {
        if (lags == MAX_STEPS) fail(series_aut.name, "more record pairs than the capacity of 2000");
        read_record_values(series_aut, 1, &r1[lags]);
        if (!read_series_pair(field_aut, lags, h, ac2.v + size_t(lags) * MAX_POINTS))
            fail(field_aut.name, "file ends before the series autocorrelation file does");
        if (h.w4 < field_points) field_points = h.w4;
        ++lags;
    }

    float clag1;
    require_header(series_lag, h);
    read_record_values(series_lag, 1, &clag1);

    RecordHeader hd;
    require_header(field_lag, hd);
    check_value_count(field_lag, hd.w4);
    read_record_values(field_lag, hd.w4, clag2.get());
    const int32_t n = hd.w4;
    // A point without field autocorrelations would read zeros and pass for a point
    // whose series has none: its neff would be plain L.
    if (lags > 0 && n > field_points) {
        char cause[sizeof field_aut.name + 128];
        std::snprintf(cause, sizeof cause, "critical lags of %d points, but %s holds autocorrelations of only %d",
                      n, field_aut.name, field_points);
        fail(field_lag.name, cause);
    }

    compute_effective_sizes(r1.get(), lags, ac2, clag1, clag2.get(), n, neff.get());

    hd.w1 = NEFF_RECORD_TAG;
    write_record_header(output, hd);
    write_record_values(output, n, neff.get());
    finish_run();
}

} // namespace

int main()
{
    try {
        run();
    } catch (const RunError& e) {
        fatal(e);
    } catch (const std::bad_alloc&) {
        fatal_out_of_memory();
    }
}
