// One tile's passage: its part of the field written as a series file, and its
// results read back once nstar is done.
#pragma once

#include <string>

#include "netcdf_tiles.hpp"
#include "point_results.hpp"
#include "series_input.hpp"

struct FieldSource {
    const char* path = nullptr;
    TimeVariable tv;
    Unpacking unpack;
    int64_t first_step = 1; // 1-based
    int32_t steps = 0;
};

// Reads the tile's selected steps, marks a point with a missing value at any of
// them as missing the way the chain recognises it (mark_points_with_gaps),
// records each point's state and r in res, and writes `dir`/field.dat. `values`
// holds steps × tile points.
void prepare_tile(const FieldSource& field, const IndexSeries& series, const PointTile& tile, const std::string& dir,
                  float* values, PointResults& res);

// Reads `dir`/neff.dat and the first lag of `dir`/field.aut into res.
void collect_tile(const PointTile& tile, const std::string& dir, PointResults& res);

// The lag-1 value of every point of an autocorrelation file: its first pair.
void read_lag1(const std::string& path, int32_t points, float* lag1);
