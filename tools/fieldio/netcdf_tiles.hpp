// Reading a time-first NetCDF variable a block of points at a time, so that a
// grid of any size passes through a fixed amount of memory, and the hyperslabs
// by which a tile's results go back onto the grid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "netcdf_common.hpp"
#include "netcdf_input.hpp"

// The grid is seen as lines × columns: columns is the size of the last grid
// dimension (1 when there is none), lines the product of the others. A tile is a
// run of whole lines, or a piece of one line when a line alone is too long, so its
// points are consecutive in the file's row-major order and each tile's hyperslabs
// are few and large.
struct PointTile {
    int64_t first_point = 0;
    int32_t points = 0;
    int64_t first_line = 0, lines = 0;
    int64_t first_column = 0, columns = 0;
};

// How many tiles of at most `capacity` points cover the grid, and tile k of them
// (0-based); tiles follow each other in point order.
int64_t tile_count(const TimeVariable& tv, int32_t capacity);
PointTile tile_at(const TimeVariable& tv, int32_t capacity, int64_t k);

// One hyperslab of the grid (the dimensions after time, start and count by grid
// dimension) holding points offset … offset + width - 1 of a tile: lines that
// share every outer index, or the piece of one line.
struct GridSlab {
    size_t start[NC_MAX_RANK] = {};
    size_t count[NC_MAX_RANK] = {};
    int32_t offset = 0;
    int32_t width = 0;
};
std::vector<GridSlab> tile_slabs(const TimeVariable& tv, const PointTile& tile);

// The storage a tile passes through on its way from the file: one block of
// steps as stored. It belongs to whoever reads, and is reused tile after tile.
struct TileReader {
    std::vector<double> stored;
    std::vector<float> stored_float;
};

// Steps first_step … first_step + steps - 1 (0-based) of the tile's points into
// xs's cells (lagscan's layout: step t of point i at cell(xs, t, i)), each
// unpacked as unpack_value does. Reads at most about 8 MB of the file at a time.
void read_tile(const TimeVariable& tv, const Unpacking& u, const std::string& path, size_t first_step, int32_t steps,
               const PointTile& tile, TileReader& reader, FieldSeries& xs);
