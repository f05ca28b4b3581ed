#include "pairing.hpp"

#include <cmath>

#include "run_error.hpp"
#include "series_file.hpp"

namespace {

// Times are kept to the millisecond: two of them within this are the same.
constexpr double SAME_TIME = 0.002;

// The Julian-based calendars count the same days (Julian day numbers), so their
// dates compare as instants; the model calendars have no real days to match,
// so theirs compare by what the date says.
bool real_days(Calendar c)
{
    return c == Calendar::standard || c == Calendar::proleptic_gregorian || c == Calendar::julian;
}

// Where a step falls at the resolution of its kind: month index, year, day
// number, or seconds (fixed steps and anything uneven). For daily and finer
// steps, a date of calendar `own` is counted in calendar `target`; false when
// it does not exist there.
bool step_key(const StepDate& d, Calendar own, Calendar target, StepKind kind, double& key)
{
    switch (kind) {
    case StepKind::monthly: key = double(d.date.year * 12 + d.date.month - 1); return true;
    case StepKind::yearly: key = double(d.date.year); return true;
    default: break;
    }
    int64_t day = d.day;
    if (own != target && !(real_days(own) && real_days(target))) {
        if (!date_exists(target, d.date)) return false;
        day = day_number(target, d.date);
    }
    key = kind == StepKind::daily ? double(day) : double(day) * 86400.0 + d.second;
    return true;
}

// A series date moved by `lag` steps of its kind, in its own calendar.
bool moved(const StepDate& d, Calendar own, StepKind kind, double step, int64_t lag, StepDate& out)
{
    if (lag == 0) {
        out = d;
        return true;
    }
    switch (kind) {
    case StepKind::monthly:
    case StepKind::yearly: {
        // Kept as a month index or a year; only the key is read.
        const int64_t months = kind == StepKind::monthly ? lag : lag * 12;
        const int64_t index = d.date.year * 12 + (d.date.month - 1) + months;
        out = d;
        out.date.year = index >= 0 ? index / 12 : -((-index + 11) / 12);
        out.date.month = int(index - out.date.year * 12) + 1;
        return true;
    }
    case StepKind::daily: return make_step_date(own, d.date, d.second + double(lag) * 86400.0, out);
    default: return make_step_date(own, d.date, d.second + double(lag) * step, out);
    }
}

// The key range [lo, hi] a --period covers, at the kind's resolution, in calendar c.
void period_keys(const Period& p, Calendar c, StepKind kind, double& lo, double& hi)
{
    lo = -INFINITY;
    hi = INFINITY;
    for (int side = 0; side < 2; ++side) {
        const bool start = side == 0;
        if (start ? !p.has_start : !p.has_end) continue;
        IsoDate d = start ? p.start : p.end;
        double& bound = start ? lo : hi;
        if (kind == StepKind::monthly || kind == StepKind::yearly) {
            bound = kind == StepKind::monthly ? double(d.date.year * 12 + d.date.month - 1) : double(d.date.year);
            continue;
        }
        // A bound without a day covers the month; without a time, the day.
        if (d.fields == 2) d.date.day = start ? 1 : days_in_month(c, d.date.year, d.date.month);
        if (!date_exists(c, d.date))
            fail("--period", (start ? "the start " : "the end ") + (start ? p.text.substr(0, p.text.find('/'))
                                                                           : p.text.substr(p.text.find('/') + 1)) +
                                 " does not exist in the " + calendar_name(c) + " calendar");
        const double day = double(day_number(c, d.date));
        if (kind == StepKind::daily) bound = day;
        else if (d.fields == 4) bound = day * 86400.0 + d.second + (start ? -SAME_TIME : SAME_TIME);
        else bound = start ? day * 86400.0 - SAME_TIME : (day + 1) * 86400.0 - SAME_TIME;
    }
}

std::string span_text(int64_t first, int64_t last) // 0-based in, 1-based out
{
    return std::to_string(first + 1) + " … " + std::to_string(last + 1);
}

std::string lag_text(int64_t lag)
{
    return lag == 0 ? "" : " (moved by --lag " + std::to_string(lag) + ")";
}

struct Side {
    const PairingSide* in;
    Spacing spacing;
    bool dated;
};

// A side's steps as a selection or --period chooses them, 0-based and inclusive.
void select_side(const Side& s, const StepSelection& sel, const char* option, const PairingOptions& o, int64_t& first,
                 int64_t& last)
{
    const std::string& file = s.in->file;
    const int64_t count = s.in->steps;
    if (sel.given && o.has_period && s.dated)
        fail(option, std::string("give either ") + option + " or --period for " + file + ", not both");
    if (sel.given) {
        first = sel.first - 1;
        last = (sel.last == 0 ? count : sel.last) - 1;
        if (sel.first < 1 || last >= count || first > last)
            fail(file, std::string(option) + " " + std::to_string(sel.first) + ":" +
                           (sel.last ? std::to_string(sel.last) : std::string()) + " does not lie within the " +
                           std::to_string(count) + " steps of the file");
        return;
    }
    first = 0;
    last = count - 1;
    if (!o.has_period || !s.dated) return;
    const StepKind kind = regular(s.spacing) ? s.spacing.kind : StepKind::none;
    const Calendar cal = s.in->axis->calendar;
    double lo, hi, key;
    period_keys(o.period, cal, kind, lo, hi);
    first = -1;
    const std::vector<StepDate>& d = s.in->axis->dates;
    for (int64_t i = 0; i < count; ++i) {
        step_key(d[size_t(i)], cal, cal, kind, key);
        if (key < lo || key > hi) continue;
        if (first < 0) first = i;
        last = i;
    }
    if (first < 0)
        fail(file, "no step lies within --period " + o.period.text + " (the file covers " +
                       date_text(d.front(), s.spacing) + " … " + date_text(d.back(), s.spacing) + ")");
}

void check_series_values(const Side& series, const float* values, int64_t first, int32_t n, const Spacing& format,
                         const std::string& period)
{
    for (int64_t j = first; j < first + n; ++j) {
        const float v = values[j];
        if (v != MISSING_VALUE && std::isfinite(v)) continue;
        std::string where = "step " + std::to_string(j + 1);
        if (series.dated) where = date_text(series.in->axis->dates[size_t(j)], format) + " (" + where + ")";
        fail(series.in->file, (v == MISSING_VALUE ? "has no value for " : "has a value that is not finite at ") + where +
                                  ", inside the paired period " + period +
                                  ": choose a period without it, or fill the gap");
    }
}

Pairing pair_by_position(const Side& field, const Side& series, const float* series_values, const PairingOptions& o)
{
    if (o.has_period && !field.dated && !series.dated)
        fail("--period", "neither the field nor the series has dates: select steps with --field-steps and "
                         "--series-steps instead");
    int64_t fa, fb, sa, sb;
    select_side(field, o.field_steps, "--field-steps", o, fa, fb);
    select_side(series, o.series_steps, "--series-steps", o, sa, sb);
    const std::string why = o.pair_by_position ? std::string("--pair-by-position")
                            : !field.dated && !series.dated ? std::string("neither the field nor the series has dates")
                            : !series.dated ? std::string("the series has no dates")
                                            : std::string("the field has no dates");
    if (fb - fa != sb - sa)
        fail(series.in->file, "the field has " + std::to_string(fb - fa + 1) + " selected steps (" +
                                  span_text(fa, fb) + ") and the series " + std::to_string(sb - sa + 1) + " (" +
                                  span_text(sa, sb) + "); steps are paired by position (" + why +
                                  "), so select equal periods with --field-steps and --series-steps" +
                                  (o.has_period ? " or --period" : ""));
    const int64_t k = o.lag < 0 ? -o.lag : o.lag;
    const int64_t n = fb - fa + 1 - k;
    if (n < 3)
        fail(series.in->file, std::to_string(fb - fa + 1) + " selected steps" +
                                  (k ? " less " + std::to_string(k) + " for --lag " + std::to_string(o.lag) : "") +
                                  " leave " + std::to_string(n < 0 ? 0 : n) + " paired steps; at least 3 are needed");
    if (n > MAX_STEPS)
        fail(series.in->file, std::to_string(n) + " paired steps; at most 2000 fit, so select a shorter period");
    Pairing p;
    p.n = int32_t(n);
    p.field_first = fa + (o.lag > 0 ? k : 0);
    p.series_first = sa + (o.lag < 0 ? k : 0);
    const Side& dated = field.dated ? field : series;
    const Spacing& format = dated.spacing;
    std::string period = "of steps " + span_text(p.series_first, p.series_first + n - 1);
    if (field.dated || series.dated) {
        const int64_t first = field.dated ? p.field_first : p.series_first;
        const std::vector<StepDate>& d = dated.in->axis->dates;
        period = date_text(d[size_t(first)], format) + " … " + date_text(d[size_t(first + n - 1)], format);
    }
    check_series_values(series, series_values, p.series_first, p.n, format, period);

    if (field.dated)
        p.field_dates.assign(field.in->axis->dates.begin() + p.field_first,
                             field.in->axis->dates.begin() + p.field_first + n);
    if (series.dated)
        p.series_dates.assign(series.in->axis->dates.begin() + p.series_first,
                              series.in->axis->dates.begin() + p.series_first + n);
    if (!field.dated) p.field_dates = p.series_dates;
    if (!series.dated) p.series_dates = p.field_dates;
    p.field_calendar = field.dated ? field.in->axis->calendar : series.in->axis->calendar;
    p.series_calendar = series.dated ? series.in->axis->calendar : p.field_calendar;
    if (field.dated || series.dated) {
        p.kind = regular(format) ? format.kind : StepKind::none;
        p.time_step = step_kind_text(format);
    }
    if (field.dated) {
        p.field_start = date_text(p.field_dates.front(), field.spacing);
        p.field_end = date_text(p.field_dates.back(), field.spacing);
    }
    if (series.dated) {
        const std::string a = date_text(p.series_dates.front(), series.spacing);
        const std::string b = date_text(p.series_dates.back(), series.spacing);
        if (a != p.field_start || b != p.field_end) {
            p.series_start = a;
            p.series_end = b;
        }
    }
    p.note = "steps paired by position (" + why + "): field steps " +
             span_text(p.field_first, p.field_first + n - 1) + " with series steps " +
             span_text(p.series_first, p.series_first + n - 1);
    return p;
}

Pairing pair_by_date(const Side& field, const Side& series, const float* series_values, const PairingOptions& o)
{
    if (o.field_steps.given || o.series_steps.given)
        fail(o.field_steps.given ? "--field-steps" : "--series-steps",
             "the field and the series both have dates, so their steps are paired by date: choose the period "
             "with --period START/END instead (or give --pair-by-position)");
    const Spacing& fs = field.spacing;
    const Spacing& ss = series.spacing;
    const std::string& sfile = series.in->file;
    if (!ss.ordered) fail(sfile, "the dates do not increase: " + ss.why);
    // A series of one step has no kind and pairs with any; one with gaps pairs
    // as long as its steps are of the field's kind.
    const bool same_kind = ss.kind == StepKind::none ||
                           (ss.kind == fs.kind &&
                            (fs.kind != StepKind::fixed || std::fabs(fs.seconds - ss.seconds) <= SAME_TIME));
    if (!same_kind) {
        Spacing even = ss;
        even.uneven = -1;
        const std::string series_kind = ss.uneven >= 0 ? "irregular (" + ss.why + ")" : step_kind_text(even);
        fail(sfile, "the field's steps are " + step_kind_text(fs) + " and the series' " + series_kind +
                        ": only steps of the same kind pair by date (or give --pair-by-position)");
    }
    const StepKind kind = fs.kind;
    const Calendar fc = field.in->axis->calendar, sc = series.in->axis->calendar;
    const std::vector<StepDate>& fd = field.in->axis->dates;
    const std::vector<StepDate>& sd = series.in->axis->dates;
    const int64_t nf = int64_t(fd.size()), ns = int64_t(sd.size());
    const double tol = kind == StepKind::fixed ? fs.seconds / 10 : 0.25;

    std::vector<double> kf(static_cast<size_t>(nf)), ks(static_cast<size_t>(ns));
    std::vector<char> valid(static_cast<size_t>(ns));
    for (int64_t i = 0; i < nf; ++i) step_key(fd[size_t(i)], fc, fc, kind, kf[size_t(i)]);
    int64_t s_first = -1, s_last = -1;
    for (int64_t j = 0; j < ns; ++j) {
        StepDate m;
        valid[size_t(j)] =
            moved(sd[size_t(j)], sc, kind, fs.seconds, o.lag, m) && step_key(m, sc, fc, kind, ks[size_t(j)]);
        if (!valid[size_t(j)]) continue;
        if (s_last >= 0 && ks[size_t(j)] <= ks[size_t(s_last)] + tol)
            fail(sfile, "steps " + std::to_string(s_last + 1) + " and " + std::to_string(j + 1) + " (" +
                            date_text(sd[size_t(s_last)], fs) + " and " + date_text(sd[size_t(j)], fs) +
                            ") fall on one of the field's " + step_kind_text(fs) + " steps");
        if (s_first < 0) s_first = j;
        s_last = j;
    }
    if (s_first < 0)
        fail(sfile, std::string("none of the series' dates exists in the field's ") + calendar_name(fc) + " calendar");

    const std::string field_cover = date_text(fd.front(), fs) + " … " + date_text(fd.back(), fs);
    const std::string series_cover =
        date_text(sd[size_t(s_first)], fs) + " … " + date_text(sd[size_t(s_last)], fs) + lag_text(o.lag);
    double lo = std::fmax(kf.front(), ks[size_t(s_first)] - tol);
    double hi = std::fmin(kf.back(), ks[size_t(s_last)] + tol);
    if (o.has_period) {
        double plo, phi;
        period_keys(o.period, fc, kind, plo, phi);
        lo = std::fmax(lo, plo);
        hi = std::fmin(hi, phi);
    }
    int64_t a = 0, b = nf - 1;
    while (a < nf && kf[size_t(a)] < lo) ++a;
    while (b >= 0 && kf[size_t(b)] > hi) --b;
    const std::string within = o.has_period ? " within --period " + o.period.text : "";
    const std::string covers = "the field covers " + field_cover + " and the series " + series_cover;
    if (a > b) fail(sfile, "the field and the series have no steps in common" + within + " (" + covers + ")");
    const std::string period = date_text(fd[size_t(a)], fs) + " … " + date_text(fd[size_t(b)], fs);
    const int64_t n = b - a + 1;
    if (n < 3)
        fail(sfile, "the common period " + period + within + " holds " + std::to_string(n) +
                        (n == 1 ? " step" : " steps") + "; at least 3 are needed (" + covers + ")");
    if (n > MAX_STEPS)
        fail(sfile, "the common period " + period + within + " holds " + std::to_string(n) +
                        " steps; at most 2000 fit, so narrow it with --period (" + covers + ")");

    // Walk both: every field step of the period finds its series step, and no
    // series step of the period is left over.
    int64_t j = 0, c = -1;
    while (j < ns && (!valid[size_t(j)] || ks[size_t(j)] < kf[size_t(a)] - tol)) ++j;
    for (int64_t i = a; i <= b; ++i) {
        if (i > a && j < ns && (!valid[size_t(j)] || ks[size_t(j)] < kf[size_t(i)] - tol)) {
            const std::string date = full_date_text(sd[size_t(j)]);
            fail(sfile, valid[size_t(j)]
                            ? "the field has no step for the series' " + date_text(sd[size_t(j)], fs) + " (step " +
                                  std::to_string(j + 1) + lag_text(o.lag) + "), inside the paired period " + period
                            : "the series' " + date + " (step " + std::to_string(j + 1) + lag_text(o.lag) +
                                  ") does not exist in the field's " + calendar_name(fc) +
                                  " calendar, inside the paired period " + period);
        }
        if (j >= ns || std::fabs(ks[size_t(j)] - kf[size_t(i)]) > tol)
            fail(sfile, "has no step for " + date_text(fd[size_t(i)], fs) + lag_text(o.lag) +
                            ", inside the paired period " + period + ": choose a period without it");
        if (c < 0) c = j;
        ++j;
    }
    check_series_values(series, series_values, c, int32_t(n), fs, period);

    Pairing p;
    p.by_date = true;
    p.n = int32_t(n);
    p.field_first = a;
    p.series_first = c;
    p.field_dates.assign(fd.begin() + a, fd.begin() + b + 1);
    p.series_dates.assign(sd.begin() + c, sd.begin() + c + n);
    p.field_calendar = fc;
    p.series_calendar = sc;
    p.kind = kind;
    p.time_step = step_kind_text(fs);
    p.field_start = date_text(p.field_dates.front(), fs);
    p.field_end = date_text(p.field_dates.back(), fs);
    const std::string s0 = date_text(p.series_dates.front(), fs), s1 = date_text(p.series_dates.back(), fs);
    if (s0 != p.field_start || s1 != p.field_end) {
        p.series_start = s0;
        p.series_end = s1;
    }
    return p;
}

} // namespace

Pairing pair_steps(const PairingSide& field, const PairingSide& series, const float* series_values,
                   const PairingOptions& o)
{
    for (const PairingSide* side : {&field, &series}) {
        if (side->steps < 1) fail(side->file, "has no steps");
        if (side->axis->has_dates && int64_t(side->axis->dates.size()) != side->steps)
            fail(side->file, "holds " + std::to_string(side->axis->dates.size()) + " dates for " +
                                 std::to_string(side->steps) + " steps");
    }
    const char* const hint = "; give --pair-by-position to pair the steps by their order instead";
    if (!o.pair_by_position) {
        if (!field.axis->problem.empty()) fail(field.file, field.axis->problem + hint);
        if (!series.axis->problem.empty()) fail(series.file, series.axis->problem + hint);
    }
    const Side f{&field, step_spacing(*field.axis), field.axis->has_dates};
    const Side s{&series, step_spacing(*series.axis), series.axis->has_dates};
    if (f.dated && f.spacing.uneven >= 0 && !o.pair_by_position)
        fail(field.file, "the time axis is irregular: " + f.spacing.why +
                             "; give --pair-by-position to pair the steps by their order all the same");
    if (f.dated && s.dated && !o.pair_by_position && f.spacing.kind != StepKind::none)
        return pair_by_date(f, s, series_values, o);
    return pair_by_position(f, s, series_values, o);
}
