#include "netcdf_tiles.hpp"

#include <algorithm>
#include <cmath>
#include <netcdf.h>

namespace {

int64_t grid_columns(const TimeVariable& tv) { return tv.rank >= 2 ? int64_t(tv.sizes[tv.rank - 1]) : 1; }
int64_t grid_lines(const TimeVariable& tv)
{
    const int64_t c = grid_columns(tv);
    return c == 0 ? 0 : tv.points / c;
}

// Values from the file into their places: points offset … offset + width - 1 of
// the tile at step t. The layout's runs of `lanes` points are contiguous.
template <typename Stored>
void place(const Stored* from, int32_t width, int32_t offset, int32_t t, FieldSeries& xs, const Unpacking& u)
{
    // Plain floats with at most a fill value, the common case, in a loop the
    // compiler turns into vectors: is_missing's test, made in single precision
    // where that is the same (a fill no float equals can never match).
    const bool plain_fill = sizeof(Stored) == sizeof(float) && u.missing_count == 0;
    const float fill = u.has_fill && double(float(u.fill)) == u.fill ? float(u.fill) : std::nanf("");
    int32_t i = 0;
    while (i < width) {
        const int32_t p = offset + i;
        const int32_t run = std::min(width - i, xs.lanes - p % xs.lanes);
        float* to = xs.v + cell(xs, t, p);
        const Stored* in = from + i;
        if constexpr (sizeof(Stored) == sizeof(float)) {
            // -0 becomes +0, as the path through double precision gives.
            if (plain_fill) {
                for (int32_t k = 0; k < run; ++k) {
                    const float v = in[k];
                    const bool missing = (v != v) | (v == fill);
                    to[k] = missing ? MISSING_VALUE : v + 0.0f;
                }
            } else {
                for (int32_t k = 0; k < run; ++k) to[k] = is_missing(u, in[k]) ? MISSING_VALUE : in[k] + 0.0f;
            }
        } else {
            for (int32_t k = 0; k < run; ++k) to[k] = unpack_value(u, in[k]);
        }
        i += run;
    }
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

std::vector<GridSlab> tile_slabs(const TimeVariable& tv, const PointTile& tile)
{
    std::vector<GridSlab> slabs;
    const int grid_rank = tv.rank - 1;
    // Grid dimensions 0 … grid_rank - 2 number the lines; the last one holds the columns.
    const int line_dims = grid_rank >= 2 ? grid_rank - 1 : 0;
    int64_t line = tile.first_line;
    while (line < tile.first_line + tile.lines) {
        GridSlab s;
        int64_t group = tile.first_line + tile.lines - line;
        int64_t rest = line;
        for (int d = line_dims - 1; d >= 0; --d) {
            const auto size = int64_t(tv.sizes[d + 1]);
            s.start[d] = size_t(rest % size);
            rest /= size;
            s.count[d] = 1;
        }
        if (line_dims > 0) {
            // One hyperslab holds the lines that share every outer index.
            group = std::min<int64_t>(group, int64_t(tv.sizes[line_dims]) - int64_t(s.start[line_dims - 1]));
            s.count[line_dims - 1] = size_t(group);
        } else {
            group = 1;
        }
        if (grid_rank >= 1) {
            s.start[grid_rank - 1] = size_t(tile.first_column);
            s.count[grid_rank - 1] = size_t(tile.columns);
        }
        s.offset = int32_t((line - tile.first_line) * tile.columns);
        s.width = int32_t(group * tile.columns);
        slabs.push_back(s);
        line += group;
    }
    return slabs;
}

void read_tile(const TimeVariable& tv, const Unpacking& u, const std::string& path, size_t first_step, int32_t steps,
               const PointTile& tile, TileReader& reader, FieldSeries& xs)
{
    // A chunk of a file written step by step usually spans the whole grid; kept in
    // the chunk cache it would be read whole for every tile. Without a cache an
    // unfiltered chunk gives up only the tile's part.
    nc_set_var_chunk_cache(tv.ncid, tv.varid, 0, 0, 0.75f);
    const int32_t block_steps = std::max(1, std::min(steps, int32_t((size_t{1} << 20) / size_t(tile.points))));
    // Plain floats need no packing undone: read as they are stored, they give the
    // same values as the general path through double precision.
    const bool plain = tv.type == NC_FLOAT && u.scale == 1 && u.offset == 0;
    const size_t needed = size_t(block_steps) * size_t(tile.points);
    if (plain && reader.stored_float.size() < needed) reader.stored_float.resize(needed);
    if (!plain && reader.stored.size() < needed) reader.stored.resize(needed);
    const std::vector<GridSlab> slabs = tile_slabs(tv, tile);
    for (int32_t t0 = 0; t0 < steps; t0 += block_steps) {
        const int32_t bs = std::min(block_steps, steps - t0);
        for (const GridSlab& slab : slabs) {
            size_t start[NC_MAX_RANK] = {}, count[NC_MAX_RANK] = {};
            start[0] = first_step + size_t(t0);
            count[0] = size_t(bs);
            for (int d = 1; d < tv.rank; ++d) {
                start[d] = slab.start[d - 1];
                count[d] = slab.count[d - 1];
            }
            const size_t width = size_t(slab.width);
            if (plain) {
                float* stored = reader.stored_float.data();
                nc_check(nc_get_vara_float(tv.ncid, tv.varid, start, count, stored), path, "reading a tile");
                for (int32_t s = 0; s < bs; ++s)
                    place(stored + size_t(s) * width, slab.width, slab.offset, t0 + s, xs, u);
            } else {
                double* stored = reader.stored.data();
                nc_check(nc_get_vara_double(tv.ncid, tv.varid, start, count, stored), path, "reading a tile");
                for (int32_t s = 0; s < bs; ++s)
                    place(stored + size_t(s) * width, slab.width, slab.offset, t0 + s, xs, u);
            }
        }
    }
}
