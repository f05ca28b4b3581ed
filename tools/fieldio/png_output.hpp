// fieldtool png: one record pair drawn as a colour map picture.
#pragma once

#include <cstdint>

struct PngOptions {
    int32_t record = 1;
    bool flip = false;               // stored row 0 is the northernmost
    const char* like_path = nullptr; // or decide from this template's row coordinate
    const char* like_var = nullptr;
};

void write_record_png(const char* record_path, const char* png_path, const PngOptions& opt);

// values (rows × columns, row-major) drawn as write_record_png draws a record.
void write_values_png(const float* values, int32_t columns, int32_t rows, bool row0_on_top, const char* png_path);
