// lagscan: field series file -> autocorrelation of every point at every lag.
#include <memory>
#include <new>

#include "autocorrelation.hpp"
#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

void run()
{
    const std::string input_name = ask_file_name("Input values?", 80);
    const std::string output_name = ask_file_name("Output?", 80);
    SeriesFile& input = open_input(input_name);
    SeriesFile& output = open_output(output_name);

    // The records are read straight into the tiles the chosen kernel works on.
    const LagPath path = choose_lag_path(this_cpu());
    FieldSeries xvec;
    xvec.lanes = lag_path_lanes(path);
    xvec.v = reserve_tiles();
    LagScratch scratch;
    const std::unique_ptr<float[]> aut(new float[MAX_POINTS]); // one lag of every point, in point order
    read_field_series(input, xvec);
    const int32_t steps = xvec.count;
    const int32_t n = steps > 0 ? xvec.last.w4 : 0;

    // The results take the place of the series in its own tiles (lag j at step
    // j - 1): the run holds one matrix, not a second one for the results.
    compute_autocorrelations(path, xvec, n, scratch);

    // With fewer than two steps there is no lag to write; the output is emptied all
    // the same, so that no older result passes for this input's.
    begin_output(output);
    RecordHeader h = xvec.last;
    for (int32_t j = 1; j < steps; ++j) {
        h.w1 = j;
        gather_step(xvec, j - 1, n, aut.get());
        write_record_header(output, h);
        write_record_values(output, h.w4, aut.get());
    }
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
