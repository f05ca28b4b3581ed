// Everything neffmap works out for each point of a tile, in one place: the
// point's state, r, the chain's results and the test. Each column holds one
// value per point of the tile; a new per-point result is one more column here.
#pragma once

#include <cstdint>
#include <vector>

#include "annual_cycle_test.hpp"
#include "chain_tile.hpp"
#include "significance.hpp"

// Every point ends in one state, its reason for being tested or not; the map
// and the summary count them by state, so that the counts add up to the grid.
enum PointState : unsigned char {
    POINT_PRESENT = 0,    // a value at every step; after test_points: tested
    POINT_GAP = 1,        // missing at some selected steps: dropped
    POINT_ABSENT = 2,     // missing at every selected step
    POINT_CONSTANT = 3,   // the same value at every step: no correlation
    POINT_NOT_FINITE = 4, // an infinite value, or a result that is not a finite number
    POINT_NO_DOF = 5,     // dof <= 0: r and the sizes are known, the test cannot be made
};

// Student's t with an effective sample size, or phase-randomised surrogates
// of the series (which set each point's p before the chain runs).
enum class TestKind { t, phase };

// Whether the map holds the point's r, neff, neff_lag1 and dof; every other
// point is missing in every variable.
inline bool has_result(unsigned char state) { return state == POINT_PRESENT || state == POINT_NO_DOF; }

struct TestSettings {
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
    TestKind kind = TestKind::t;
};

inline constexpr signed char MASK_FILL = -1;

struct TileColumns {
    std::vector<unsigned char> state;
    std::vector<double> r;           // Pearson's r; NaN unless present
    std::vector<double> slope;       // least-squares slope on the series; NaN unless present
    std::vector<float> largest;      // the largest magnitude of the point's values
    std::vector<float> critical_lag; // sigcut's
    std::vector<float> neff;         // nstar's; MISSING_VALUE for a missing point
    std::vector<double> neff_lag1;   // N(1 - a1 b1)/(1 + a1 b1); NaN where missing
    std::vector<double> dof;         // min(neff, N) - 2 of the chosen neff
    std::vector<double> p;           // NaN: not tested
    std::vector<signed char> sig_local; // 1: p < alpha, 0: not, MASK_FILL: not tested
};
void reserve_columns(TileColumns& c, int32_t points);

// What a tile adds to the run's counts.
// What a tile adds to the run's counts. absent + gaps + constant + not_finite
// + no_dof + tested is the number of points.
struct TileCounts {
    int64_t absent = 0, gaps = 0, constant = 0, not_finite = 0, no_dof = 0;
    int64_t tested = 0, local = 0;
    int64_t capped = 0;      // the chosen neff exceeds N
    CycleCount annual_cycle; // points whose calendar-month means differ (when looked for)
};
void add_counts(TileCounts& total, const TileCounts& tile);

// Before the chain, on the tile as read and transformed (m.xs.count steps of
// `points` points): each point's state (present, gap, absent, constant or not
// finite), and r and the slope on the series for the points present. A point
// missing at some step is marked missing at step 2, where lagscan looks, so that
// the chain leaves it out as it leaves out a point missing at every step.
void prepare_points(TileMatrix& m, int32_t points, const std::vector<float>& series, TileColumns& c);

// After the chain (m holding the autocorrelations, c the critical lags and
// neff): the lag-1 values, neff_lag1, dof, p (under the phase test, c.p as
// it stands) and the local mask. A present point whose r, lag-1
// autocorrelation, neff or neff_lag1 is not a finite number becomes
// POINT_NOT_FINITE, one whose t test has dof not above 0 POINT_NO_DOF; neither
// is tested. c.neff keeps the chain's values (the work files' bytes).
void test_points(const TileMatrix& m, int32_t points, const SeriesChain& series, const TestSettings& s,
                 TileColumns& c, TileCounts& counts);
