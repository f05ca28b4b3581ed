// neffmap's NetCDF map: created at the start of the run on OUT's temporary file,
// written tile by tile as the tiles come, and closed once the test over the
// whole map is known. Nothing of the grid is held for it in memory.
#pragma once

#include <string>
#include <vector>

#include "field_source.hpp"
#include "netcdf_output.hpp"
#include "netcdf_tiles.hpp"
#include "output_file.hpp"
#include "phase_map.hpp"
#include "significance_map.hpp"
#include "tile_statistics.hpp"

struct MapDescription {
    std::string history;      // date and command line
    std::string field_source; // FIELD:VAR
    std::string series_source;
    std::string field_steps, series_steps; // "1 … 240 of 240"
    int32_t steps = 0;

    // The paired dates and what was done to the values (empty: no such thing).
    std::string time_coverage_start, time_coverage_end;               // the field's paired dates
    std::string series_time_coverage_start, series_time_coverage_end; // the series', where they differ
    std::string time_step;                                            // "monthly", "daily", "6 hours"
    std::string pairing;                                              // "by date", or how by position
    int64_t lag = 0;
    std::string anomalies, detrend; // what was removed, or "none"
    std::string slope_units;        // "K per degC"; "" when either side's units are unknown
};

// The map's own variables. A grid dimension of the field named like one of them
// is renamed in the map (define_grid_like), never the variable.
inline constexpr const char* MAP_VARIABLES[] = {"r", "slope", "neff", "neff_lag1", "dof", "p", "sig_local", "sig_fdr"};

struct MapOutput {
    OutputFile file; // begun before the map is defined
    NetcdfWriter nc;
    OutputGrid grid;
    int r = -1, neff = -1, lag1 = -1, dof = -1, p = -1, local = -1, fdr = -1;
    int slope = -1;
    // A tile's values on their way to the file.
    std::vector<float> floats;
    std::vector<double> doubles;
    std::vector<signed char> bytes;
};

// Creates the map in map.file's temporary file: the field's grid dimensions with
// their coordinate variables, every variable with its attributes, and the global
// attributes known before the run.
void define_map(MapOutput& map, const FieldSource& field, const TestSettings& test, const MapDescription& d);

// The tile's results, but for the FDR mask, onto their place in the grid.
void write_map_tile(MapOutput& map, const FieldSource& field, const PointTile& tile, const TileColumns& c);

// The FDR mask, tile by tile, from the p-values the map holds.
void write_fdr_mask(MapOutput& map, const FieldSource& field, const MapTest& test);

// One variable of the map as written, over the whole grid, read back tile by
// tile: as floats (its fill values as NaN), or as a mask (1 where it holds 1).
// For the summary and the picture; only before close_map.
std::vector<float> read_map_floats(MapOutput& map, const FieldSource& field, int var);
std::vector<unsigned char> read_map_mask(MapOutput& map, const FieldSource& field, int var);

// The phase test's global attributes: the surrogates, the seed, the smallest p,
// the BLAS that ran, and field_p. After the FDR threshold is known, before close_map.
void put_phase_attributes(MapOutput& map, const PhaseRun& phase);

// The run's warnings (the annual cycle's, the phase test's floor) as one global
// attribute, found once every tile is done.
void add_map_warning(MapOutput& map, const std::string& warning);

// The test's global attributes; then closes the file (still under its
// temporary name).
void close_map(MapOutput& map, const MapTest& test);
