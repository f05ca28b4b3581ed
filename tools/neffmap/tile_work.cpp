#include "tile_work.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "missing_points.hpp"
#include "record_access.hpp"
#include "significance.hpp"
#include "run_frame.hpp"

namespace {

// Which points are missing at some selected steps, and which at all of them.
void point_states(const float* values, int32_t steps, int32_t points, unsigned char* state)
{
    static int32_t missing[MAX_POINTS];
    for (int32_t i = 0; i < points; ++i) missing[i] = 0;
    for (int32_t t = 0; t < steps; ++t) {
        const float* row = values + size_t(t) * size_t(points);
        for (int32_t i = 0; i < points; ++i) missing[i] += row[i] == MISSING_VALUE;
    }
    for (int32_t i = 0; i < points; ++i)
        state[i] = missing[i] == 0 ? POINT_PRESENT : missing[i] == steps ? POINT_ABSENT : POINT_GAP;
}

// r for every present point; points are copied 16 at a time into contiguous
// columns so that the strided reads stay within a cache line.
void tile_correlations(const float* values, int32_t steps, int32_t points, const float* series,
                       const unsigned char* state, double* r)
{
    constexpr int32_t block = 16;
    static float columns[block * MAX_STEPS];
    for (int32_t p0 = 0; p0 < points; p0 += block) {
        const int32_t width = points - p0 < block ? points - p0 : block;
        for (int32_t t = 0; t < steps; ++t)
            for (int32_t k = 0; k < width; ++k)
                columns[size_t(k) * size_t(steps) + size_t(t)] = values[size_t(t) * size_t(points) + size_t(p0 + k)];
        for (int32_t k = 0; k < width; ++k)
            r[p0 + k] = state[p0 + k] == POINT_PRESENT
                            ? pearson_r(series, columns + size_t(k) * size_t(steps), steps)
                            : std::numeric_limits<double>::quiet_NaN();
    }
}

} // namespace

void reserve_results(PointResults& res, int64_t points, const char* path)
{
    res.points = points;
    const size_t n = size_t(points);
    res.neff = static_cast<float*>(std::malloc(n * sizeof(float)));
    res.r = static_cast<double*>(std::malloc(n * sizeof(double)));
    res.lag1 = static_cast<float*>(std::malloc(n * sizeof(float)));
    res.state = static_cast<unsigned char*>(std::malloc(n));
    if (!res.neff || !res.r || !res.lag1 || !res.state) fatal(path, "cannot reserve memory for the results");
}

void release_results(PointResults& res)
{
    std::free(res.neff);
    std::free(res.r);
    std::free(res.lag1);
    std::free(res.state);
    res = PointResults{};
}

void prepare_tile(const FieldSource& field, const IndexSeries& series, const PointTile& tile, const std::string& dir,
                  float* values, PointResults& res)
{
    read_tile(field.tv, field.unpack, field.path, size_t(field.first_step - 1), field.steps, tile, values);
    unsigned char* state = res.state + tile.first_point;
    point_states(values, field.steps, tile.points, state);
    mark_points_with_gaps(values, field.steps, tile.points);
    tile_correlations(values, field.steps, tile.points, series.values, state, res.r + tile.first_point);

    static RecordOutput out;
    const std::string path = dir + "/field.dat";
    open_work_record_output(out, path.c_str());
    for (int32_t t = 0; t < field.steps; ++t)
        write_pair(out, RecordHeader{t + 1, int32_t(tile.columns), int32_t(tile.lines), tile.points},
                   values + size_t(t) * size_t(tile.points));
    close_record_output(out);
}

void read_lag1(const std::string& path, int32_t points, float* lag1)
{
    static RecordInput in;
    static float row[MAX_POINTS];
    RecordHeader h;
    open_record_input(in, path.c_str(), true);
    if (!read_pair(in, h, row)) fatal(path.c_str(), "holds no lag");
    if (h.w4 != points) fatal(path.c_str(), "does not hold one value per point");
    for (int32_t i = 0; i < points; ++i) lag1[i] = row[i];
    close_record_input(in);
}

void collect_tile(const PointTile& tile, const std::string& dir, PointResults& res)
{
    static RecordInput in;
    RecordHeader h;
    const std::string path = dir + "/neff.dat";
    open_record_input(in, path.c_str());
    static float row[MAX_POINTS];
    if (!read_pair(in, h, row) || h.w4 != tile.points)
        fatal(path.c_str(), "does not hold one effective sample size per point of the tile");
    for (int32_t i = 0; i < tile.points; ++i) res.neff[tile.first_point + i] = row[i];
    close_record_input(in);
    read_lag1(dir + "/field.aut", tile.points, res.lag1 + tile.first_point);
}
