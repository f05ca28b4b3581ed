// Calendars, CF time and ISO dates against published dates; step kinds; the
// pairing of a field's steps with a series' against pairing worked out by hand.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cf_time.hpp"
#include "iso_date.hpp"
#include "pairing.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

CivilDate ymd(int64_t y, int m, int d) { return CivilDate{y, m, d}; }

TimeAxis cf_axis(const std::string& units, const std::string& calendar, const std::vector<double>& values)
{
    return cf_time_axis(values.data(), values.size(), units, calendar, "time");
}

// A monthly axis of `months` steps from year/month, stamped on the 15th.
TimeAxis monthly(int64_t year, int month, int months)
{
    std::vector<double> v;
    for (int k = 0; k < months; ++k) v.push_back(k);
    return cf_axis("months since " + std::to_string(year) + "-" + std::to_string(month) + "-15", "", v);
}

// The cause of the RunError a call throws, or "no error".
template <class F> std::string error_of(F f)
{
    try {
        f();
    } catch (const RunError& e) {
        return e.file + ": " + e.cause;
    }
    return "no error";
}

} // namespace

TEST(Calendars, PublishedJulianDayNumbersAndTheSwitchOf1582)
{
    const struct {
        Calendar cal;
        CivilDate date;
        int64_t jdn;
    } known[] = {
        {Calendar::standard, ymd(2000, 1, 1), 2451545},             // J2000.0
        {Calendar::proleptic_gregorian, ymd(2000, 1, 1), 2451545},
        {Calendar::standard, ymd(1858, 11, 17), 2400001},           // MJD 0 began this midnight
        {Calendar::standard, ymd(1582, 10, 15), 2299161},           // first Gregorian day
        {Calendar::standard, ymd(1582, 10, 4), 2299160},            // last Julian day, the day before
        {Calendar::proleptic_gregorian, ymd(1582, 10, 4), 2299150},
        {Calendar::julian, ymd(2000, 1, 1), 2451558},               // 13 days behind in 2000
        {Calendar::julian, ymd(-4712, 1, 1), 0},                    // the count's origin
        {Calendar::standard, ymd(-4712, 1, 1), 0},
    };
    for (const auto& k : known) {
        SCOPED_TRACE(std::string(calendar_name(k.cal)) + " " + std::to_string(k.date.year));
        ASSERT_TRUE(date_exists(k.cal, k.date));
        EXPECT_EQ(day_number(k.cal, k.date), k.jdn);
        const CivilDate back = civil_date(k.cal, k.jdn);
        EXPECT_EQ(back.year * 10000 + back.month * 100 + back.day, k.date.year * 10000 + k.date.month * 100 + k.date.day);
    }
    EXPECT_FALSE(date_exists(Calendar::standard, ymd(1582, 10, 10)));
    EXPECT_TRUE(date_exists(Calendar::proleptic_gregorian, ymd(1582, 10, 10)));
    EXPECT_FALSE(date_exists(Calendar::proleptic_gregorian, ymd(1900, 2, 29)));
    EXPECT_TRUE(date_exists(Calendar::julian, ymd(1900, 2, 29)));
    EXPECT_TRUE(date_exists(Calendar::standard, ymd(1500, 2, 29))); // Julian rule before the switch
    EXPECT_FALSE(date_exists(Calendar::noleap, ymd(2000, 2, 29)));
    EXPECT_TRUE(date_exists(Calendar::all_leap, ymd(2001, 2, 29)));
    EXPECT_TRUE(date_exists(Calendar::day360, ymd(2001, 2, 30)));
    EXPECT_FALSE(date_exists(Calendar::day360, ymd(2001, 1, 31)));
}

// Counting days one by one from a known date, the way a wall calendar turns,
// must meet the day numbers at every step, over two thousand years each.
TEST(Calendars, DayNumbersFollowTheCalendarDayByDay)
{
    for (const Calendar cal : {Calendar::standard, Calendar::proleptic_gregorian, Calendar::julian, Calendar::noleap,
                               Calendar::all_leap, Calendar::day360}) {
        SCOPED_TRACE(calendar_name(cal));
        CivilDate d = ymd(-401, 1, 1);
        int64_t day = day_number(cal, d);
        for (int64_t k = 0; k < 2000LL * 366; ++k) {
            const CivilDate c = civil_date(cal, day);
            if (c.year != d.year || c.month != d.month || c.day != d.day || day_number(cal, d) != day) {
                ADD_FAILURE() << "day " << day << ": " << c.year << "-" << c.month << "-" << c.day << " but turned to "
                              << d.year << "-" << d.month << "-" << d.day;
                break;
            }
            ++day;
            const bool at_switch = cal == Calendar::standard && d.year == 1582 && d.month == 10 && d.day == 4;
            if (at_switch) d.day = 15;
            else if (++d.day > days_in_month(cal, d.year, d.month)) {
                d.day = 1;
                if (++d.month > 12) {
                    d.month = 1;
                    ++d.year;
                }
            }
        }
    }
}

TEST(CfTime, ValuesOfKnownFilesInEachCalendar)
{
    const struct {
        const char* units;
        const char* calendar;
        double value;
        const char* date; // full_date_text, or the start of the refusal
    } cases[] = {
        {"days since 2000-01-01", "360_day", 359, "2000-12-30"},
        {"days since 2000-01-01", "360_day", 360, "2001-01-01"},
        {"days since 2000-01-01", "360_day", 59, "2000-02-30"},
        {"days since 1850-01-01", "noleap", 54750, "2000-01-01"}, // 150 years of 365 days
        {"days since 1850-01-01", "365_day", 54809, "2000-03-01"},
        {"days since 2001-01-01", "all_leap", 59, "2001-02-29"},
        {"hours since 1800-01-01 00:00:0.0", "standard", 1673856, "1990-12-15"},
        {"seconds since 1970-01-01T00:00:00Z", "gregorian", 951782400, "2000-02-29"},
        {"days since 1582-10-04", "standard", 1, "1582-10-15"},
        {"days since 1582-10-04", "proleptic_gregorian", 1, "1582-10-05"},
        {"days since 2000-1-1 00:00:00 +6:00", "", 0, "1999-12-31 18:00:00"},
        {"Days since 2000-01-01", "", 15.5, "2000-01-16 12:00:00"},
        {"minutes since 2000-01-01 06:00", "julian", -720, "1999-12-31 18:00:00"},
        {"months since 1960-01-01", "360_day", 14, "1961-03-01"},
        {"months since 2000-01-31", "", 1, "2000-02-29"}, // the month's last day
        {"months since 2000-03-31", "noleap", -1, "2000-02-28"},
        {"years since 1900-07-01", "", 30, "1930-07-01"},
        {"months since 2000-01-01", "", 1.5, "step 1 of time is 1.5 months"},
        {"days after 2000-01-01", "", 1, "time units \"days after 2000-01-01\" are not"},
        {"days since 2000-13-01", "", 1, "the reference date"},
        {"days since 1582-10-10", "standard", 0, "the reference date"},
        {"days since 2000-01-01", "lunar", 1, "the calendar \"lunar\""},
        {"days since 2000-01-01", "", 1e300, "step 1 of time is 1e+300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.units) + " / " + c.calendar + " / " + std::to_string(c.value));
        const TimeAxis axis = cf_axis(c.units, c.calendar, {c.value});
        if (axis.has_dates) {
            EXPECT_EQ(full_date_text(axis.dates[0]), c.date);
        } else {
            EXPECT_EQ(axis.problem.rfind(c.date, 0), 0u) << axis.problem;
        }
    }
}

TEST(StepKinds, OfAxesInUnitsAndCalendars)
{
    const struct {
        const char* units;
        const char* calendar;
        std::vector<double> values;
        const char* kind;
        const char* dates; // first and last as date_text names them, or the first uneven step
    } cases[] = {
        // Monthly means stamped mid-month: 29.5 to 31 days apart in a leap year.
        {"days since 2000-01-01", "", {15.5, 45, 74.5, 105, 135.5}, "monthly", "2000-01 2000-05"},
        {"days since 2000-01-01", "360_day", {15, 45, 75, 105}, "monthly", "2000-01 2000-04"},
        {"months since 1982-01-15", "", {0, 1, 2, 3}, "monthly", "1982-01 1982-04"},
        {"days since 2000-02-27", "", {0, 1, 2, 3}, "daily", "2000-02-27 2000-03-01"},
        {"days since 2001-02-27", "noleap", {0, 1, 2}, "daily", "2001-02-27 2001-03-01"},
        {"hours since 2000-01-01", "", {0, 6, 12, 18, 24}, "6 hours", "2000-01-01 00:00 2000-01-02 00:00"},
        {"days since 1850-01-01", "noleap", {0, 365, 730}, "yearly", "1850 1852"},
        {"days since 2000-01-01", "", {0, 5, 10}, "5 days", "2000-01-01 2000-01-11"},
        {"months since 1982-01-01", "", {0, 1, 2, 14, 15}, "irregular",
         "steps 3 and 4 (1982-03 and 1983-03) are 12 months apart, not 1"},
        {"days since 2000-01-01", "", {0, 1, 3}, "irregular", "steps 2 and 3 (2000-01-02 and 2000-01-04) are 2 days apart, not 1 day"},
        {"days since 2000-01-01", "", {0, 2, 1}, "irregular", "steps 2 and 3 (2000-01-03 and 2000-01-02) go back in time"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.units) + " " + c.kind);
        const TimeAxis axis = cf_axis(c.units, c.calendar, c.values);
        ASSERT_TRUE(axis.has_dates) << axis.problem;
        const Spacing s = step_spacing(axis);
        EXPECT_EQ(step_kind_text(s), c.kind);
        if (regular(s)) EXPECT_EQ(date_text(axis.dates.front(), s) + " " + date_text(axis.dates.back(), s), c.dates);
        else EXPECT_EQ(s.why, c.dates);
    }
}

TEST(Pairing, ALongerLaterSeriesPairsTheMonthsBothCover)
{
    const TimeAxis field = monthly(1980, 1, 132);  // 1980-01 ... 1990-12
    const TimeAxis series = monthly(1982, 1, 240); // 1982-01 ... 2001-12
    const std::vector<float> values(240, 1.0f);
    const PairingSide f{"field.nc", &field, 132}, s{"index.csv", &series, 240};
    // For each lag, the month of every paired field step less the month of its
    // series step is the lag: the series' step t goes with the field's t + K.
    for (const int lag : {0, 2, -3, 24}) {
        SCOPED_TRACE(lag);
        PairingOptions o;
        o.lag = lag;
        const Pairing p = pair_steps(f, s, values.data(), o);
        ASSERT_TRUE(p.by_date);
        const int64_t last_field_month = 131, last_series_month = 24 + 239 + lag;
        const int64_t first = std::max<int64_t>(24 + lag, 0), last = std::min(last_field_month, last_series_month);
        EXPECT_EQ(p.n, last - first + 1);
        EXPECT_EQ(p.field_first, first);
        EXPECT_EQ(p.series_first, first - 24 - lag);
        for (int32_t t = 0; t < p.n; ++t) {
            const auto month = [](const StepDate& d) { return d.date.year * 12 + d.date.month; };
            ASSERT_EQ(month(p.field_dates[size_t(t)]) - month(p.series_dates[size_t(t)]), lag);
        }
        EXPECT_EQ(p.time_step, "monthly");
        EXPECT_EQ(p.field_end, "1990-12");
    }
    PairingOptions o;
    o.has_period = true;
    o.period = parse_period("1985-06/");
    const Pairing p = pair_steps(f, s, values.data(), o);
    EXPECT_EQ(p.field_start + " " + p.field_end + " " + std::to_string(p.n), "1985-06 1990-12 67");
    EXPECT_EQ(p.series_first, 41);
}

TEST(Pairing, ByPositionSelectionsFirstThenTheLagShortens)
{
    const TimeAxis field = monthly(1980, 1, 120), none;
    const std::vector<float> values(100, 2.0f);
    const PairingSide f{"field.nc", &field, 120}, s{"index.dat", &none, 100};
    PairingOptions o;
    o.field_steps = {true, 11, 110};
    o.lag = -4;
    const Pairing p = pair_steps(f, s, values.data(), o);
    EXPECT_FALSE(p.by_date);
    EXPECT_EQ(p.n, 96);
    EXPECT_EQ(p.field_first, 10);
    EXPECT_EQ(p.series_first, 4);
    EXPECT_EQ(p.field_start, "1980-11");
    EXPECT_NE(p.note.find("the series has no dates"), std::string::npos) << p.note;
}

TEST(Pairing, RefusalsNameTheDateOrTheOption)
{
    const TimeAxis field = monthly(1980, 1, 132), series = monthly(1982, 1, 240), none;
    const TimeAxis daily = cf_axis("days since 1982-01-01", "", {0, 1, 2, 3, 4});
    const TimeAxis jumpy = cf_axis("months since 1982-01-01", "", {0, 1, 2, 14, 15});
    const TimeAxis lunar = cf_axis("days since 1982-01-01", "lunar", {0, 1});
    const TimeAxis empty = cf_axis("days since 1982-01-01", "", {});
    std::vector<float> values(240, 1.0f);
    values[5] = MISSING_VALUE;   // 1982-06
    values[230] = MISSING_VALUE; // 2001-03, outside the field
    const PairingSide f{"field.nc", &field, 132}, s{"index.csv", &series, 240};
    const auto pair = [&](const PairingSide& a, const PairingSide& b, const char* period, StepSelection fs = {},
                          bool by_position = false) {
        return error_of([&] {
            PairingOptions o;
            o.has_period = *period != '\0';
            if (o.has_period) o.period = parse_period(period);
            o.field_steps = fs;
            o.pair_by_position = by_position;
            pair_steps(a, b, values.data(), o);
        });
    };
    const PairingSide none_s{"index.dat", &none, 240}, daily_s{"daily.csv", &daily, 5}, jumpy_f{"jumpy.nc", &jumpy, 5},
        lunar_f{"lunar.nc", &lunar, 2};
    const struct {
        std::string got, want;
    } cases[] = {
        {pair(f, s, ""), "index.csv: has no value for 1982-06 (step 6), inside the paired period 1982-01 … 1990-12"},
        {pair(f, s, "1982-07/"), "no error"},
        {pair(f, s, "1990-11/"), "index.csv: the common period 1990-11 … 1990-12 within --period 1990-11/ holds 2 steps"},
        {pair(f, s, "1995-01/"), "index.csv: the field and the series have no steps in common within --period 1995-01/"},
        {pair(f, s, "1983-01/", {true, 1, 10}), "--field-steps: the field and the series both have dates"},
        {pair(f, daily_s, ""), "daily.csv: the field's steps are monthly and the series' daily"},
        {pair(jumpy_f, none_s, ""), "jumpy.nc: the time axis is irregular: steps 3 and 4 (1982-03 and 1983-03)"},
        {pair(lunar_f, none_s, ""), "lunar.nc: the calendar \"lunar\" of time is none of"},
        {pair(f, none_s, ""), "index.dat: the field has 132 selected steps (1 … 132) and the series 240 (1 … 240)"},
        {pair(PairingSide{"f.dat", &none, 240}, none_s, "1982-01/"), "--period: neither the field nor the series has dates"},
        {pair(jumpy_f, PairingSide{"i.dat", &none, 5}, "", {}, true), "no error"},
        {pair(PairingSide{"empty.nc", &empty, 0}, s, "1990-01/"), "empty.nc: has no steps"}, // once read past an empty axis
    };
    for (const auto& c : cases) EXPECT_EQ(c.got.substr(0, c.want.size()), c.want) << c.got;
}

TEST(Pairing, PeriodTextsThatAreRefused)
{
    for (const char* bad : {"1982-01", "1982-01/1981-12", "/", "1982/1990", "1982-01-01/1982-13-01", "a/b", "1/2/3"})
        EXPECT_EQ(error_of([&] { parse_period(bad); }).rfind("--period: ", 0), 0u) << bad;
    const Period p = parse_period("/1992-12-31 12:00");
    EXPECT_TRUE(p.has_end && !p.has_start && p.end.fields == 4 && p.end.second == 43200);
}
