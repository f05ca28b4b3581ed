// CF time coordinates: "<unit> since <date>" in a calendar, turned into dates.
#pragma once

#include <cstddef>
#include <string>

#include "time_axis.hpp"

struct CfUnits {
    enum class Unit { seconds, months, years };
    Unit unit = Unit::seconds;
    double unit_seconds = 1; // for Unit::seconds: seconds, minutes, hours, days or weeks
    Calendar calendar = Calendar::standard;
    CivilDate reference;
    double reference_second = 0; // time of day, a time zone's offset taken off
};

// Units "<unit> since <date>": the unit seconds (s, sec), minutes (min), hours
// (h, hr), days (d), weeks, months or years (singular or plural, any case); the
// date as Y-M-D (or Y-M) with an optional time hh[:mm[:ss[.fff]]] after a blank
// or T, and an optional zone (Z, UTC, GMT, ±hh[:mm]). False, with `why` saying
// what is wrong, otherwise or when the date does not exist in the calendar.
bool parse_cf_units(const std::string& units, Calendar calendar, CfUnits& out, std::string& why);

// The instant of a coordinate value. Months and years count whole calendar
// months and years from the reference date (its day of the month kept, or the
// month's last day when the month is shorter), so a fractional value is refused;
// so is a value that is not finite or lands outside the calendar's range.
bool cf_step_date(const CfUnits& units, double value, StepDate& out, std::string& why);

// The axis of `n` coordinate values with the units and calendar attributes
// (an empty calendar is the standard one). What cannot be read becomes the
// axis' problem, naming the first bad step; `origin` names the coordinate for
// messages ("time").
TimeAxis cf_time_axis(const double* values, size_t n, const std::string& units, const std::string& calendar,
                      const std::string& origin);
