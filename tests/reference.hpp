// Plain scalar definitions of the computations, written straight from their rules
// on [step][point] vectors, against which the programs' bytes are compared.
#pragma once

#include <vector>

using Field = std::vector<std::vector<float>>; // [step or lag][point]

// Autocorrelations [lag - 1][point] of a field [step][point] of n points.
Field reference_autocorrelations(const Field& x, int n);

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

// Critical lags [point] of autocorrelations [lag - 1][point], point by point.
std::vector<float> reference_critical_lags(const Field& x, int n);

// Effective sample sizes [point], point by point; r1 and ac2 hold one entry or row
// per lag record of the series file.
std::vector<float> reference_effective_sizes(const std::vector<float>& r1, const Field& ac2, float clag1,
                                             const std::vector<float>& clag2);
