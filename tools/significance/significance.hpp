// The statistics that turn a correlation and an effective sample size into a
// significance test: Pearson's r, the lag-1 effective sample size, the degrees of
// freedom, the two-sided p of Student's t, and the Benjamini-Hochberg threshold.
//
// Everything is in double precision. NaN stands for "not tested": every function
// passes it on rather than inventing a value, so a missing point stays missing.
// The record files' missing-value marker is an ordinary finite number here: the
// caller turns a missing point into NaN (or leaves it out) before calling.
#pragma once

#include <cstdint>

// Pearson's correlation of x and y over n steps, every sum accumulated in double
// precision in step order. NaN when n < 2, when either series is constant, or
// when a value is not finite.
double pearson_r(const float* x, const float* y, int32_t n);

// pearson_r(y, column k, n) for the `lanes` points k whose values lie step after
// step: x[t * lanes + k] is point k at step t (lagscan's tiles). lanes is 4, 8 or
// 16; every point's sums run in step order as in pearson_r, the points side by
// side, so each r is pearson_r's to the bit.
void pearson_r_lanes(const float* y, const float* x, int32_t lanes, int32_t n, double* r);

// pearson_r_lanes is built once per instruction set, all giving the same bits;
// the one above is the widest this CPU runs.
enum class LanesBuild { plain, avx2, avx512 };
bool lanes_build_runs(LanesBuild b);
void pearson_r_lanes(LanesBuild b, const float* y, const float* x, int32_t lanes, int32_t n, double* r);

// The lag-1 effective sample size N(1 - a1 b1)/(1 + a1 b1), in double precision
// (NaN when a1 or b1 is not finite).
double lag1_neff(double a1, double b1, int32_t n);

enum class NeffMethod { chain, lag1, min };

// The effective sample size the test uses: chain's, lag1's, or the smaller of the
// two (NaN when the one(s) it needs are NaN).
double neff_for_test(NeffMethod method, double neff_chain, double neff_lag1);

// Degrees of freedom min(neff, n) - 2; NaN when neff is NaN.
double test_dof(double neff, int32_t n);

// Two-sided p of t = r sqrt(dof / (1 - r^2)) under Student's t with real-valued
// dof (boost::math::students_t). NaN when dof <= 0 or not finite, or r is NaN
// or outside [-1, 1]; 0 when |r| == 1.
double two_sided_p(double r, double dof);

// Benjamini-Hochberg threshold over the count p-values (NaN entries are not
// tested and do not count in m): the largest sorted p_(i) <= (i/m) q, or NaN
// when none qualifies (so "p <= threshold" is false for every p). The line is
// computed as i q / m. NaN also when nothing is tested or q is not above 0.
double fdr_threshold(const double* p, int64_t count, double q);

// The same in place, for a map too large to copy: p's order is lost. passed is
// the number of p at or below the threshold (0 when it is NaN).
double fdr_threshold_reordering(double* p, int64_t count, double q, int64_t& passed);

// The method's name as the tools print and store it ("chain", "lag1", "min"),
// and back; parse_neff_method returns false for any other text.
const char* neff_method_name(NeffMethod method);
bool parse_neff_method(const char* text, NeffMethod& method);
