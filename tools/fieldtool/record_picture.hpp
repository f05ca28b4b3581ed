// fieldtool png: one record pair drawn as a map by mapdraw, into a PNG, SVG or
// PDF file by the name's extension.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "map_picture.hpp"

struct RecordPictureOptions {
    int32_t record = 1;
    bool flip = false;     // stored row 0 is the northernmost
    std::string like_path; // or the grid of this NetCDF variable (empty: none): its
    std::string like_var;  // coordinates, row order, name, units and long_name
    bool diverging = false; // blue below 0, white at 0, red above
    bool fixed_range = false;
    double lo = 0, hi = 0;
    PictureSize size;      // 0 x 0: the default
    bool title_given = false;
    std::string title;
    bool coastlines = true;
};

// What the picture needs checked before any file is read or written: its
// format by out_path's extension, its size and the colour range. Throws RunError.
PictureFormat check_record_picture(const std::string& out_path, const RecordPictureOptions& opt);

// Draws the record pair and writes the picture through a temporary file that
// takes out_path's name when complete. Returns the notes for the user
// (coastline data not found, say), one line each, for main to print.
std::vector<std::string> write_record_picture(const std::string& record_path, const std::string& out_path,
                                              const RecordPictureOptions& opt);
