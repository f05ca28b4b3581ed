#include "cf_time.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

std::string lower(std::string s)
{
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool digit(char c) { return c >= '0' && c <= '9'; }

void skip_blanks(const std::string& s, size_t& i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

// Up to `max_digits` digits (at least one); false when there are none or more.
bool take_int(const std::string& s, size_t& i, int max_digits, long long& value)
{
    const size_t start = i;
    value = 0;
    while (i < s.size() && digit(s[i])) {
        if (i - start == size_t(max_digits)) return false;
        value = value * 10 + (s[i++] - '0');
    }
    return i > start;
}

bool unit_seconds(const std::string& word, CfUnits& u)
{
    static constexpr struct {
        const char* name;
        CfUnits::Unit unit;
        double seconds;
    } units[] = {
        {"s", CfUnits::Unit::seconds, 1},        {"sec", CfUnits::Unit::seconds, 1},
        {"secs", CfUnits::Unit::seconds, 1},     {"second", CfUnits::Unit::seconds, 1},
        {"seconds", CfUnits::Unit::seconds, 1},  {"min", CfUnits::Unit::seconds, 60},
        {"mins", CfUnits::Unit::seconds, 60},    {"minute", CfUnits::Unit::seconds, 60},
        {"minutes", CfUnits::Unit::seconds, 60}, {"h", CfUnits::Unit::seconds, 3600},
        {"hr", CfUnits::Unit::seconds, 3600},    {"hrs", CfUnits::Unit::seconds, 3600},
        {"hour", CfUnits::Unit::seconds, 3600},  {"hours", CfUnits::Unit::seconds, 3600},
        {"d", CfUnits::Unit::seconds, 86400},    {"day", CfUnits::Unit::seconds, 86400},
        {"days", CfUnits::Unit::seconds, 86400}, {"week", CfUnits::Unit::seconds, 604800},
        {"weeks", CfUnits::Unit::seconds, 604800}, {"month", CfUnits::Unit::months, 0},
        {"months", CfUnits::Unit::months, 0},    {"year", CfUnits::Unit::years, 0},
        {"years", CfUnits::Unit::years, 0},      {"yr", CfUnits::Unit::years, 0},
    };
    for (const auto& n : units)
        if (word == n.name) {
            u.unit = n.unit;
            u.unit_seconds = n.seconds;
            return true;
        }
    return false;
}

// The reference date and time after "since", with an optional zone.
bool parse_reference(const std::string& s, CfUnits& u)
{
    size_t i = 0;
    skip_blanks(s, i);
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    long long year, month, day = 1;
    if (!take_int(s, i, 6, year) || i >= s.size() || s[i] != '-') return false;
    ++i;
    if (!take_int(s, i, 2, month)) return false;
    if (i < s.size() && s[i] == '-') {
        ++i;
        if (!take_int(s, i, 2, day)) return false;
    }
    double second = 0;
    const size_t before_time = i;
    if (i < s.size() && (s[i] == 'T' || s[i] == ' ' || s[i] == '\t')) {
        ++i;
        skip_blanks(s, i);
        long long hour, minute = 0, sec = 0;
        if (take_int(s, i, 2, hour)) {
            if (i < s.size() && s[i] == ':') {
                ++i;
                if (!take_int(s, i, 2, minute)) return false;
                if (i < s.size() && s[i] == ':') {
                    ++i;
                    if (!take_int(s, i, 2, sec)) return false;
                }
            }
            double fraction = 0, scale = 0.1;
            if (i < s.size() && s[i] == '.') {
                ++i;
                while (i < s.size() && digit(s[i])) {
                    fraction += (s[i++] - '0') * scale;
                    scale /= 10;
                }
            }
            if (hour > 24 || minute > 59 || sec > 60) return false;
            second = double(hour * 3600 + minute * 60 + sec) + fraction;
        } else {
            i = before_time; // a blank before a zone, not a time
        }
    }
    skip_blanks(s, i);
    double offset = 0;
    const std::string rest = s.substr(i);
    if (rest == "Z" || rest == "UTC" || rest == "GMT" || rest == "utc" || rest == "gmt") {
        i = s.size();
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        const double sign = s[i++] == '-' ? -1 : 1;
        long long hh, mm = 0;
        const size_t start = i;
        if (!take_int(s, i, 4, hh)) return false;
        if (i - start > 2) { // +hhmm
            mm = hh % 100;
            hh /= 100;
        } else if (i < s.size() && s[i] == ':') {
            ++i;
            if (!take_int(s, i, 2, mm)) return false;
        }
        if (hh > 14 || mm > 59) return false;
        offset = sign * double(hh * 3600 + mm * 60);
    }
    skip_blanks(s, i);
    if (i != s.size()) return false;
    u.reference = CivilDate{negative ? -year : year, int(month), int(day)};
    u.reference_second = second - offset; // local time minus the zone's offset is universal time
    return true;
}

std::string number_text(double v)
{
    char s[40];
    std::snprintf(s, sizeof s, "%.10g", v);
    return s;
}

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

} // namespace

bool parse_cf_units(const std::string& units_text, Calendar calendar, CfUnits& out, std::string& why)
{
    const std::string units = units_text.substr(0, units_text.find('\0'));
    const std::string text = lower(units);
    const size_t since = text.find(" since ");
    CfUnits u;
    u.calendar = calendar;
    size_t a = 0;
    skip_blanks(text, a);
    std::string word = since == std::string::npos ? "" : text.substr(a, since - a);
    while (!word.empty() && (word.back() == ' ' || word.back() == '\t')) word.pop_back();
    if (since == std::string::npos || !unit_seconds(word, u) || !parse_reference(units.substr(since + 7), u)) {
        why = "time units \"" + units.substr(0, 80) +
              "\" are not \"<unit> since <date>\" with a unit of seconds, minutes, hours, days, months or years";
        return false;
    }
    StepDate check;
    if (!make_step_date(calendar, u.reference, u.reference_second, check)) {
        why = "the reference date of the time units \"" + units.substr(0, 80) + "\" does not exist in the " +
              calendar_name(calendar) + " calendar";
        return false;
    }
    out = u;
    return true;
}

bool cf_step_date(const CfUnits& u, double value, StepDate& out, std::string& why)
{
    if (!std::isfinite(value)) {
        why = "holds " + number_text(value) + ", not a time";
        return false;
    }
    const char* unit = u.unit == CfUnits::Unit::months ? "months" : "years";
    if (u.unit == CfUnits::Unit::seconds) {
        if (make_step_date(u.calendar, u.reference, u.reference_second + value * u.unit_seconds, out)) return true;
    } else if (value != std::floor(value)) {
        why = "is " + number_text(value) + " " + unit +
              ": months and years are taken as whole calendar months and years, and a fraction of one has no "
              "fixed length";
        return false;
    } else if (std::fabs(value) <= 12.0 * 2 * double(MAX_CALENDAR_YEAR)) {
        const int64_t months = u.unit == CfUnits::Unit::months ? int64_t(value) : int64_t(value) * 12;
        const int64_t index = u.reference.year * 12 + (u.reference.month - 1) + months;
        CivilDate d;
        d.year = floor_div(index, 12);
        d.month = int(index - d.year * 12) + 1;
        const int last = days_in_month(u.calendar, d.year, d.month);
        d.day = u.reference.day < last ? u.reference.day : last;
        if (make_step_date(u.calendar, d, u.reference_second, out)) return true;
    }
    why = "is " + number_text(value) + ", which lies outside the " + calendar_name(u.calendar) + " calendar's range";
    return false;
}

TimeAxis cf_time_axis(const double* values, size_t n, const std::string& units, const std::string& calendar,
                      const std::string& origin)
{
    TimeAxis axis;
    const std::string cal = calendar.substr(0, calendar.find('\0'));
    axis.origin = origin + " (" + units.substr(0, units.find('\0')).substr(0, 80) +
                  (cal.empty() ? "" : ", calendar " + cal.substr(0, 40)) + ")";
    if (!cal.empty() && !parse_calendar(cal, axis.calendar)) {
        axis.problem = "the calendar \"" + cal.substr(0, 40) +
                       "\" of " + origin + " is none of standard, gregorian, proleptic_gregorian, julian, noleap, "
                       "365_day, all_leap, 366_day, 360_day";
        return axis;
    }
    CfUnits u;
    std::string why;
    if (!parse_cf_units(units, axis.calendar, u, why)) {
        axis.problem = why + " (" + origin + ")";
        return axis;
    }
    axis.dates.resize(n);
    for (size_t i = 0; i < n; ++i)
        if (!cf_step_date(u, values[i], axis.dates[i], why)) {
            axis.problem = "step " + std::to_string(i + 1) + " of " + origin + " " + why;
            axis.dates.clear();
            return axis;
        }
    axis.has_dates = true;
    return axis;
}
