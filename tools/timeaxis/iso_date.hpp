// Dates as people write them: ISO cells of a CSV date column and the bounds of
// --period.
#pragma once

#include <string>

#include "calendar.hpp"

struct IsoDate {
    CivilDate date;
    int fields = 0;      // 2: YYYY-MM, 3: YYYY-MM-DD, 4: with a time of day
    double second = 0;   // time of day, when fields == 4
};

// Whether the whole cell is an ISO date: YYYY-MM, YYYY-MM-DD or YYYY-MM-DD
// hh:mm[:ss[.fff]], with T in place of the blank and a trailing Z allowed; one
// or two digits for month, day, hour, minute and second. Month, day (1 ... 31),
// hour, minute and second are checked for range; whether the day exists in a
// calendar is date_exists' question. A number ("1982", "-3") is never a date.
bool parse_iso_date(const std::string& cell, IsoDate& out);

// --period START/END, inclusive, either side left empty for an open end.
struct Period {
    bool has_start = false, has_end = false;
    IsoDate start, end;
    std::string text; // as given
};
// Throws RunError{"--period", cause} when the text is not START/END with ISO
// dates, both sides are empty, or START comes after END.
Period parse_period(const std::string& text);
