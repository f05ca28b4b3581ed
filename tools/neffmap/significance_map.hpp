// The test over the whole map: the Benjamini-Hochberg threshold over every
// tested point's p, and the run's counts. The p-values are the one thing kept
// for every point of the grid (8 bytes a point), until the threshold is found.
#pragma once

#include <cstdint>
#include <vector>

#include "tile_statistics.hpp"

struct MapTest {
    std::vector<double> p; // every point's p in grid order; NaN: not tested
    TileCounts counts;
    double p_fdr = 0;      // NaN when no p qualifies
    int64_t fdr = 0;       // points with p <= p_fdr
};

// The threshold at q over map.p, and how many points it passes. The p-values are
// reordered where they lie to find it, and given back: map.p is empty afterwards.
void find_fdr_threshold(MapTest& map, double q);

// The FDR mask of n points whose p-values (NaN: not tested) are p.
void fdr_mask(const MapTest& map, const double* p, int32_t n, signed char* mask);
