// sigcut: autocorrelation file -> critical lag of every point, in "critic-lags".
#include <memory>
#include <new>

#include "critical_lag.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

void run()
{
    const std::string input_name = ask_file_name("Fichero 1 (input)?", 64);
    SeriesFile& input = open_input(input_name);
    SeriesFile& output = open_output("critic-lags");

    // Records are kept as rows (lag-major), one tile as wide as the point capacity,
    // so the scan runs across points.
    FieldSeries x;
    x.lanes = MAX_POINTS;
    x.v = reserve_matrix();
    const std::unique_ptr<float[]> lag(new float[MAX_POINTS]);
    RecordHeader h, last{};
    while (read_series_pair(input, x.count, h, x.v + size_t(x.count) * MAX_POINTS)) {
        last = h;
        ++x.count;
    }
    // An input without records still replaces an older result: one pair of no
    // points, so "critic-lags" always describes the latest input.
    const int32_t n = x.count > 0 ? last.w4 : 0;

    compute_critical_lags(x, n, lag.get());

    write_record_header(output, last);
    write_record_values(output, n, lag.get());
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
