// --work DIR: the record files of every tile, as the three programs would write
// them on the same arrays, for a user who wants to look inside a run. DIR is
// new, empty, or made by an earlier --work run (it holds WORK_MARKER), and it is
// locked while a run uses it. The run writes into a staging directory inside
// it; only when every output of the run is complete do its files replace those
// of the earlier run. A run that fails leaves DIR as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chain_tile.hpp"
#include "netcdf_tiles.hpp"
#include "record_access.hpp"

inline constexpr const char* WORK_MARKER = ".neffmap-work";

struct WorkDirectory {
    std::string dir;     // as named
    int fd = -1;         // DIR, held open and locked while in use
    bool created = false; // made by this run, and so removed again if it fails
    bool committed = false;
    std::string staging; // where this run writes; empty once committed

    WorkDirectory() = default;
    WorkDirectory(const WorkDirectory&) = delete;
    WorkDirectory& operator=(const WorkDirectory&) = delete;
    ~WorkDirectory();
};

// Creates DIR if it does not exist, locks it, and checks that it may be used:
// empty or marked, no input inside it, and no other output of the run inside
// it either. Leftovers of a run that was killed are cleared away.
void open_work_directory(WorkDirectory& w, const std::string& dir, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs);

// series.dat, series.aut and series-lags/critic-lags.
void write_series_work_files(const WorkDirectory& w, const std::vector<float>& series, const SeriesChain& chain);

// One worker's writer, kept from tile to tile.
struct TileWorkFiles {
    RecordOutput out;
    std::vector<float> row;
};

// tile-NNNNN/field.dat: the tile as the chain takes it (points with gaps marked
// at step 2), from m before the chain runs on it.
void write_tile_field_file(const WorkDirectory& w, TileWorkFiles& files, int64_t tile, const PointTile& extent,
                           const TileMatrix& m);

// tile-NNNNN/field.aut, critic-lags and neff.dat, from m and the columns after
// the chain has run.
void write_tile_result_files(const WorkDirectory& w, TileWorkFiles& files, int64_t tile, const PointTile& extent,
                             const TileMatrix& m, const float* critical_lag, const float* neff);

// The staged files take the place of DIR's earlier contents.
void commit_work_directory(WorkDirectory& w);
