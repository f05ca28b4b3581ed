#include "calendar.hpp"

#include <strings.h>

namespace {

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The first Gregorian day of the standard calendar, 1582-10-15, and the day
// before it, Julian 1582-10-04.
constexpr int64_t GREGORIAN_START = 2299161;

bool gregorian_leap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
bool julian_leap(int64_t y) { return y % 4 == 0; }

// Days since March 1 of year 0 in the cycle of each calendar, with March as the
// first month so that the leap day falls last.
int64_t day_of_march_year(int month, int day) { return (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1; }

void from_march_day(int64_t doy, int& month, int& day)
{
    const int64_t mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
}

// Gregorian: 400-year eras of 146097 days. Day 0 of the count is 0000-03-01,
// Julian day number 1721120.
int64_t gregorian_day(const CivilDate& d)
{
    const int64_t y = d.year - (d.month <= 2);
    const int64_t era = floor_div(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + day_of_march_year(d.month, d.day);
    return era * 146097 + doe + 1721120;
}

CivilDate gregorian_civil(int64_t jdn)
{
    const int64_t z = jdn - 1721120;
    const int64_t era = floor_div(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    CivilDate c;
    from_march_day(doe - (365 * yoe + yoe / 4 - yoe / 100), c.month, c.day);
    c.year = yoe + era * 400 + (c.month <= 2);
    return c;
}

// Julian: 4-year cycles of 1461 days. Day 0 is Julian 0000-03-01, Julian day
// number 1721118.
int64_t julian_day(const CivilDate& d)
{
    const int64_t y = d.year - (d.month <= 2);
    const int64_t era = floor_div(y, 4);
    const int64_t yoe = y - era * 4;
    return era * 1461 + yoe * 365 + day_of_march_year(d.month, d.day) + 1721118;
}

CivilDate julian_civil(int64_t jdn)
{
    const int64_t z = jdn - 1721118;
    const int64_t era = floor_div(z, 1461);
    const int64_t doe = z - era * 1461;
    const int64_t yoe = (doe - doe / 1460) / 365;
    CivilDate c;
    from_march_day(doe - 365 * yoe, c.month, c.day);
    c.year = yoe + era * 4 + (c.month <= 2);
    return c;
}

constexpr int DAYS_BEFORE_MONTH[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Calendars whose years all have the same length.
int64_t fixed_year_day(int year_days, const CivilDate& d)
{
    const int64_t before = year_days == 360 ? 30 * (d.month - 1)
                                            : DAYS_BEFORE_MONTH[d.month - 1] + (year_days == 366 && d.month > 2);
    return d.year * year_days + before + d.day - 1;
}

CivilDate fixed_year_civil(int year_days, int64_t day)
{
    CivilDate c;
    c.year = floor_div(day, year_days);
    int rest = int(day - c.year * year_days);
    if (year_days == 360) {
        c.month = rest / 30 + 1;
        c.day = rest % 30 + 1;
        return c;
    }
    c.month = 1;
    for (;;) {
        const int length =
            DAYS_BEFORE_MONTH[c.month] - DAYS_BEFORE_MONTH[c.month - 1] + (year_days == 366 && c.month == 2);
        if (rest < length) break;
        rest -= length;
        ++c.month;
    }
    c.day = rest + 1;
    return c;
}

int fixed_year_days(Calendar c) { return c == Calendar::day360 ? 360 : c == Calendar::noleap ? 365 : 366; }

bool fixed_year(Calendar c) { return c == Calendar::day360 || c == Calendar::noleap || c == Calendar::all_leap; }

} // namespace

bool parse_calendar(const std::string& name, Calendar& calendar)
{
    static constexpr struct {
        const char* name;
        Calendar calendar;
    } names[] = {{"standard", Calendar::standard},   {"gregorian", Calendar::standard},
                 {"proleptic_gregorian", Calendar::proleptic_gregorian},
                 {"julian", Calendar::julian},       {"noleap", Calendar::noleap},
                 {"365_day", Calendar::noleap},      {"all_leap", Calendar::all_leap},
                 {"366_day", Calendar::all_leap},    {"360_day", Calendar::day360}};
    // Attributes written from Fortran often carry trailing blanks or a NUL.
    std::string trimmed = name.substr(0, name.find('\0'));
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
    while (!trimmed.empty() && (trimmed.front() == ' ' || trimmed.front() == '\t')) trimmed.erase(0, 1);
    for (const auto& n : names)
        if (strcasecmp(trimmed.c_str(), n.name) == 0) {
            calendar = n.calendar;
            return true;
        }
    return false;
}

const char* calendar_name(Calendar calendar)
{
    switch (calendar) {
    case Calendar::standard: return "standard";
    case Calendar::proleptic_gregorian: return "proleptic_gregorian";
    case Calendar::julian: return "julian";
    case Calendar::noleap: return "noleap";
    case Calendar::all_leap: return "all_leap";
    case Calendar::day360: return "360_day";
    }
    return "?";
}

bool is_leap_year(Calendar calendar, int64_t year)
{
    switch (calendar) {
    case Calendar::standard: return year < 1582 ? julian_leap(year) : gregorian_leap(year);
    case Calendar::proleptic_gregorian: return gregorian_leap(year);
    case Calendar::julian: return julian_leap(year);
    case Calendar::noleap: case Calendar::day360: return false;
    case Calendar::all_leap: return true;
    }
    return false;
}

int days_in_month(Calendar calendar, int64_t year, int month)
{
    if (month < 1 || month > 12) return 0;
    if (calendar == Calendar::day360) return 30;
    const int length = DAYS_BEFORE_MONTH[month] - DAYS_BEFORE_MONTH[month - 1];
    return month == 2 && is_leap_year(calendar, year) ? length + 1 : length;
}

int days_in_year(Calendar calendar, int64_t year)
{
    if (fixed_year(calendar)) return fixed_year_days(calendar);
    // The standard calendar's 1582 lost ten days at the switch.
    if (calendar == Calendar::standard && year == 1582) return 355;
    return is_leap_year(calendar, year) ? 366 : 365;
}

bool date_exists(Calendar calendar, const CivilDate& date)
{
    if (date.year < -MAX_CALENDAR_YEAR || date.year > MAX_CALENDAR_YEAR) return false;
    if (date.day < 1 || date.day > days_in_month(calendar, date.year, date.month)) return false;
    return !(calendar == Calendar::standard && date.year == 1582 && date.month == 10 && date.day > 4 && date.day < 15);
}

int64_t day_number(Calendar calendar, const CivilDate& date)
{
    switch (calendar) {
    case Calendar::proleptic_gregorian: return gregorian_day(date);
    case Calendar::julian: return julian_day(date);
    case Calendar::standard: {
        const bool gregorian =
            date.year > 1582 || (date.year == 1582 && (date.month > 10 || (date.month == 10 && date.day >= 15)));
        return gregorian ? gregorian_day(date) : julian_day(date);
    }
    default: return fixed_year_day(fixed_year_days(calendar), date);
    }
}

CivilDate civil_date(Calendar calendar, int64_t day)
{
    switch (calendar) {
    case Calendar::proleptic_gregorian: return gregorian_civil(day);
    case Calendar::julian: return julian_civil(day);
    case Calendar::standard: return day >= GREGORIAN_START ? gregorian_civil(day) : julian_civil(day);
    default: return fixed_year_civil(fixed_year_days(calendar), day);
    }
}

int64_t first_day_number(Calendar calendar) { return day_number(calendar, CivilDate{-MAX_CALENDAR_YEAR, 1, 1}); }

int64_t last_day_number(Calendar calendar) { return day_number(calendar, CivilDate{MAX_CALENDAR_YEAR, 12, 31}); }
