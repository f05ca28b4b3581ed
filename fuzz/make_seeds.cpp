// Writes the fuzz seed corpus with the suite's own record writer: small files of
// the shapes the programs read and write, some larger than the fuzz build's buffer.
#include <string>

#include "run_frame.hpp"
#include "series_file.hpp"

namespace {

void write_pairs(const std::string& path, int pairs, int points, float start)
{
    SeriesFile& f = open_output(path);
    float v[64];
    for (int t = 0; t < pairs; ++t) {
        for (int p = 0; p < points; ++p) v[p] = start + float(t) * 0.5f - float(p);
        if (t == 1 && points > 1) v[1] = MISSING_VALUE;
        write_record_header(f, RecordHeader{t + 1, 3, 4, points});
        write_record_values(f, points, v);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) fatal("usage", "make_fuzz_seeds DIRECTORY");
    const std::string dir = argv[1];
    try {
        write_pairs(dir + "/field-3x4", 3, 4, 1.0f);       // a small field series
        write_pairs(dir + "/lags-5x2", 5, 2, 0.9f);        // autocorrelations, one point missing
        write_pairs(dir + "/critic-lags-3", 1, 3, 2.0f);   // a critical-lag file
        write_pairs(dir + "/no-points", 1, 0, 0.0f);       // what sigcut writes for an empty input
        write_pairs(dir + "/series-20", 20, 1, -3.0f);     // many pairs through a small buffer
        write_pairs(dir + "/wide-40", 1, 40, 7.0f);        // a data record larger than the buffer
        finish_run();
    } catch (const RunError& e) {
        fatal(e);
    }
}
