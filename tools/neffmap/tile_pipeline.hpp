// The tiles' passage through the run: read from the field, computed, written
// to the map. Reading and writing stay on the calling thread, since netCDF-C is
// not thread-safe; the computing runs on a small pool of workers, each with its
// own working storage, while the next tiles are read. Tiles are written in
// order, so the map and every count are the same whatever the number of jobs.
#pragma once

#include "chain_tile.hpp"
#include "field_source.hpp"
#include "map_output.hpp"
#include "phase_map.hpp"
#include "significance_map.hpp"
#include "tile_statistics.hpp"
#include "tile_transforms.hpp"
#include "work_files.hpp"

struct TileRun {
    const FieldSource* field = nullptr;
    const std::vector<float>* series = nullptr; // the paired steps, transformed
    const TileTransforms* transforms = nullptr;
    const SeriesChain* series_chain = nullptr;
    TestSettings test;
    LagPath path = LagPath::portable;
    const WorkDirectory* work = nullptr; // null: no work files
    int jobs = 1;
    bool progress = false; // the progress line on standard error
    // The phase test's surrogates, and where the workers' counts go as each
    // ends; null under the t test.
    PhaseRun* phase = nullptr;
};

// Tile k of the field from the file into m, in the kernel's layout (m reserved
// on first use); the lanes after the last point are zeros.
void read_tile_into(const FieldSource& field, LagPath path, TileReader& reader, const PointTile& tile,
                    TileMatrix& m);

// Every tile of the field into the map; each point's p goes to test.p and each
// tile's counts into test.counts. Checks for an interrupt between tiles.
void run_tiles(const TileRun& run, MapOutput& map, MapTest& test);
