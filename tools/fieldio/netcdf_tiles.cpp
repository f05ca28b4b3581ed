#include "netcdf_tiles.hpp"

#include <algorithm>
#include <cstdlib>
#include <netcdf.h>

#include "run_frame.hpp"

namespace {

int64_t grid_columns(const TimeVariable& tv) { return tv.rank >= 2 ? int64_t(tv.sizes[tv.rank - 1]) : 1; }
int64_t grid_lines(const TimeVariable& tv)
{
    const int64_t c = grid_columns(tv);
    return c == 0 ? 0 : tv.points / c;
}

} // namespace

int64_t tile_count(const TimeVariable& tv, int32_t capacity)
{
    const int64_t columns = grid_columns(tv), lines = grid_lines(tv);
    if (columns <= capacity) {
        const int64_t per_tile = capacity / columns;
        return (lines + per_tile - 1) / per_tile;
    }
    return lines * ((columns + capacity - 1) / capacity);
}

PointTile tile_at(const TimeVariable& tv, int32_t capacity, int64_t k)
{
    const int64_t columns = grid_columns(tv), lines = grid_lines(tv);
    PointTile t;
    if (columns <= capacity) {
        const int64_t per_tile = capacity / columns;
        t.first_line = k * per_tile;
        t.lines = std::min(per_tile, lines - t.first_line);
        t.first_column = 0;
        t.columns = columns;
    } else {
        const int64_t pieces = (columns + capacity - 1) / capacity;
        t.first_line = k / pieces;
        t.lines = 1;
        t.first_column = k % pieces * capacity;
        t.columns = std::min<int64_t>(capacity, columns - t.first_column);
    }
    t.first_point = t.first_line * columns + t.first_column;
    t.points = int32_t(t.lines * t.columns);
    return t;
}

void read_tile(const TimeVariable& tv, const Unpacking& u, const char* path, size_t first_step, int32_t steps,
               const PointTile& tile, float* values)
{
    // A chunk of a file written step by step usually spans the whole grid; kept in
    // the chunk cache it would be read whole for every tile. Without a cache an
    // unfiltered chunk gives up only the tile's part.
    nc_set_var_chunk_cache(tv.ncid, tv.varid, 0, 0, 0.75f);
    const int32_t block_steps = std::max(1, std::min(steps, int32_t((size_t{1} << 20) / size_t(tile.points))));
    // Plain floats need no packing undone: read as they are stored, they give the
    // same values as the general path through double precision.
    const bool plain = tv.type == NC_FLOAT && u.scale == 1 && u.offset == 0;
    // One buffer serves every tile of the run: fresh pages for each would cost as
    // much zeroing as the reading itself.
    static double* stored = nullptr;
    static size_t stored_count = 0;
    const size_t needed = size_t(block_steps) * size_t(tile.points);
    if (needed > stored_count) {
        std::free(stored);
        stored = static_cast<double*>(std::malloc(sizeof(double) * needed));
        if (!stored) fatal(path, "cannot reserve memory for reading a tile");
        stored_count = needed;
    }
    auto* stored_float = reinterpret_cast<float*>(stored);
    // Dimensions 1 … rank-2 number the lines; the last one holds the columns.
    const int line_dims = tv.rank >= 3 ? tv.rank - 2 : 0;
    for (int32_t t0 = 0; t0 < steps; t0 += block_steps) {
        const int32_t bs = std::min(block_steps, steps - t0);
        int64_t line = tile.first_line;
        while (line < tile.first_line + tile.lines) {
            size_t start[NC_MAX_RANK] = {}, count[NC_MAX_RANK] = {};
            start[0] = first_step + size_t(t0);
            count[0] = size_t(bs);
            int64_t group = tile.first_line + tile.lines - line;
            int64_t rest = line;
            for (int d = line_dims; d >= 1; --d) {
                start[d] = size_t(rest % int64_t(tv.sizes[d]));
                rest /= int64_t(tv.sizes[d]);
                count[d] = 1;
            }
            if (line_dims > 0) {
                // One hyperslab holds the lines that share every outer index.
                group = std::min<int64_t>(group, int64_t(tv.sizes[line_dims]) - int64_t(start[line_dims]));
                count[line_dims] = size_t(group);
            } else {
                group = 1;
            }
            if (tv.rank >= 2) {
                start[tv.rank - 1] = size_t(tile.first_column);
                count[tv.rank - 1] = size_t(tile.columns);
            }
            const int64_t width = group * tile.columns;
            const int64_t offset = (line - tile.first_line) * tile.columns;
            if (plain) {
                nc_check(nc_get_vara_float(tv.ncid, tv.varid, start, count, stored_float), path, "reading a tile");
                for (int32_t s = 0; s < bs; ++s) {
                    const float* from = stored_float + size_t(s) * size_t(width);
                    float* to = values + size_t(t0 + s) * size_t(tile.points) + size_t(offset);
                    for (int64_t i = 0; i < width; ++i) to[i] = is_missing(u, from[i]) ? MISSING_VALUE : from[i] + 0.0f; // -0 becomes +0 as there
                }
            } else {
                nc_check(nc_get_vara_double(tv.ncid, tv.varid, start, count, stored), path, "reading a tile");
                for (int32_t s = 0; s < bs; ++s) {
                    const double* from = stored + size_t(s) * size_t(width);
                    float* to = values + size_t(t0 + s) * size_t(tile.points) + size_t(offset);
                    for (int64_t i = 0; i < width; ++i) to[i] = unpack_value(u, from[i]);
                }
            }
            line += group;
        }
    }
}
