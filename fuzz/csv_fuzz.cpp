// libFuzzer target: any bytes as a CSV series, chosen without a column, by
// number, by name and by a name holding ':', with and without a missing-value
// marker. Nothing may crash or overflow (the sanitizers watch); a refusal names
// the file and says why in a bounded line; a series read has a value (or the
// missing marker) for every row and a date for every row when it has dates,
// and no value that is not finite. Text holding a NUL byte is always refused.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "csv_series.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool has_nul = text.find('\0') != std::string::npos;
    for (const char* column : {"", "2", "b", "x:y"})
        for (const bool marker : {false, true}) {
            SeriesReadOptions o;
            o.has_missing_value = marker;
            o.missing_value = -99.99;
            SeriesSource s;
            try {
                read_csv_series(text, "fuzzed.csv", column, o, s);
            } catch (const RunError& e) {
                // At most 20 column names of 80 characters each are ever listed.
                if (e.file != "fuzzed.csv" || e.cause.empty() || e.cause.size() > 2400) std::abort();
                continue;
            }
            if (has_nul || s.values.empty()) std::abort();
            if (s.axis.has_dates != !s.axis.dates.empty() || (s.axis.has_dates && s.axis.dates.size() != s.values.size()))
                std::abort();
            for (float v : s.values)
                if (!std::isfinite(v)) std::abort();
        }
    return 0;
}
