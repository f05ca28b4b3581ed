#include "netcdf_sample.hpp"

#include <cmath>
#include <cstdio>
#include <netcdf.h>
#include <random>
#include <vector>

#include "run_frame.hpp"

namespace {

constexpr float FILL = 1.0e20f;

void check(int status, const std::string& path)
{
    if (status != NC_NOERR) fatal(path.c_str(), nc_strerror(status));
}

void text(int nc, int var, const char* name, const char* value, const std::string& path)
{
    check(nc_put_att_text(nc, var, name, std::string(value).size(), value), path);
}

// The planted region: the middle third of the latitudes and the second quarter
// of the longitudes, at every level.
bool in_region(const NetcdfSample& s, int row, int col)
{
    return row >= s.lat / 3 && row < 2 * s.lat / 3 && col >= s.lon / 4 && col < s.lon / 2;
}

} // namespace

void write_netcdf_sample(const NetcdfSample& s)
{
    const std::string& path = s.field_path;
    const size_t plane = size_t(s.lat) * size_t(s.lon);
    const size_t points = plane * size_t(s.levels > 0 ? s.levels : 1);
    int nc, dim_t, dim_z = -1, dim_y, dim_x;
    check(nc_create(path.c_str(), NC_CLOBBER | NC_NETCDF4, &nc), path);
    check(nc_def_dim(nc, "time", NC_UNLIMITED, &dim_t), path);
    if (s.levels > 0) check(nc_def_dim(nc, "lev", size_t(s.levels), &dim_z), path);
    check(nc_def_dim(nc, "lat", size_t(s.lat), &dim_y), path);
    check(nc_def_dim(nc, "lon", size_t(s.lon), &dim_x), path);
    int v_t, v_z = -1, v_y, v_x, v_field, v_index, v_planted;
    check(nc_def_var(nc, "time", NC_DOUBLE, 1, &dim_t, &v_t), path);
    text(nc, v_t, "units", "days since 2000-01-01 00:00:00", path);
    text(nc, v_t, "calendar", "360_day", path);
    text(nc, v_t, "axis", "T", path);
    if (s.levels > 0) {
        check(nc_def_var(nc, "lev", NC_DOUBLE, 1, &dim_z, &v_z), path);
        text(nc, v_z, "units", "hPa", path);
        text(nc, v_z, "axis", "Z", path);
    }
    check(nc_def_var(nc, "lat", NC_DOUBLE, 1, &dim_y, &v_y), path);
    text(nc, v_y, "units", "degrees_north", path);
    text(nc, v_y, "standard_name", "latitude", path);
    check(nc_def_var(nc, "lon", NC_DOUBLE, 1, &dim_x, &v_x), path);
    text(nc, v_x, "units", "degrees_east", path);
    text(nc, v_x, "standard_name", "longitude", path);
    int dims[4], rank = 0;
    dims[rank++] = dim_t;
    if (s.levels > 0) dims[rank++] = dim_z;
    dims[rank++] = dim_y;
    dims[rank++] = dim_x;
    check(nc_def_var(nc, "field", NC_FLOAT, rank, dims, &v_field), path);
    check(nc_put_att_float(nc, v_field, "_FillValue", NC_FLOAT, 1, &FILL), path);
    text(nc, v_field, "long_name", "AR(1) sample field", path);
    check(nc_def_var(nc, "index", NC_FLOAT, 1, &dim_t, &v_index), path);
    text(nc, v_index, "long_name", "AR(1) sample index", path);
    check(nc_def_var(nc, "planted", NC_BYTE, 2, &dims[rank - 2], &v_planted), path);
    text(nc, v_planted, "long_name", "1 where the field is correlated with the index", path);
    check(nc_enddef(nc), path);

    std::vector<double> coord(size_t(std::max(s.lat, std::max(s.lon, s.levels))));
    for (int i = 0; i < s.lat; ++i) coord[size_t(i)] = s.lat > 1 ? -90.0 + 180.0 * i / (s.lat - 1) : 0.0;
    check(nc_put_var_double(nc, v_y, coord.data()), path);
    for (int i = 0; i < s.lon; ++i) coord[size_t(i)] = 360.0 * i / s.lon;
    check(nc_put_var_double(nc, v_x, coord.data()), path);
    if (s.levels > 0) {
        for (int i = 0; i < s.levels; ++i) coord[size_t(i)] = 1000.0 - 100.0 * i;
        check(nc_put_var_double(nc, v_z, coord.data()), path);
    }
    std::vector<signed char> planted(plane);
    for (size_t p = 0; p < plane; ++p)
        planted[p] = s.region_r != 0 && in_region(s, int(p / size_t(s.lon)), int(p % size_t(s.lon)));
    check(nc_put_var_schar(nc, v_planted, planted.data()), path);

    std::mt19937_64 gen(s.seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    // Which points are missing throughout, and which have a gap at one step.
    std::vector<int> gap_step(points, -1);
    const size_t missing_every = s.missing > 0 ? std::max<size_t>(1, points / size_t(s.missing)) : 0;
    for (int k = 0; k < s.missing && size_t(k) * missing_every < points; ++k) gap_step[size_t(k) * missing_every] = -2;
    std::uniform_int_distribution<size_t> any_point(0, points - 1);
    std::uniform_int_distribution<int> any_step(0, s.steps - 1);
    for (int k = 0; k < s.gaps; ++k) {
        size_t p = any_point(gen);
        while (gap_step[p] != -1) p = (p + 1) % points;
        gap_step[p] = any_step(gen);
    }

    const double a = s.series_phi, b = s.field_phi;
    double index = noise(gen) / std::sqrt(1 - a * a);
    std::vector<double> state(points);
    for (double& x : state) x = noise(gen) / std::sqrt(1 - b * b);
    std::vector<float> row(points);
    std::FILE* csv = std::fopen(s.csv_path.c_str(), "w");
    if (!csv) fatal_errno(s.csv_path.c_str(), errno);
    std::fprintf(csv, "time,index\n");
    const double mix = std::sqrt(1 - s.region_r * s.region_r);
    for (int t = 0; t < s.steps; ++t) {
        if (t > 0) {
            index = a * index + noise(gen);
            for (double& x : state) x = b * x + noise(gen);
        }
        // In the region a point is r × the standardised index plus the rest of
        // its own standardised AR(1) series: its correlation with the index is r.
        const double index_std = index * std::sqrt(1 - a * a);
        for (size_t p = 0; p < points; ++p) {
            double x = state[p];
            if (planted[p % plane]) x = s.region_r * index_std + mix * x * std::sqrt(1 - b * b);
            row[p] = gap_step[p] == -2 || gap_step[p] == t ? FILL : float(x);
        }
        const size_t start[4] = {size_t(t), 0, 0, 0};
        size_t count[4] = {1, 0, 0, 0};
        for (int d = 1; d < rank; ++d) {
            size_t len;
            check(nc_inq_dimlen(nc, dims[d], &len), path);
            count[d] = len;
        }
        check(nc_put_vara_float(nc, v_field, start, count, row.data()), path);
        const double day = 30.0 * t;
        const float value = float(index);
        check(nc_put_vara_double(nc, v_t, start, count, &day), path);
        check(nc_put_vara_float(nc, v_index, start, count, &value), path);
        std::fprintf(csv, "%g,%.9g\n", day, double(value));
    }
    if (std::fclose(csv) != 0) fatal_errno(s.csv_path.c_str(), errno);
    check(nc_close(nc), path);
}

namespace {

// The number of values of variable `var`: the product of its dimensions' lengths.
size_t value_count(int nc, int var, const std::string& path)
{
    int ndims, dims[NC_MAX_VAR_DIMS];
    check(nc_inq_varndims(nc, var, &ndims), path);
    check(nc_inq_vardimid(nc, var, dims), path);
    size_t count = 1;
    for (int d = 0; d < ndims; ++d) {
        size_t len;
        check(nc_inq_dimlen(nc, dims[d], &len), path);
        count *= len;
    }
    return count;
}

} // namespace

void report_planted(const std::string& field_path, const std::string& map_path)
{
    int f, m, planted_var, sig_var;
    check(nc_open(field_path.c_str(), NC_NOWRITE, &f), field_path);
    check(nc_open(map_path.c_str(), NC_NOWRITE, &m), map_path);
    check(nc_inq_varid(f, "planted", &planted_var), field_path);
    check(nc_inq_varid(m, "sig_fdr", &sig_var), map_path);
    const size_t points = value_count(m, sig_var, map_path), plane = value_count(f, planted_var, field_path);
    if (plane == 0 || points % plane != 0) fatal(map_path.c_str(), "sig_fdr is not on the sample's grid");
    std::vector<signed char> planted(plane), sig(points);
    check(nc_get_var_schar(f, planted_var, planted.data()), field_path);
    check(nc_get_var_schar(m, sig_var, sig.data()), map_path);
    long long inside = 0, found = 0, outside = 0;
    for (size_t p = 0; p < points; ++p) {
        const bool in = planted[p % plane] != 0;
        inside += in;
        found += in && sig[p] == 1;
        outside += !in && sig[p] == 1;
    }
    std::printf("planted:   %lld of the %lld points of the planted region significant after FDR (%.1f %%)\n", found,
                inside, inside ? 100.0 * double(found) / double(inside) : 0.0);
    std::printf("elsewhere: %lld points significant after FDR outside the region\n", outside);
    nc_close(f);
    nc_close(m);
}
