// libFuzzer target: any bytes as the date texts a user or a file gives (an ISO
// cell, --period, CF units and calendar with coordinate values) and as two
// time axes to pair. Nothing may crash or overflow (the sanitizers watch); every
// date produced must exist in its calendar and agree with its day number; a
// pairing that succeeds must lie within both files, hold 3 ... 2000 steps and,
// by month, put the lag between each pair's months.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cf_time.hpp"
#include "iso_date.hpp"
#include "pairing.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

void check_dates(const TimeAxis& axis)
{
    if (!axis.has_dates) {
        if (!axis.dates.empty()) std::abort();
        return;
    }
    for (const StepDate& d : axis.dates) {
        if (!date_exists(axis.calendar, d.date) || day_number(axis.calendar, d.date) != d.day) std::abort();
        if (!(d.second >= 0 && d.second < 86400)) std::abort();
        // A date of the ISO range reads back as itself.
        if (axis.calendar == Calendar::standard && d.date.year >= 1583 && d.date.year <= 9999) {
            IsoDate back;
            if (!parse_iso_date(full_date_text(d), back) || back.date.year != d.date.year ||
                back.date.month != d.date.month || back.date.day != d.date.day)
                std::abort();
        }
    }
    const Spacing s = step_spacing(axis);
    if (s.uneven >= int64_t(axis.dates.size())) std::abort();
    for (const StepDate& d : axis.dates) date_text(d, s);
}

std::string line(const std::string& text, size_t& at)
{
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string l = text.substr(at, end - at);
    at = end < text.size() ? end + 1 : end;
    return l;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    IsoDate iso;
    if (parse_iso_date(text, iso) && (iso.date.month < 1 || iso.date.month > 12 || iso.date.day < 1 || iso.date.day > 31))
        std::abort();

    // Lines: units, calendar, period; then the coordinate values as doubles.
    size_t at = 0;
    const std::string units = line(text, at), calendar = line(text, at), period_text = line(text, at);
    std::vector<double> values((size - at) / 8);
    if (!values.empty()) std::memcpy(values.data(), data + at, values.size() * 8);
    const size_t half = values.size() / 2;
    const TimeAxis field = cf_time_axis(values.data(), half, units, calendar, "time");
    const TimeAxis series = cf_time_axis(values.data() + half, values.size() - half, units, calendar, "time");
    check_dates(field);
    check_dates(series);

    PairingOptions o;
    try {
        o.period = parse_period(period_text);
        o.has_period = true;
    } catch (const RunError& e) {
        if (e.file != "--period" || e.cause.empty()) std::abort();
    }
    o.lag = size > 0 ? int64_t(data[0] % 7) - 3 : 0;
    o.pair_by_position = size > 1 && data[1] == 'P';
    std::vector<float> series_values(series.dates.size() + values.size() - half, 1.0f);
    if (size > 2 && data[2] < series_values.size()) series_values[data[2]] = MISSING_VALUE;
    const PairingSide f{"field", &field, int64_t(half)}, s{"series", &series, int64_t(values.size() - half)};
    try {
        const Pairing p = pair_steps(f, s, series_values.data(), o);
        if (p.n < 3 || p.n > MAX_STEPS || p.field_first < 0 || p.series_first < 0 ||
            p.field_first + p.n > f.steps || p.series_first + p.n > s.steps)
            std::abort();
        for (int32_t t = 0; t < p.n; ++t)
            if (series_values[size_t(p.series_first + t)] == MISSING_VALUE) std::abort();
        if (p.by_date && p.kind == StepKind::monthly)
            for (int32_t t = 0; t < p.n; ++t) {
                const StepDate& a = p.field_dates[size_t(t)];
                const StepDate& b = p.series_dates[size_t(t)];
                if ((a.date.year - b.date.year) * 12 + a.date.month - b.date.month != o.lag) std::abort();
            }
    } catch (const RunError& e) {
        if (e.file.empty() || e.cause.empty()) std::abort();
    }
    return 0;
}
