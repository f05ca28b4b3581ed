// The phase test over a map: the surrogates of the series, drawn once before
// any tile; each worker's test of the tiles it computes, on their values as
// read (before the chain writes over them), with its own working storage and
// counts; and the map's field significance from all of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "chain_tile.hpp"
#include "phasetest.hpp"
#include "tile_statistics.hpp"

struct PhaseRun {
    Surrogates surrogates;
    std::string blas;       // OpenBLAS's configuration and the kernel it runs
    FieldCounts field;      // every worker's counts, added as each one ends
    double test_seconds = 0;    // the workers' CPU seconds in the test
    double product_seconds = 0; // of them, in the matrix products
    // After the tiles.
    double field_p = 0;      // NaN when no point was tested
    int64_t at_floor = 0;    // points whose p is the smallest possible, 1/(M + 1)
};

// What one worker keeps from tile to tile.
struct PhaseWorker {
    PhaseWork work;
    FieldCounts counts;           // sized on the first tile
    std::vector<float> values;    // a slice of the tile, step after step
    double seconds = 0;
};

// Before the tiles: OpenBLAS on one thread per call, and `surrogates` surrogates
// of the series as the chain gets it, drawn with `seed`. Errors: draw_surrogates'
// (the count, or a series that gives none, named by series_path).
PhaseRun begin_phase_test(const std::vector<float>& series, const std::string& series_path, int64_t surrogates,
                          uint64_t seed);

// Each point's p from the surrogates into c.p (NaN where not tested), for the
// `points` points of m as prepare_points left them (c.r set, NaN unless the
// point is present), before the chain. The tile is taken in slices of as many
// points as the library holds correlations for at once, with a check for an
// interrupt between them.
void phase_test_points(const PhaseRun& run, PhaseWorker& w, const TileMatrix& m, int32_t points, double alpha,
                       TileColumns& c);

// A worker's counts and times into the run's; under the pipeline's lock.
void add_phase_worker(PhaseRun& run, const PhaseWorker& w);

// After the tiles, from every tested point's p (NaN: not tested): field_p and
// the points at the floor.
void finish_phase_test(PhaseRun& run, const std::vector<double>& p);

// The smallest p the surrogates give.
double smallest_p(const PhaseRun& run);

// When the floor 1/(M + 1) limits the FDR test: its threshold sits there, or
// nothing passes though more of the m tested points sit there than chance puts
// (m/(M + 1), with three standard deviations); and the k points there are fewer
// than 10 m/(q (M + 1)), so that something may lie between the floor and ten
// times it. Then a sentence that says so and how many surrogates would tell
// those points apart; otherwise "". p_fdr: the threshold (NaN: none); q: the
// FDR rate.
std::string floor_warning(const PhaseRun& run, int64_t tested, double p_fdr, double q);

// The fewest points that can pass the FDR test at all among `tested`: the
// smallest p, 1/(M + 1), meets the line i q / tested only from this i on.
int64_t smallest_passing_set(int64_t surrogates, int64_t tested, double q);
