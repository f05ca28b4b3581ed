// PNG maps: a grid of values from memory, or one record pair of a record file
// (fieldtool png).
#pragma once

#include <cstdint>

#include "map_picture.hpp"

// Draws a grid of columns × rows values (row-major, row 0 first) as a PNG map.
// A grid it cannot draw or a bad fixed range ends the run naming png_path.
void write_map_png(const char* png_path, const float* values, int32_t columns, int32_t rows, const MapStyle& style);

struct PngOptions {
    int32_t record = 1;
    bool flip = false;               // stored row 0 is the northernmost
    const char* like_path = nullptr; // or decide from this template's row coordinate
    const char* like_var = nullptr;
    MapStyle style;                  // scale and range; orientation and ticks come from the above
};

void write_record_png(const char* record_path, const char* png_path, const PngOptions& opt);
