// Expectations the tests hold the programs to, written from the definitions of
// the statistics and not from the programs' loops, and the fields they are fed.
#pragma once

#include <cstdint>
#include <vector>

#include "series_file.hpp"

using Field = std::vector<std::vector<float>>; // [step or lag][point]

// x laid out as a FieldSeries of x.size() steps in tiles of `lanes` points,
// `depth` steps deep (lanes = MAX_POINTS: lag-major rows). Points 0 .. n-1 of a
// step read 0.0 beyond that step's own values, as a program stores them; every
// other cell (steps beyond x, points from n to the end of their tile) holds
// `filler`, which no computation on points 0 .. n-1 may read.
struct TiledField {
    std::vector<float> cells;
    FieldSeries s; // points into cells: move a TiledField, never copy it
};
TiledField tiled_field(const Field& x, int n, int32_t lanes, int32_t depth, float filler);

// Autocorrelations [lag - 1][point] of a field [step][point] of n points in single
// precision, one whole series at a time: its deviations from the mean, then each
// lag's products of deviations added in step order. A plain scalar loop gives the
// same bits, so the vectorised paths and the program's output are compared with
// it byte for byte.
Field plain_autocorrelations(const Field& x, int n);

// The same estimator in double precision from the textbook formula,
// (N-1)/N * sum d(t) d(t-j) / sum d(t)^2, to hold the single-precision loops to
// within their rounding. A missing point is MISSING_VALUE at every lag.
std::vector<std::vector<double>> textbook_autocorrelations(const Field& x, int n);

// Critical lags [point] of autocorrelations [lag - 1][point] in double precision
// (bound 1.96 sqrt((1 + 2 sum of squares up to the lag) / L)). `closest` is each
// point's smallest relative distance between an |autocorrelation| and its bound:
// where it is tiny, single precision may fall on the other side.
struct TextbookLags {
    std::vector<float> lag;
    std::vector<double> closest;
};
TextbookLags textbook_critical_lags(const Field& x, int n);

// Effective sample sizes [point] in double precision: L / (1 + 2 sum r1(k) ac2(k))
// over k = 1 .. min(K, L - 1), K the larger critical lag truncated; r1 and ac2
// hold one entry or row per lag record of the series file.
std::vector<double> textbook_effective_sizes(const std::vector<float>& r1, const Field& ac2, float clag1,
                                             const std::vector<float>& clag2);

// A field of `steps` x `points` values from a seeded generator, sprinkled with
// hostile values when `hostile` is set.
Field random_field(int steps, int points, unsigned seed, bool hostile);

// A random field in which point p carries hostile kind p % HOSTILE_KINDS: a NaN, both
// infinities, the missing marker at step 2 or elsewhere, 3e19, 1.7e38, -3.4e38 at
// one or two steps; or subnormals, a constant, or signed zeros throughout. Unlike
// the sprinkled field, a long series keeps most of its lags finite, so a value
// that leaks into a neighbouring lane or lag shows.
inline constexpr int HOSTILE_KINDS = 12;
Field hostile_points_field(int steps, int points, unsigned seed);
