#include "time_axis.hpp"

#include <cmath>
#include <cstdio>

namespace {

// Times are rounded to the millisecond when they are made, so steps that are
// meant to be equal differ by no more than this.
constexpr double SECOND_TOLERANCE = 0.002;

int64_t month_index(const CivilDate& d) { return d.year * 12 + d.month - 1; }

std::string number_text(double v)
{
    char s[40];
    std::snprintf(s, sizeof s, "%.10g", v);
    return s;
}

std::string plural(double n, const char* unit)
{
    return number_text(n) + " " + unit + (n == 1 ? "" : "s");
}

// A length of time in the largest unit that divides it.
std::string duration_text(double seconds)
{
    const double s = std::round(seconds * 1000) / 1000;
    if (s != 0 && std::fmod(s, 86400) == 0) return plural(s / 86400, "day");
    if (s != 0 && std::fmod(s, 3600) == 0) return plural(s / 3600, "hour");
    if (s != 0 && std::fmod(s, 60) == 0) return plural(s / 60, "minute");
    return plural(s, "second");
}

std::string year_text(int64_t year)
{
    char s[32];
    std::snprintf(s, sizeof s, "%s%04lld", year < 0 ? "-" : "", static_cast<long long>(year < 0 ? -year : year));
    return s;
}

std::string date_with(const StepDate& d, int fields, bool seconds)
{
    std::string s = year_text(d.date.year);
    char part[40];
    if (fields >= 2) {
        std::snprintf(part, sizeof part, "-%02d", d.date.month);
        s += part;
    }
    if (fields >= 3) {
        std::snprintf(part, sizeof part, "-%02d", d.date.day);
        s += part;
    }
    if (fields >= 4) {
        long sec = std::lround(d.second);
        if (sec > 86399) sec = 86399;
        if (seconds) std::snprintf(part, sizeof part, " %02ld:%02ld:%02ld", sec / 3600, sec / 60 % 60, sec % 60);
        else std::snprintf(part, sizeof part, " %02ld:%02ld", sec / 3600, sec / 60 % 60);
        s += part;
    }
    return s;
}

bool step_fits(const Spacing& s, const StepDate& a, const StepDate& b)
{
    const double dt = step_seconds(b) - step_seconds(a);
    switch (s.kind) {
    case StepKind::daily: return std::fabs(dt - 86400) <= SECOND_TOLERANCE;
    case StepKind::monthly: return month_index(b.date) - month_index(a.date) == 1;
    case StepKind::yearly: return b.date.year - a.date.year == 1;
    case StepKind::fixed: return std::fabs(dt - s.seconds) <= SECOND_TOLERANCE;
    case StepKind::none: return false;
    }
    return false;
}

std::string uneven_why(const Spacing& s, const std::vector<StepDate>& dates, int64_t i)
{
    const StepDate& a = dates[size_t(i)];
    const StepDate& b = dates[size_t(i) + 1];
    const std::string steps = "steps " + std::to_string(i + 1) + " and " + std::to_string(i + 2) + " (" +
                              date_text(a, s) + " and " + date_text(b, s) + ")";
    const double dt = step_seconds(b) - step_seconds(a);
    if (dt <= 0) return steps + (dt == 0 ? " have the same time" : " go back in time");
    switch (s.kind) {
    case StepKind::monthly: {
        const int64_t m = month_index(b.date) - month_index(a.date);
        return steps + (m == 0 ? " fall in the same month" : " are " + plural(double(m), "month") + " apart, not 1");
    }
    case StepKind::yearly: {
        const int64_t y = b.date.year - a.date.year;
        return steps + (y == 0 ? " fall in the same year" : " are " + plural(double(y), "year") + " apart, not 1");
    }
    case StepKind::daily: return steps + " are " + duration_text(dt) + " apart, not 1 day";
    default: return steps + " are " + duration_text(dt) + " apart, not " + duration_text(s.seconds);
    }
}

} // namespace

Spacing step_spacing(const TimeAxis& axis)
{
    Spacing s;
    const std::vector<StepDate>& d = axis.dates;
    if (!axis.has_dates || d.size() < 2) return s;
    const double dt = step_seconds(d[1]) - step_seconds(d[0]);
    if (dt <= 0) {
        s.why = uneven_why(s, d, 0);
        s.uneven = 0;
        s.ordered = false;
        return s;
    }
    // Daily before monthly (January 31 to February 1 is a day), monthly before a
    // fixed step (30-day months of a 360-day calendar are months).
    if (std::fabs(dt - 86400) <= SECOND_TOLERANCE) s.kind = StepKind::daily;
    else if (month_index(d[1].date) - month_index(d[0].date) == 1 && dt >= 2 * 86400) s.kind = StepKind::monthly;
    else if (d[1].date.year - d[0].date.year == 1 && dt >= 60 * 86400) s.kind = StepKind::yearly;
    else {
        s.kind = StepKind::fixed;
        s.seconds = std::round(dt * 1000) / 1000;
    }
    for (size_t i = 0; i + 1 < d.size(); ++i)
        if (!step_fits(s, d[i], d[i + 1])) {
            s.why = uneven_why(s, d, int64_t(i));
            s.uneven = int64_t(i);
            s.ordered = step_seconds(d[i + 1]) > step_seconds(d[i]);
            break;
        }
    return s;
}

std::string step_kind_text(const Spacing& s)
{
    if (s.uneven >= 0) return "irregular";
    switch (s.kind) {
    case StepKind::monthly: return "monthly";
    case StepKind::yearly: return "yearly";
    case StepKind::daily: return "daily";
    case StepKind::fixed: return duration_text(s.seconds);
    case StepKind::none: return "";
    }
    return "";
}

std::string date_text(const StepDate& d, const Spacing& s)
{
    switch (s.uneven >= 0 ? StepKind::none : s.kind) {
    case StepKind::yearly: return date_with(d, 1, false);
    case StepKind::monthly: return date_with(d, 2, false);
    case StepKind::daily: return date_with(d, 3, false);
    case StepKind::fixed:
        if (std::fmod(s.seconds, 86400) == 0 && d.second == 0) return date_with(d, 3, false);
        return date_with(d, 4, std::fmod(s.seconds, 60) != 0 || std::fmod(d.second, 60) != 0);
    case StepKind::none: break;
    }
    return full_date_text(d);
}

std::string full_date_text(const StepDate& d)
{
    return d.second == 0 ? date_with(d, 3, false) : date_with(d, 4, true);
}

bool make_step_date(Calendar calendar, const CivilDate& date, double second, StepDate& out)
{
    if (!date_exists(calendar, date) || !std::isfinite(second)) return false;
    const double whole_days = std::floor(second / 86400);
    // Far beyond the calendar's range either way: refused before it can overflow.
    if (std::fabs(whole_days) > 2 * 366.0 * double(MAX_CALENDAR_YEAR)) return false;
    int64_t day = day_number(calendar, date) + int64_t(whole_days);
    double rest = std::round((second - whole_days * 86400) * 1000) / 1000;
    if (rest >= 86400) {
        rest -= 86400;
        ++day;
    }
    if (day < first_day_number(calendar) || day > last_day_number(calendar)) return false;
    out.day = day;
    out.second = rest;
    out.date = civil_date(calendar, day);
    return true;
}
