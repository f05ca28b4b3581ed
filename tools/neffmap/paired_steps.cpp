#include "paired_steps.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "run_error.hpp"

namespace {

std::string steps_text(int64_t first, int32_t n) // 0-based in, 1-based out
{
    return "steps " + std::to_string(first + 1) + " … " + std::to_string(first + n);
}

std::string where_in_series(const Pairing& p, size_t t)
{
    std::string s = "paired step " + std::to_string(t + 1);
    if (!p.series_dates.empty()) s += " (" + full_date_text(p.series_dates[t]) + ")";
    return s;
}

// After the transforms nothing may be left that the chain cannot take, and
// something must be left to correlate. `raw` holds the paired steps before.
void check_series(const PairedSteps& p, const std::vector<float>& raw, const ClimatologyPlan& plan,
                  const RunOptions& opt)
{
    const std::string& file = p.series.file;
    const std::string after = opt.anomalies && opt.detrend ? " after --anomalies and --detrend"
                              : opt.anomalies              ? " after --anomalies"
                              : opt.detrend                ? " after --detrend"
                                                           : "";
    for (size_t t = 0; t < p.values.size(); ++t)
        if (!std::isfinite(p.values[t]))
            fail(file, "the series leaves the range of single precision at " + where_in_series(p.pairing, t) +
                           after + ": scale it down first");
    const auto [lo, hi] = std::minmax_element(p.values.begin(), p.values.end());
    float largest = 0;
    for (float x : raw) largest = std::max(largest, std::fabs(x));
    // What a fit leaves of a series it describes exactly is the rounding of
    // the values read, within a few units in their last place: 2^-20 of the
    // largest of them is nothing but that.
    const bool constant =
        after.empty() ? *lo == *hi : double(*hi) - double(*lo) <= std::ldexp(double(largest), -20);
    if (!constant) return;
    char value[32];
    std::snprintf(value, sizeof value, "%.9g", double(raw.front()));
    fail(file, "the series is constant over the paired period " + series_period_text(p.pairing) +
                   (after.empty() ? std::string(" (every step holds ") + value + ")"
                                  : after + " (" + plan.description + ": nothing but rounding is left)") +
                   ": no correlation with it can be computed");
}

} // namespace

std::string series_period_text(const Pairing& p)
{
    if (!p.series_start.empty()) return p.series_start + " … " + p.series_end;
    if (!p.field_start.empty()) return p.field_start + " … " + p.field_end;
    return steps_text(p.series_first, p.n);
}

PairedSteps pair_with_field(FieldSource& field, const RunOptions& opt)
{
    PairedSteps p;
    p.series = read_series(opt.series, opt.series_read);
    const PairingSide f{field.path, &field.axis, int64_t(field.tv.sizes[0])};
    const PairingSide s{p.series.file, &p.series.axis, int64_t(p.series.values.size())};
    p.pairing = pair_steps(f, s, p.series.values.data(), opt.pairing);
    p.lag = opt.pairing.lag;
    const Pairing& pr = p.pairing;
    field.first_step = pr.field_first + 1;
    field.steps = pr.n;

    const auto first = p.series.values.begin() + pr.series_first;
    const std::vector<float> raw(first, first + pr.n);
    p.values = raw;
    // Each side's cycle by its own calendar months: with a lag they differ.
    p.field.plan = plan_climatology(pr.field_dates, pr.n, pr.kind, pr.field_calendar, opt.anomalies, opt.detrend);
    const ClimatologyPlan series_plan =
        plan_climatology(pr.series_dates, pr.n, pr.kind, pr.series_calendar, opt.anomalies, opt.detrend);
    remove_climatology(series_plan, p.values.data(), 1);
    check_series(p, raw, series_plan, opt);
    if (!opt.anomalies) {
        p.field.cycle_test = plan_annual_cycle_test(pr.field_dates, pr.kind);
        p.series_cycle = count_annual_cycles(plan_annual_cycle_test(pr.series_dates, pr.kind), p.values.data(), 1);
    }
    return p;
}

std::string annual_cycle_warning(const PairedSteps& p, const CycleCount& field)
{
    const bool series = p.series_cycle.with_cycle > 0;
    const bool points = field.tested > 0 && field.with_cycle * 10 >= field.tested;
    if (!series && !points) return "";
    char share[96];
    std::snprintf(share, sizeof share, "%.1f %% of the tested points (%lld of %lld)",
                  field.tested ? 100.0 * double(field.with_cycle) / double(field.tested) : 0.0,
                  (long long)field.with_cycle, (long long)field.tested);
    const std::string who = series && points ? "the series and " + std::string(share)
                            : series         ? "the series (and " + std::string(share) + ")"
                                             : std::string(share);
    return who + " carry an annual cycle (calendar-month means that differ, F test p < 0.001): the map may show "
                 "the seasonal cycles' correlation; give --anomalies to take them out";
}
