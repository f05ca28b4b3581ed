// fieldtool from-netcdf: a variable with time first becomes a field series.
#pragma once

#include <cstdint>
#include <string>

#include "series_file.hpp"

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

struct TimeVariable;
// The variable's fill (its own or netCDF's default for its type), missing_value,
// scale_factor and add_offset.
Unpacking read_unpacking(const std::string& path, const TimeVariable& tv);

// Whether a stored number stands for a missing value (NaN included).
inline bool is_missing(const Unpacking& u, double stored)
{
    if (stored != stored || (u.has_fill && stored == u.fill)) return true;
    for (int i = 0; i < u.missing_count; ++i)
        if (stored == u.missing[i]) return true;
    return false;
}

// MISSING_VALUE for a missing or NaN stored number, otherwise stored × scale +
// offset in double precision, rounded once to single precision.
inline float unpack_value(const Unpacking& u, double stored)
{
    return is_missing(u, stored) ? MISSING_VALUE : float(stored * u.scale + u.offset);
}

// One record pair per time step: W1 = step number, W2 = columns, W3 = rows,
// W4 = grid points in row-major order over the dimensions after time. A point
// missing at any step is marked missing at step 2 (mark_points_with_gaps), and
// standard error says how many points that was.
void convert_netcdf(const std::string& nc_path, const std::string& var, const std::string& out_path);
