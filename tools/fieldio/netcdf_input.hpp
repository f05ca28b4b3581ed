// fieldtool from-netcdf: a variable with time first becomes a field series.
#pragma once

#include <cstdint>

// How a stored number becomes a value: which stored numbers mean "missing", and
// the packing to undo.
struct Unpacking {
    double fill = 0;
    bool has_fill = false;
    int missing_count = 0;
    double missing[8] = {};
    double scale = 1;
    double offset = 0;
};

// MISSING_VALUE for a missing or NaN stored number, otherwise stored × scale +
// offset in double precision, rounded once to single precision.
float unpack_value(const Unpacking& u, double stored);

// One record pair per time step: W1 = step number, W2 = columns, W3 = rows,
// W4 = grid points in row-major order over the dimensions after time. A point
// missing at any step is marked missing at step 2 (mark_points_with_gaps), and
// standard error says how many points that was.
void convert_netcdf(const char* nc_path, const char* var, const char* out_path);
