// The index series read by content, with its dates: CSV faults planted by
// hand, a year-per-row table against the same series as a dated CSV, NetCDF
// and record files, and sampledata's raw sample paired and de-seasoned.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <netcdf.h>
#include <vector>

#include "cf_time.hpp"
#include "climatology.hpp"
#include "csv_series.hpp"
#include "netcdf_time_axis.hpp"
#include "pairing.hpp"
#include "run_error.hpp"
#include "series_file.hpp"
#include "series_source.hpp"
#include "significance.hpp"
#include "test_support.hpp"

namespace {

SeriesSource csv(const std::string& text, const std::string& column = "", const char* missing = nullptr)
{
    SeriesReadOptions o;
    o.has_missing_value = missing != nullptr;
    if (missing) o.missing_value = std::atof(missing);
    SeriesSource s;
    read_csv_series(text, "in.csv", column, o, s);
    return s;
}

// The values as text ("1 2 M") or the error's cause.
std::string outcome(const std::string& text, const std::string& column = "")
{
    try {
        const SeriesSource s = csv(text, column);
        std::string v;
        for (float x : s.values) {
            if (!v.empty()) v += ' ';
            v += x == MISSING_VALUE ? std::string("M") : std::to_string(int(x));
        }
        return (s.axis.has_dates ? "dated " : "") + v;
    } catch (const RunError& e) {
        return e.cause;
    }
}

std::string wide_header_csv()
{
    std::string head = "date", row = "2000-01", row2 = "2000-02";
    for (int c = 1; c <= 1100; ++c) {
        head += ",c" + std::to_string(c);
        row += ',' + std::to_string(c);
        row2 += ',' + std::to_string(c + 1);
    }
    return head + "\n" + row + "\n" + row2 + "\n";
}

} // namespace

TEST(SeriesCsv, YearTableEqualsTheSameSeriesAsADatedCsv)
{
    std::string table = "Year,Jan,Feb,Mar,Apr,May,Jun,Jul,Aug,Sep,Oct,Nov,Dec\n";
    std::string dated = "month,nino\n";
    for (int y = 1990; y <= 1992; ++y) {
        table += std::to_string(y);
        for (int m = 1; m <= 12; ++m) {
            char cell[32];
            const bool marker = (y == 1991 && m == 3) || (y == 1992 && m >= 11);
            std::snprintf(cell, sizeof cell, "%.2f", marker ? -99.99 : 25 + 0.37 * m - 0.11 * (y - 1990) * m);
            table += std::string(",") + cell;
            dated += std::to_string(y) + "-" + (m < 10 ? "0" : "") + std::to_string(m) + "," + cell + "\n";
        }
        table += "\n";
    }
    const SeriesSource a = csv(table, "", "-99.99"), b = csv(dated, "", "-99.99");
    EXPECT_EQ(a.format, SeriesFormat::year_table);
    ASSERT_EQ(a.values.size(), 36u);
    ASSERT_EQ(b.values.size(), 36u);
    ASSERT_TRUE(a.axis.has_dates && b.axis.has_dates);
    for (size_t t = 0; t < 36; ++t) {
        EXPECT_EQ(std::memcmp(&a.values[t], &b.values[t], 4), 0) << t;
        EXPECT_EQ(a.axis.dates[t].day, b.axis.dates[t].day) << t;
    }
    EXPECT_EQ(a.values[14], MISSING_VALUE);
    EXPECT_EQ(csv(table).values[14], -99.99f) << "without --missing-value the marker is a number";

    // The marker inside the paired period stops the run, naming its month;
    // outside it, nothing is amiss.
    std::vector<double> months;
    for (int k = 0; k < 24; ++k) months.push_back(k);
    const TimeAxis field = cf_time_axis(months.data(), months.size(), "months since 1990-01-01", "", "time");
    const PairingSide f{"f.nc", &field, 24}, s{"in.csv", &a.axis, 36};
    PairingOptions o;
    try {
        pair_steps(f, s, a.values.data(), o);
        ADD_FAILURE() << "1991-03 is missing";
    } catch (const RunError& e) {
        EXPECT_EQ(e.cause.substr(0, 27), "has no value for 1991-03 (s") << e.cause;
    }
    o.has_period = true;
    o.period = parse_period("1991-04/");
    EXPECT_EQ(pair_steps(f, s, a.values.data(), o).n, 9);
}

TEST(SeriesCsv, HandMadeFaults)
{
    const std::string long_cell = "1" + std::string(5000, '9') + "e99";
    const struct {
        std::string text, column, want;
    } cases[] = {
        // A NUL byte once merged "2" and "3\n" into one row.
        {std::string("a,b\n1,2\n2\0\n3,4\n", 15), "b", "line 3 holds a NUL byte: this is not CSV text"},
        {"date,x,x\n2000-01,1,2\n2000-02,3,4\n", "x", "the name \"x\" heads columns 2 and 3: choose one by its number"},
        {"date,x,x\n2000-01,1,2\n2000-02,3,4\n", "3", "dated 2 4"},
        {wide_header_csv(), "c1100", "dated 1100 1101"},
        {wide_header_csv(), "1101", "dated 1100 1101"},
        {"v\n1\n\n3\n\n", "", "1 M 3"},                       // a blank line is a missing row in one column
        {"v\n1\nn/a\ninf\n", "", "line 4: \"inf\" is not a finite value"},
        {"v\n1\n1e50\n", "", "line 3: \"1e50\" is outside the range of single precision"},
        {"2000-01,5\n2000-02,6\n", "", "dated 5 6"},           // dates and numbers: no header
        {"time,index\n0,5\n30,6\n", "index", "5 6"},           // day numbers are no dates
        {"date,v\n2001-02-28,1\n2001-02-29,2\n", "v", "line 3: \"2001-02-29\" is not a date of the standard calendar"},
        {"date,v\n2001-02,1\n2001-03,2\n", "date", "column 1 (\"date\") holds the dates: choose a column of values"},
        {"year,a,b\n2001,1,2\n", "", "3 columns (1 \"year\", 2 \"a\", 3 \"b\"): choose one as FILE:NAME or FILE:NUMBER"},
        {"1990,1,2,3,4,5,6,7,8,9,10,11,12\n", "2", "is a table of one row per year and 12 monthly columns, read as one "
                                                    "monthly series: give it without \":2\""},
        {"1990,1,2,3,4,5,6,7,8,9,10,11,12\n1991,1,2\n", "", "dated 1 2 3 4 5 6 7 8 9 10 11 12 1 2 M M M M M M M M M M"},
        {"1990,1,2,3,4,5,6,7,8,9,10,11,12\n1990,1\n", "", "line 2: the year 1990 does not come after 1990"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(c.text, c.column), c.want) << c.text.substr(0, 60);

    std::string long_column = "v\n";
    for (int t = 0; t < 2500; ++t) long_column += std::to_string(t) + "\n";
    const SeriesSource many = csv(long_column); // more rows than the programs take: the period selects
    ASSERT_EQ(many.values.size(), 2500u);
    EXPECT_EQ(many.values[2499], 2499.0f);

    const std::string cause = outcome("v\n1\n" + long_cell + "\n");
    EXPECT_LT(cause.size(), 160u) << cause.substr(0, 200);
    EXPECT_EQ(cause.substr(0, 12), "line 3: \"199");
}

TEST(SeriesFiles, RecognisedByContentWithTheirDates)
{
    TempDir dir;
    write_file(dir.file("index.txt"), "date,nino3:4,nino3\n1990-01,1.5,7\n1990-02,2.5,8\n1990-03,3.5,9\n");
    write_file(dir.file("index.dat"), pair_bytes(1, 1, 1, {4.0f}) + pair_bytes(2, 1, 1, {-99.0f}));
    make_netcdf(dir, "series", R"(netcdf series {
dimensions: time = 4 ;
variables:
  double time(time) ; time:units = "days since 2000-01-01" ; time:calendar = "360_day" ;
  short nino(time) ; nino:scale_factor = 0.01 ; nino:add_offset = 20. ; nino:_FillValue = -32767s ; nino:units = "K" ;
data: time = 15, 45, 75, 105 ; nino = 150, -32767, 0, -250 ;
})");
    std::rename(dir.file("series.nc").c_str(), dir.file("series.data").c_str());

    SeriesReadOptions o;
    const SeriesSource t = read_series(dir.file("index.txt:nino3:4"), o);
    EXPECT_EQ(t.format, SeriesFormat::csv);
    EXPECT_EQ(t.name, "nino3:4");
    EXPECT_EQ(t.values, (std::vector<float>{1.5f, 2.5f, 3.5f}));
    EXPECT_EQ(read_series(dir.file("index.txt:3"), o).values[2], 9.0f);

    o.has_missing_value = true;
    o.missing_value = -99;
    const SeriesSource r = read_series(dir.file("index.dat"), o);
    EXPECT_EQ(r.format, SeriesFormat::records);
    EXPECT_FALSE(r.axis.has_dates);
    EXPECT_EQ(r.values, (std::vector<float>{4.0f, MISSING_VALUE}));

    const SeriesSource n = read_series(dir.file("series.data:nino"), SeriesReadOptions{});
    EXPECT_EQ(n.format, SeriesFormat::netcdf);
    EXPECT_EQ(n.units, "K");
    EXPECT_EQ(n.values, (std::vector<float>{21.5f, MISSING_VALUE, 20.0f, 17.5f}));
    ASSERT_TRUE(n.axis.has_dates) << n.axis.problem;
    EXPECT_EQ(full_date_text(n.axis.dates[3]), "2000-04-16");
    EXPECT_EQ(step_kind_text(step_spacing(n.axis)), "monthly");

    for (const auto& [argument, file] : {std::pair{dir.file("nothere.csv:a:b"), dir.file("nothere.csv")},
                                         std::pair{dir.file("series.data"), dir.file("series.data")},
                                         std::pair{dir.file("index.dat:1"), dir.file("index.dat")}}) {
        try {
            read_series(argument, o);
            ADD_FAILURE() << argument;
        } catch (const RunError& e) {
            EXPECT_EQ(e.file, file) << e.cause;
        }
    }
}

TEST(SeriesFiles, AFieldsTimeCoordinateOrItsAbsence)
{
    TempDir dir;
    make_netcdf(dir, "field", R"(netcdf field {
dimensions: time = 3 ; step = 2 ; lon = 2 ;
variables:
  float time(time) ; time:units = "days since 2001-02-27 12:00" ; time:calendar = "noleap" ;
  float step(step) ;
  float months(lon) ; months:units = "months since 2000-01-01" ;
data: time = 0, 1, 2 ; step = 0, 1 ; months = 0, 0.5 ;
})");
    int nc, dim;
    ASSERT_EQ(nc_open(dir.file("field.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    nc_inq_dimid(nc, "time", &dim);
    const TimeAxis a = read_netcdf_time_axis(nc, dim, "field.nc");
    ASSERT_TRUE(a.has_dates) << a.problem;
    EXPECT_EQ(full_date_text(a.dates[2]), "2001-03-01 12:00:00");
    EXPECT_EQ(step_kind_text(step_spacing(a)), "daily");
    nc_inq_dimid(nc, "step", &dim);
    const TimeAxis b = read_netcdf_time_axis(nc, dim, "field.nc");
    EXPECT_FALSE(b.has_dates || !b.problem.empty()) << "a coordinate without units has no dates";
    nc_close(nc);
}

TEST(SeasonalSample, OnlyTheRightMonthsGiveThePlantedCorrelation)
{
    TempDir dir;
    const RunResult run = run_program(SAMPLEDATA_EXE, "", dir.path,
                                      {"seasonal", "--lon", "24", "--lat", "12", "--region-r", "0.7", "f.nc", "t.csv"});
    ASSERT_EQ(run.status, 0) << run.err;
    int nc, var, dims[3];
    ASSERT_EQ(nc_open(dir.file("f.nc").c_str(), NC_NOWRITE, &nc), NC_NOERR);
    nc_inq_varid(nc, "field", &var);
    nc_inq_vardimid(nc, var, dims);
    const int steps = 132, points = 24 * 12;
    std::vector<float> field(size_t(steps) * points);
    std::vector<signed char> planted(points);
    ASSERT_EQ(nc_get_var_float(nc, var, field.data()), NC_NOERR);
    nc_inq_varid(nc, "planted", &var);
    nc_get_var_schar(nc, var, planted.data());
    const TimeAxis axis = read_netcdf_time_axis(nc, dims[0], "f.nc");
    nc_close(nc);
    const SeriesSource index = read_series(dir.file("t.csv"), SeriesReadOptions{});

    const PairingSide f{"f.nc", &axis, steps}, s{"t.csv", &index.axis, int64_t(index.values.size())};
    const Pairing p = pair_steps(f, s, index.values.data(), PairingOptions{});
    EXPECT_EQ(p.field_start + " " + p.field_end + " " + std::to_string(p.n), "1982-01 1990-12 108");
    EXPECT_EQ(p.series_first, 0);

    // The mean correlation over the region, after each side's calendar-month
    // means are taken out, pairing field step `field_first + t` with series
    // step `series_first + t`.
    const auto region_r = [&](int64_t field_first, int64_t series_first, int32_t n, const std::vector<StepDate>& fd,
                              const std::vector<StepDate>& sd) {
        std::vector<float> tile(field.begin() + field_first * points, field.begin() + (field_first + n) * points);
        std::vector<float> x(index.values.begin() + series_first, index.values.begin() + series_first + n);
        remove_climatology(plan_climatology(fd, n, StepKind::monthly, Calendar::standard, true, false), tile.data(), points);
        remove_climatology(plan_climatology(sd, n, StepKind::monthly, Calendar::standard, true, false), x.data(), 1);
        double sum = 0;
        int count = 0;
        std::vector<float> y(static_cast<size_t>(n));
        for (int i = 0; i < points; ++i) {
            if (!planted[size_t(i)]) continue;
            for (int t = 0; t < n; ++t) y[size_t(t)] = tile[size_t(t) * points + size_t(i)];
            sum += pearson_r(x.data(), y.data(), n);
            ++count;
        }
        return sum / count;
    };
    EXPECT_NEAR(region_r(p.field_first, p.series_first, p.n, p.field_dates, p.series_dates), 0.7, 0.1);
    // Step by step from the start of both files, as a tool without dates pairs
    // them: two years off, and nothing is found.
    const std::vector<StepDate> first_field(axis.dates.begin(), axis.dates.begin() + 108);
    // (108 months of an index with lag-1 correlation 0.7 leave a sample
    // correlation of about ±0.1 where there is none.)
    EXPECT_NEAR(region_r(0, 0, 108, first_field, first_field), 0.0, 0.25);
}
