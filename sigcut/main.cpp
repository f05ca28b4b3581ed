// sigcut: autocorrelation file -> critical lag of every point, in "critic-lags".
#include "critical_lag.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

int main()
{
    const std::string input_name = ask_file_name("Fichero 1 (input)?", 64);
    SeriesFile& input = open_input(input_name);
    SeriesFile& output = open_output("critic-lags");

    // Records are kept as rows (lag-major) so the scan runs across points.
    float* x = reserve_matrix();
    int32_t lags = 0;
    RecordHeader h, last{};
    while (read_series_pair(input, lags, h, x + size_t(lags) * MAX_POINTS)) {
        last = h;
        ++lags;
    }
    // An input without records still replaces an older result: one pair of no
    // points, so "critic-lags" always describes the latest input.
    const int32_t n = lags > 0 ? last.w4 : 0;

    static float lag[MAX_POINTS];
    compute_critical_lags(x, lags, n, lag);

    write_record_header(output, last);
    write_record_values(output, n, lag);
    finish_run();
}
