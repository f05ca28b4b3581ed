// What neffmap keeps for every grid point: the chain's effective sample size, the
// correlation with the series and the point's lag-1 autocorrelation, and whether
// the point took part.
#pragma once

#include <cstdint>

enum PointState : unsigned char {
    POINT_PRESENT = 0,
    POINT_GAP = 1,    // missing at some selected steps: dropped
    POINT_ABSENT = 2, // missing at every selected step
};

struct PointResults {
    int64_t points = 0;
    float* neff = nullptr;  // nstar's value; MISSING_VALUE for a missing point
    double* r = nullptr;    // Pearson's r; NaN for a missing point
    float* lag1 = nullptr;  // lagscan's lag-1 autocorrelation of the point
    unsigned char* state = nullptr;
    float series_lag1 = 0;  // lagscan's lag-1 autocorrelation of the series
};

void reserve_results(PointResults& res, int64_t points, const char* path);
void release_results(PointResults& res);
