// Where each part of a map picture goes, in picture units (pixels for PNG,
// points for SVG and PDF) from the top left corner.
#pragma once

#include <string>
#include <vector>

#include "colour_bar.hpp"
#include "map_geometry.hpp"
#include "map_picture.hpp"

struct MapLayout {
    double width = 0, height = 0;
    double base = 12;                 // the type size everything is scaled from
    double margin = 0;
    double title_size = 0, subtitle_size = 0, tick_size = 0, bar_label_size = 0;
    double title_y = 0, subtitle_y = 0; // baselines
    double map_x = 0, map_y = 0, map_w = 0, map_h = 0;
    AxisGeometry columns, rows;
    AxisMap x, y;                     // world units of columns and rows to the picture
    bool geographic = false;          // columns are longitudes and rows latitudes
    std::vector<AxisTick> column_ticks, row_ticks;
    double bar_x = 0, bar_y = 0, bar_w = 0, bar_h = 0;
    double legend_x = 0;
    ColourRange range;
    std::vector<BarTick> bar_ticks;
    bool any_missing = false;
};

// The layout of a map; the grid's shape, range and size are checked here
// (RunError naming path). Text is measured in the font the map is drawn in.
MapLayout plan_map(const MapPicture& map, PictureFormat format, const std::string& path);

// The picture position of a longitude and latitude on a geographic map, the
// longitude moved by whole turns into the map's range; false when the point lies
// outside the map.
bool lonlat_to_picture(const MapLayout& m, double lon, double lat, double& x, double& y);
