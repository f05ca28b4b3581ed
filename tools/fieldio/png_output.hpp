// PNG maps: a grid of values from memory, or one record pair of a record file
// (fieldtool png).
#pragma once

#include <cstdint>
#include <string>

#include "map_picture.hpp"
#include "output_file.hpp"

// Draws a grid of columns × rows values (row-major, row 0 first) as a PNG map
// into the begun output (its temporary file; the caller commits). A grid it
// cannot draw or a bad fixed range throws, naming the picture.
void write_map_png(OutputFile& out, const float* values, int32_t columns, int32_t rows, const MapStyle& style);

// The same as one whole output: begun, written and committed.
void write_map_png(const std::string& png_path, const float* values, int32_t columns, int32_t rows,
                   const MapStyle& style);

struct PngOptions {
    int32_t record = 1;
    bool flip = false;               // stored row 0 is the northernmost
    std::string like_path; // or decide from this template's row coordinate (empty: none)
    std::string like_var;
    MapStyle style;                  // scale and range; orientation and ticks come from the above
};

void write_record_png(const std::string& record_path, const std::string& png_path, const PngOptions& opt);
