// The calendars of CF time coordinates and their day arithmetic, written here
// rather than taken from a units library: the one Debian ships knows only the
// mixed Julian/Gregorian calendar, and model output comes in 360-day, no-leap
// and all-leap years as well.
//
// Years are astronomical (year 0 is 1 BC) in every calendar. A day number
// counts days without a gap; in the Julian-based calendars (standard,
// proleptic_gregorian, julian) it is the Julian day number of the civil day, so
// that 2000-01-01 of the Gregorian calendar is day 2451545 in all three and
// dates of different ones compare directly.
#pragma once

#include <cstdint>
#include <string>

enum class Calendar { standard, proleptic_gregorian, julian, noleap, all_leap, day360 };

// CF's names, case-insensitive: standard/gregorian, proleptic_gregorian,
// julian, noleap/365_day, all_leap/366_day, 360_day. False for anything else.
bool parse_calendar(const std::string& name, Calendar& calendar);
// The canonical name ("standard", "noleap", "360_day", ...).
const char* calendar_name(Calendar calendar);

// Years outside ±MAX_CALENDAR_YEAR are refused everywhere: day numbers stay far
// from overflow and times in seconds exact to the millisecond.
inline constexpr int64_t MAX_CALENDAR_YEAR = 200000;

struct CivilDate {
    int64_t year = 0;
    int month = 1; // 1 ... 12
    int day = 1;   // 1 ... days_in_month
};

bool is_leap_year(Calendar calendar, int64_t year);
int days_in_month(Calendar calendar, int64_t year, int month);
// Days of the calendar's year: 360, 365, 366, or 365/366 by its leap rule.
int days_in_year(Calendar calendar, int64_t year);

// Whether the date exists in the calendar: month and day in range, the year
// within ±MAX_CALENDAR_YEAR, and in the standard calendar not one of the ten
// days 1582-10-05 ... 1582-10-14 that the switch to the Gregorian calendar skipped.
bool date_exists(Calendar calendar, const CivilDate& date);

// The day number of an existing date (date_exists must hold), and back.
int64_t day_number(Calendar calendar, const CivilDate& date);
CivilDate civil_date(Calendar calendar, int64_t day);

// The day number of the first and of the last day of the calendar's range.
int64_t first_day_number(Calendar calendar);
int64_t last_day_number(Calendar calendar);
