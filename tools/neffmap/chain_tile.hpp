// lagscan's, sigcut's and nstar's computations on arrays in memory: the library
// functions the three programs call, on the tiles lagscan's kernel works in, so
// that the map's numbers are the programs' own.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "autocorrelation.hpp"
#include "netcdf_tiles.hpp"
#include "series_file.hpp"

// A field of up to MAX_POINTS points and `steps` steps in the kernel's layout,
// as lagscan reads its input: xs.v points into storage lagscan's own reserve
// (in huge pages, each step of a tile a whole cache line), xs.count = steps.
// The chain writes the autocorrelations over it.
struct TileMatrix {
    struct Release {
        void operator()(float* v) const { release_tiles(v); }
    };
    std::unique_ptr<float, Release> storage;
    FieldSeries xs;
};
void reserve_tile_matrix(TileMatrix& m, LagPath path, int32_t steps);

// What one thread needs to run the chain: the kernel it runs and that kernel's
// working storage. Threads running at once each have their own.
struct ChainWorkspace {
    LagPath path = LagPath::portable;
    LagScratch scratch;
};

// The series' part of the chain, done once: its autocorrelations as lagscan
// writes them and its critical lag as sigcut writes it.
struct SeriesChain {
    std::vector<float> aut; // lag k at aut[k - 1], k = 1 … steps - 1
    float critical_lag = 0;
};
SeriesChain compute_series_chain(ChainWorkspace& ws, const std::vector<float>& series);

// The field's part for the `points` points of m, filled: afterwards m holds
// their autocorrelations (lag j of point p at cell(m.xs, j - 1, p)), and
// critical_lag and neff their critical lags and effective sample sizes. In two
// steps, lagscan's and then sigcut's and nstar's, or in one.
void compute_tile_autocorrelations(ChainWorkspace& ws, TileMatrix& m, int32_t points);
void compute_tile_sizes(const TileMatrix& m, int32_t points, const SeriesChain& series, float* critical_lag,
                        float* neff);
void compute_tile_chain(ChainWorkspace& ws, TileMatrix& m, int32_t points, const SeriesChain& series,
                        float* critical_lag, float* neff);
