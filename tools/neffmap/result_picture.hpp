// neffmap --png: the chosen variable of the map as a picture, points
// significant after FDR dotted, north up by the row coordinate, ticks from the
// coordinates, and a title line saying what was tested.
#pragma once

#include <vector>

#include "field_source.hpp"
#include "output_file.hpp"
#include "run_options.hpp"
#include "significance_map.hpp"

// Whether the field's grid can be drawn: at most two grid dimensions, within the
// picture's bounds.
bool grid_is_drawable(const FieldSource& field);

// values: the drawn variable over the grid (NaN where missing); dots: 1 at the
// points significant after FDR.
void draw_result_png(OutputFile& out, const FieldSource& field, const std::vector<float>& values,
                     const std::vector<unsigned char>& dots, const MapTest& test, const RunOptions& opt);
