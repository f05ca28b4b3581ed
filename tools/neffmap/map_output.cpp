#include "map_output.hpp"

#include <cmath>
#include <cstdio>
#include <iterator>
#include <netcdf.h>

#include "series_file.hpp"

namespace {

void text_attribute(int nc, int var, const char* name, const std::string& value, const std::string& path)
{
    nc_check(nc_put_att_text(nc, var, name, value.size(), value.c_str()), path, name);
}

void number_attribute(int nc, int var, const char* name, double value, const std::string& path)
{
    nc_check(nc_put_att_double(nc, var, name, NC_DOUBLE, 1, &value), path, name);
}

void count_attribute(int nc, const char* name, int64_t value, const std::string& path)
{
    const long long v = value;
    nc_check(nc_put_att_longlong(nc, NC_GLOBAL, name, NC_INT64, 1, &v), path, name);
}

// Laid out in the file as on the grid, so that each tile's hyperslab is written
// straight to its place.
void contiguous(int nc, int var, const std::string& path)
{
    nc_check(nc_def_var_chunking(nc, var, NC_CONTIGUOUS, nullptr), path, "laying out a variable");
}

int define_float(int nc, const OutputGrid& g, const char* name, const char* long_name, const std::string& path)
{
    int var;
    nc_check(nc_def_var(nc, name, NC_FLOAT, g.rank, g.dimids, &var), path, name);
    contiguous(nc, var, path);
    const float fill = NC_FILL_FLOAT;
    nc_check(nc_put_att_float(nc, var, "_FillValue", NC_FLOAT, 1, &fill), path, "_FillValue");
    text_attribute(nc, var, "long_name", long_name, path);
    text_attribute(nc, var, "units", "1", path);
    return var;
}

int define_mask(int nc, const OutputGrid& g, const char* name, const std::string& long_name, const std::string& path)
{
    int var;
    nc_check(nc_def_var(nc, name, NC_BYTE, g.rank, g.dimids, &var), path, name);
    contiguous(nc, var, path);
    const signed char fill = MASK_FILL, flags[2] = {0, 1};
    nc_check(nc_put_att_schar(nc, var, "_FillValue", NC_BYTE, 1, &fill), path, "_FillValue");
    text_attribute(nc, var, "long_name", long_name, path);
    text_attribute(nc, var, "units", "1", path);
    nc_check(nc_put_att_schar(nc, var, "flag_values", NC_BYTE, 2, flags), path, "flag_values");
    text_attribute(nc, var, "flag_meanings", "not_significant significant", path);
    return var;
}

std::string fixed(double v, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

// A tile's column onto the grid, slab by slab.
template <typename T, typename Put>
void put_tile(const MapOutput& map, const std::vector<GridSlab>& slabs, int var, const T* values, Put put,
              const char* doing)
{
    for (const GridSlab& s : slabs)
        nc_write_check(put(map.nc.ncid, var, s.start, s.count, values + s.offset), map.file.path, doing);
}

// A tile's column from the grid, slab by slab.
template <typename T, typename Get>
void get_tile(const MapOutput& map, const std::vector<GridSlab>& slabs, int var, T* values, Get get,
              const char* doing)
{
    for (const GridSlab& s : slabs)
        nc_check(get(map.nc.ncid, var, s.start, s.count, values + s.offset), map.file.path, doing);
}

// A point without a result, NaN and any other value that is not a finite
// number (the chain's missing marker included) become the fill.
const float* as_floats(MapOutput& map, const double* d, const float* f, const unsigned char* state, int32_t n)
{
    map.floats.resize(size_t(n));
    for (int32_t i = 0; i < n; ++i) {
        const float x = d ? float(d[i]) : f[i];
        map.floats[size_t(i)] = has_result(state[i]) && std::isfinite(x) && x != MISSING_VALUE ? x : NC_FILL_FLOAT;
    }
    return map.floats.data();
}

} // namespace

void define_map(MapOutput& map, const FieldSource& field, const TestSettings& test, const MapDescription& d)
{
    const std::string& path = map.file.path;
    create_netcdf(map.nc, map.file);
    const int out = map.nc.ncid;
    define_grid_like(field.tv, field.path, out, path, map.grid,
                     std::vector<std::string>(std::begin(MAP_VARIABLES), std::end(MAP_VARIABLES)));
    const OutputGrid& g = map.grid;

    const std::string method = neff_method_name(test.method);
    map.r = define_float(out, g, "r", "Pearson correlation with the series", path);
    map.slope = define_float(out, g, "slope", "least-squares slope of the point on the series", path);
    // Units only where both sides name theirs.
    if (d.slope_units.empty()) {
        nc_check(nc_del_att(out, map.slope, "units"), path, "slope units");
        text_attribute(out, map.slope, "comment", "field units per unit of the series (the inputs do not name both units)",
                       path);
    } else {
        text_attribute(out, map.slope, "units", d.slope_units, path);
    }
    map.neff = define_float(out, g, "neff", "effective sample size of the correlation with the series", path);
    text_attribute(out, map.neff, "comment", "nstar's value from the autocorrelations up to the critical lags", path);
    map.lag1 = define_float(out, g, "neff_lag1", "lag-1 effective sample size N(1 - a1 b1)/(1 + a1 b1)", path);
    map.dof = define_float(out, g, "dof", "degrees of freedom of the test, min(neff, N) - 2", path);
    text_attribute(out, map.dof, "neff_method", method, path);
    nc_check(nc_def_var(out, "p", NC_DOUBLE, g.rank, g.dimids, &map.p), path, "p");
    contiguous(out, map.p, path);
    const double pfill = NC_FILL_DOUBLE;
    nc_check(nc_put_att_double(out, map.p, "_FillValue", NC_DOUBLE, 1, &pfill), path, "_FillValue");
    const bool phase = test.kind == TestKind::phase;
    text_attribute(out, map.p, "long_name",
                   phase ? "two-sided p-value of r against phase-randomised surrogates of the series"
                         : "two-sided p-value of r under Student's t with dof degrees of freedom",
                   path);
    text_attribute(out, map.p, "units", "1", path);
    if (phase) {
        text_attribute(out, map.p, "comment",
                       "(1 + the number of surrogates whose |r| reaches |r|) / (surrogates + 1)", path);
        for (const int var : {map.neff, map.lag1, map.dof})
            text_attribute(out, var, "note", "for reference: the phase test (test = \"phase\") did not use it", path);
    }
    map.local = define_mask(out, g, "sig_local", "p < alpha (" + fixed(test.alpha, 3) + ")", path);
    map.fdr = define_mask(out, g, "sig_fdr",
                          "significant after Benjamini-Hochberg at q = " + fixed(test.q, 3) + " (p <= p_FDR)", path);

    text_attribute(out, NC_GLOBAL, "Conventions", "CF-1.8", path);
    text_attribute(out, NC_GLOBAL, "history", d.history, path);
    text_attribute(out, NC_GLOBAL, "field", d.field_source, path);
    text_attribute(out, NC_GLOBAL, "field_steps", d.field_steps, path);
    text_attribute(out, NC_GLOBAL, "series", d.series_source, path);
    text_attribute(out, NC_GLOBAL, "series_steps", d.series_steps, path);
    count_attribute(out, "steps", d.steps, path);
    text_attribute(out, NC_GLOBAL, "test", phase ? "phase" : "t", path);
    text_attribute(out, NC_GLOBAL, "neff_method", method, path);
    number_attribute(out, NC_GLOBAL, "alpha", test.alpha, path);
    number_attribute(out, NC_GLOBAL, "q", test.q, path);

    const std::pair<const char*, const std::string*> dates[] = {
        {"time_coverage_start", &d.time_coverage_start},
        {"time_coverage_end", &d.time_coverage_end},
        {"series_time_coverage_start", &d.series_time_coverage_start},
        {"series_time_coverage_end", &d.series_time_coverage_end},
        {"time_step", &d.time_step},
        {"pairing", &d.pairing},
    };
    for (const auto& [name, value] : dates)
        if (!value->empty()) text_attribute(out, NC_GLOBAL, name, *value, path);
    count_attribute(out, "lag", d.lag, path);
    text_attribute(out, NC_GLOBAL, "anomalies", d.anomalies, path);
    text_attribute(out, NC_GLOBAL, "detrend", d.detrend, path);
    nc_write_check(nc_enddef(out), path, "ending definitions");
    copy_grid_coordinates(field.tv, field.path, g, out, path);
}

void write_map_tile(MapOutput& map, const FieldSource& field, const PointTile& tile, const TileColumns& c)
{
    const std::vector<GridSlab> slabs = tile_slabs(field.tv, tile);
    const int32_t n = tile.points;
    const unsigned char* state = c.state.data();
    put_tile(map, slabs, map.r, as_floats(map, c.r.data(), nullptr, state, n), nc_put_vara_float, "writing r");
    put_tile(map, slabs, map.slope, as_floats(map, c.slope.data(), nullptr, state, n), nc_put_vara_float,
             "writing slope");
    put_tile(map, slabs, map.neff, as_floats(map, nullptr, c.neff.data(), state, n), nc_put_vara_float,
             "writing neff");
    put_tile(map, slabs, map.lag1, as_floats(map, c.neff_lag1.data(), nullptr, state, n), nc_put_vara_float,
             "writing neff_lag1");
    put_tile(map, slabs, map.dof, as_floats(map, c.dof.data(), nullptr, state, n), nc_put_vara_float,
             "writing dof");
    map.doubles.resize(size_t(n));
    for (int32_t i = 0; i < n; ++i) map.doubles[size_t(i)] = std::isnan(c.p[size_t(i)]) ? NC_FILL_DOUBLE : c.p[size_t(i)];
    put_tile(map, slabs, map.p, map.doubles.data(), nc_put_vara_double, "writing p");
    put_tile(map, slabs, map.local, c.sig_local.data(), nc_put_vara_schar, "writing sig_local");
}

void write_fdr_mask(MapOutput& map, const FieldSource& field, const MapTest& test)
{
    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    for (int64_t k = 0; k < tiles; ++k) {
        const PointTile tile = tile_at(field.tv, MAX_POINTS, k);
        const std::vector<GridSlab> slabs = tile_slabs(field.tv, tile);
        map.doubles.resize(size_t(tile.points));
        map.bytes.resize(size_t(tile.points));
        get_tile(map, slabs, map.p, map.doubles.data(), nc_get_vara_double, "reading p back");
        for (double& p : map.doubles)
            if (p == NC_FILL_DOUBLE) p = std::nan("");
        fdr_mask(test, map.doubles.data(), tile.points, map.bytes.data());
        put_tile(map, slabs, map.fdr, map.bytes.data(), nc_put_vara_schar, "writing sig_fdr");
    }
}

std::vector<float> read_map_floats(MapOutput& map, const FieldSource& field, int var)
{
    double fill = 0;
    nc_check(nc_get_att_double(map.nc.ncid, var, "_FillValue", &fill), map.file.path, "reading the map back");
    std::vector<float> all(size_t(field.tv.points));
    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    for (int64_t k = 0; k < tiles; ++k) {
        const PointTile tile = tile_at(field.tv, MAX_POINTS, k);
        map.doubles.resize(size_t(tile.points));
        get_tile(map, tile_slabs(field.tv, tile), var, map.doubles.data(), nc_get_vara_double, "reading the map back");
        for (int32_t i = 0; i < tile.points; ++i) {
            const double v = map.doubles[size_t(i)];
            all[size_t(tile.first_point + i)] = v == fill ? std::nanf("") : float(v);
        }
    }
    return all;
}

std::vector<unsigned char> read_map_mask(MapOutput& map, const FieldSource& field, int var)
{
    std::vector<unsigned char> all(size_t(field.tv.points));
    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    for (int64_t k = 0; k < tiles; ++k) {
        const PointTile tile = tile_at(field.tv, MAX_POINTS, k);
        map.bytes.resize(size_t(tile.points));
        get_tile(map, tile_slabs(field.tv, tile), var, map.bytes.data(), nc_get_vara_schar, "reading the map back");
        for (int32_t i = 0; i < tile.points; ++i) all[size_t(tile.first_point + i)] = map.bytes[size_t(i)] == 1;
    }
    return all;
}

void put_phase_attributes(MapOutput& map, const PhaseRun& phase)
{
    const std::string& path = map.file.path;
    const int out = map.nc.ncid;
    count_attribute(out, "surrogates", phase.surrogates.count, path);
    const unsigned long long seed = phase.surrogates.seed;
    nc_check(nc_put_att_ulonglong(out, NC_GLOBAL, "seed", NC_UINT64, 1, &seed), path, "seed");
    text_attribute(out, NC_GLOBAL, "surrogate_phases",
                   "2 pi (g >> 11) 2^-53, g from std::mt19937_64(seed), surrogate by surrogate in increasing "
                   "frequency",
                   path);
    number_attribute(out, NC_GLOBAL, "p_smallest", smallest_p(phase), path);
    text_attribute(out, NC_GLOBAL, "blas", phase.blas, path);
    // No point tested: no field significance, and no attribute claiming one.
    if (!std::isnan(phase.field_p)) {
        number_attribute(out, NC_GLOBAL, "field_p", phase.field_p, path);
        count_attribute(out, "points_beyond_critical", phase.field.observed, path);
    }
}

void add_map_warning(MapOutput& map, const std::string& warning)
{
    if (!warning.empty()) text_attribute(map.nc.ncid, NC_GLOBAL, "warning", warning, map.file.path);
}

void close_map(MapOutput& map, const MapTest& test)
{
    const std::string& path = map.file.path;
    const int out = map.nc.ncid;
    number_attribute(out, NC_GLOBAL, "p_FDR", test.p_fdr, path);
    // Every point of the grid in exactly one of these.
    count_attribute(out, "points_tested", test.counts.tested, path);
    count_attribute(out, "points_missing_throughout", test.counts.absent, path);
    count_attribute(out, "points_dropped_for_gaps", test.counts.gaps, path);
    count_attribute(out, "points_constant", test.counts.constant, path);
    count_attribute(out, "points_not_finite", test.counts.not_finite, path);
    count_attribute(out, "points_dof_not_positive", test.counts.no_dof, path);
    count_attribute(out, "points_significant_local", test.counts.local, path);
    count_attribute(out, "points_significant_fdr", test.fdr, path);
    count_attribute(out, "points_dof_capped", test.counts.capped, path);
    close_netcdf(map.nc, map.file);
}
