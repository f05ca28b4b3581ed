// Running the chain: the series through lagscan and sigcut once, then every tile
// through lagscan, sigcut and nstar in a directory of its own, several at once.
#pragma once

#include <string>

#include "chain_programs.hpp"
#include "point_results.hpp"
#include "series_input.hpp"
#include "tile_work.hpp"

// Writes `work`/series.dat and runs lagscan on it there and sigcut in
// `work`/series-lags; keeps the series' lag-1 autocorrelation in res.
void run_series_chain(const ChainPrograms& programs, const IndexSeries& series, const std::string& work,
                      const char* field_path, PointResults& res);

struct TileRunSettings {
    std::string work;
    bool keep_files = false; // leave each tile's files in its directory
    int jobs = 1;
    bool progress = false;   // the progress line on standard error
};

// Every tile of the field, up to `jobs` at once; a tile's results go into res and
// its files are removed as soon as they are read. A program failing ends the run
// naming the tile and repeating the program's message.
void run_tile_chains(const ChainPrograms& programs, const FieldSource& field, const IndexSeries& series,
                     const TileRunSettings& settings, PointResults& res);
