// The picture of a grid held in a NetCDF file: its axes from the grid's own
// coordinate variables, and the drawn picture written to an output file. What
// fieldtool's and neffmap's pictures share.
#pragma once

#include <string>
#include <vector>

#include "map_picture.hpp"
#include "netcdf_common.hpp"
#include "output_file.hpp"

// The coordinates the picture's axes point into; they must outlive it.
struct GridCoordinates {
    std::vector<double> rows, columns;
};

// The axes of tv's grid (at most two grid dimensions: rows, then columns) from
// their coordinate variables, where they have them: labels along the edges, and
// coastlines on a latitude/longitude grid. Row 0 goes on top when the row
// coordinate falls from first to last, as in a grid stored north to south.
void set_grid_axes(MapPicture& pic, const TimeVariable& tv, const std::string& path, GridCoordinates& c);

// Draws pic in the given format into out, which has been begun; returns the
// notes for the user, each naming the picture's file.
std::vector<std::string> write_picture(OutputFile& out, const MapPicture& pic, PictureFormat format);
