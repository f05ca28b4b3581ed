// neffmap's outputs: the NetCDF map on the field's grid and its picture.
#pragma once

#include <string>

#include "point_results.hpp"
#include "run_options.hpp"
#include "significance_map.hpp"
#include "tile_work.hpp"

struct MapDescription {
    std::string history;      // date and command line
    std::string field_source; // FIELD:VAR
    std::string series_source;
    std::string field_steps, series_steps; // "1 … 240 of 240"
    int32_t steps = 0;
};

// Writes OUT with the field's grid dimensions and coordinate variables, and
// every point's results and test; OUT takes its name only once complete.
void write_map_netcdf(const char* path, const FieldSource& field, const PointResults& res, const SignificanceMap& sig,
                      const TestSettings& test, const MapDescription& d);

// Whether the field's grid can be drawn: at most two grid dimensions, within the
// picture's bounds.
bool grid_is_drawable(const FieldSource& field);

// The chosen variable as a picture: points significant after FDR stippled, north
// up by the row coordinate, ticks from the coordinates, and a title line.
void draw_result_png(const char* path, const FieldSource& field, const PointResults& res, const SignificanceMap& sig,
                     const RunOptions& opt, int32_t steps);
