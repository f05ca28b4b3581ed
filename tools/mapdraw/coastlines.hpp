// The coastlines of a map: which GSHHG resolution suits it, and the land/sea
// shorelines that fall in its box, moved by whole turns to the map's own
// longitudes (0 … 360, −180 … 180, or a box across the date line).
#pragma once

#include <string>
#include <vector>

#include "gshhg_reader.hpp"

// c (crude, for a world map), l (low) or i (intermediate), from the degrees of
// longitude or latitude one picture unit spans.
char coast_resolution(double degrees_per_unit);

// The binned GSHHG file of a resolution in a directory.
std::string gshhg_file(const std::string& directory, char resolution);

struct CoastLines {
    std::vector<CoastPoint> points;   // lon in the map's longitudes
    std::vector<size_t> starts;       // each polyline's first point; one more at the end
};

// The level-1 shorelines (land and sea, with Antarctica's ice front) that reach
// into lon_lo … lon_hi × lat_lo … lat_hi, each drawn once for every whole turn
// of 360° that brings it into the longitude range.
CoastLines coast_in_box(const CoastData& coast, double lon_lo, double lon_hi, double lat_lo, double lat_hi);
