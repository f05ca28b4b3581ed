#include "seasonal_sample.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <netcdf.h>
#include <numbers>
#include <random>
#include <vector>

#include "calendar.hpp"
#include "run_error.hpp"

namespace {

constexpr float FILL = 1.0e20f;

void check(int status, const std::string& path)
{
    if (status != NC_NOERR) fail(path, nc_strerror(status));
}

void text(int nc, int var, const char* name, const char* value, const std::string& path)
{
    check(nc_put_att_text(nc, var, name, std::strlen(value), value), path);
}

// The same region as the AR(1) sample's: the middle third of the latitudes and
// the second quarter of the longitudes.
bool in_region(const SeasonalSample& s, int row, int col)
{
    return row >= s.lat / 3 && row < 2 * s.lat / 3 && col >= s.lon / 4 && col < s.lon / 2;
}

} // namespace

void write_seasonal_sample(const SeasonalSample& s)
{
    const std::string& path = s.field_path;
    // One AR(1) process of standardised index anomalies over every month that
    // either file covers, month 0 being January of the earlier start.
    const int first_year = std::min(s.start_year, s.index_start_year);
    const int last_year = std::max(s.start_year + s.years, s.index_start_year + s.index_years) - 1;
    const int months = 12 * (last_year - first_year + 1);
    std::mt19937_64 gen(s.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    const double index_phi = 0.7, field_phi = 0.5;
    std::vector<double> anomaly(static_cast<size_t>(months));
    double a = noise(gen);
    for (int m = 0; m < months; ++m) {
        if (m > 0) a = index_phi * a + std::sqrt(1 - index_phi * index_phi) * noise(gen);
        anomaly[size_t(m)] = a;
    }

    std::FILE* table = std::fopen(s.table_path.c_str(), "w");
    if (!table) fail(s.table_path, std::strerror(errno));
    std::fprintf(table, "year,jan,feb,mar,apr,may,jun,jul,aug,sep,oct,nov,dec\n");
    for (int y = s.index_start_year; y < s.index_start_year + s.index_years; ++y) {
        std::fprintf(table, "%d", y);
        for (int m = 0; m < 12; ++m) {
            // A sea-surface temperature of the tropical Pacific: its own cycle
            // peaking in April, and the anomaly.
            const double cycle = 27.0 + 1.0 * std::cos(2 * std::numbers::pi * (m - 3) / 12.0);
            std::fprintf(table, ",%.4f", cycle + 0.8 * anomaly[size_t(12 * (y - first_year) + m)]);
        }
        std::fprintf(table, "\n");
    }
    if (std::fclose(table) != 0) fail(s.table_path, std::strerror(errno));

    int nc, dim_t, dim_y, dim_x, v_t, v_y, v_x, v_field, v_planted;
    check(nc_create(path.c_str(), NC_CLOBBER | NC_64BIT_OFFSET, &nc), path);
    check(nc_def_dim(nc, "time", NC_UNLIMITED, &dim_t), path);
    check(nc_def_dim(nc, "lat", size_t(s.lat), &dim_y), path);
    check(nc_def_dim(nc, "lon", size_t(s.lon), &dim_x), path);
    check(nc_def_var(nc, "time", NC_DOUBLE, 1, &dim_t, &v_t), path);
    text(nc, v_t, "units", "hours since 1800-01-01 00:00:0.0", path);
    text(nc, v_t, "calendar", "standard", path);
    text(nc, v_t, "axis", "T", path);
    check(nc_def_var(nc, "lat", NC_DOUBLE, 1, &dim_y, &v_y), path);
    text(nc, v_y, "units", "degrees_north", path);
    check(nc_def_var(nc, "lon", NC_DOUBLE, 1, &dim_x, &v_x), path);
    text(nc, v_x, "units", "degrees_east", path);
    const int dims[3] = {dim_t, dim_y, dim_x};
    check(nc_def_var(nc, "field", NC_FLOAT, 3, dims, &v_field), path);
    check(nc_put_att_float(nc, v_field, "_FillValue", NC_FLOAT, 1, &FILL), path);
    text(nc, v_field, "long_name", "sample air temperature with its seasonal cycle", path);
    text(nc, v_field, "units", "K", path);
    check(nc_def_var(nc, "planted", NC_BYTE, 2, &dims[1], &v_planted), path);
    text(nc, v_planted, "long_name", "1 where the field's anomalies are correlated with the index's", path);
    check(nc_enddef(nc), path);

    std::vector<double> lat(size_t(s.lat)), lon(size_t(s.lon));
    for (int i = 0; i < s.lat; ++i) lat[size_t(i)] = s.lat > 1 ? -90.0 + 180.0 * i / (s.lat - 1) : 0.0;
    for (int i = 0; i < s.lon; ++i) lon[size_t(i)] = 360.0 * i / s.lon;
    check(nc_put_var_double(nc, v_y, lat.data()), path);
    check(nc_put_var_double(nc, v_x, lon.data()), path);
    const size_t points = size_t(s.lat) * size_t(s.lon);
    std::vector<signed char> planted(points);
    for (size_t p = 0; p < points; ++p) planted[p] = in_region(s, int(p / size_t(s.lon)), int(p % size_t(s.lon)));
    check(nc_put_var_schar(nc, v_planted, planted.data()), path);

    const int64_t origin = day_number(Calendar::standard, CivilDate{1800, 1, 1});
    std::vector<double> state(points);
    for (double& x : state) x = noise(gen);
    std::vector<float> row(points);
    for (int t = 0; t < 12 * s.years; ++t) {
        const int year = s.start_year + t / 12, month = t % 12 + 1;
        if (t > 0)
            for (double& x : state) x = field_phi * x + std::sqrt(1 - field_phi * field_phi) * noise(gen);
        const double index = anomaly[size_t(12 * (year - first_year) + month - 1)];
        for (size_t p = 0; p < points; ++p) {
            const double phi = lat[p / size_t(s.lon)] * std::numbers::pi / 180;
            // Warm in July in the north, in January in the south, stronger towards the poles.
            const double cycle = 280.0 - 30.0 * std::fabs(std::sin(phi)) +
                                 (2.0 + 12.0 * std::fabs(std::sin(phi))) * (phi >= 0 ? -1 : 1) *
                                     std::cos(2 * std::numbers::pi * (month - 1) / 12.0);
            const double own = planted[p] ? s.region_r * index + std::sqrt(1 - s.region_r * s.region_r) * state[p]
                                           : state[p];
            row[p] = float(cycle + 1.5 * own);
        }
        const double hours = double(day_number(Calendar::standard, CivilDate{year, month, 15}) - origin) * 24.0;
        const size_t start[3] = {size_t(t), 0, 0}, count[3] = {1, size_t(s.lat), size_t(s.lon)};
        check(nc_put_vara_float(nc, v_field, start, count, row.data()), path);
        check(nc_put_vara_double(nc, v_t, start, count, &hours), path);
    }
    check(nc_close(nc), path);
}
