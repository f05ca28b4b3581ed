// The dates of a file's time steps, and how far apart they are: the step kind
// decides how two files' steps are paired and how a seasonal cycle is taken out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "calendar.hpp"

// One step's instant in its axis' calendar.
struct StepDate {
    CivilDate date;
    double second = 0;      // since the start of the day, 0 <= second < 86400
    int64_t day = 0;        // day_number(calendar, date)
};

inline double step_seconds(const StepDate& d) { return double(d.day) * 86400.0 + d.second; }

// A time axis: one StepDate per step, or none at all.
struct TimeAxis {
    bool has_dates = false;
    // Non-empty when the file names dates that cannot be read (units, calendar,
    // a fractional month): why, in one clause. has_dates is then false, and
    // pairing refuses the file unless steps are paired by position.
    std::string problem;
    Calendar calendar = Calendar::standard;
    std::vector<StepDate> dates;
    std::string origin; // where the dates come from, for messages: "time (days since 2000-01-01, 360_day)"
};

enum class StepKind {
    monthly, // one step per calendar month, on any day within it
    yearly,  // one step per calendar year
    daily,   // 86400 seconds apart
    fixed,   // a fixed number of seconds apart (hours, pentads, ...)
    none,    // fewer than two steps, or no dates
};

// The step kind of an axis as its first step shows it, and the first step that
// breaks it. An axis of one step or none has kind none.
struct Spacing {
    StepKind kind = StepKind::none;
    double seconds = 0;   // the step of a fixed kind
    int64_t uneven = -1;  // 0-based: step `uneven` to `uneven + 1` breaks the kind; -1 when none does
    bool ordered = true;  // false when that step goes back in time or stays put
    std::string why;      // when uneven: "steps 12 and 13 (1982-12 and 1983-12) are 12 months apart, not 1"
};
Spacing step_spacing(const TimeAxis& axis);
inline bool regular(const Spacing& s) { return s.kind != StepKind::none && s.uneven < 0; }

// "monthly", "yearly", "daily", "6 hours", "5 days", "90 seconds"; "irregular"
// for an uneven axis; "" for kind none.
std::string step_kind_text(const Spacing& s);

// A date as its step kind names it: YYYY for yearly steps, YYYY-MM monthly,
// YYYY-MM-DD daily and for fixed steps of whole days, YYYY-MM-DD hh:mm for
// steps of whole minutes and YYYY-MM-DD hh:mm:ss otherwise (irregular and
// kind none: hh:mm:ss only when the time of day is not midnight).
std::string date_text(const StepDate& d, const Spacing& s);
// YYYY-MM-DD, with " hh:mm:ss" when the time of day is not midnight.
std::string full_date_text(const StepDate& d);

// A step's instant from a civil date and a time of day, which may run past the
// day (negative or beyond 86400 s) in either direction; false when the date does
// not exist in the calendar or the result leaves its range.
bool make_step_date(Calendar calendar, const CivilDate& date, double second, StepDate& out);
