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
