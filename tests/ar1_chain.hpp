// Null and planted AR(1) data put through lagscan, sigcut and nstar as a user runs
// them, and the p-values of every (series, point) pair under each choice of the
// effective sample size. Shared by the science tests and bench/false_positive_rates.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Standard normal deviates from a fixed-seed generator by Box-Muller, so that the
// same seed gives the same numbers with any standard library.
struct NormalStream {
    std::mt19937_64 gen;
    bool has_spare = false;
    double spare = 0.0;
    explicit NormalStream(uint64_t seed) : gen(seed) {}
};
double next_normal(NormalStream& s);

// A stationary AR(1) of unit variance and lag-1 coefficient a: x(t) = a x(t-1) +
// sqrt(1 - a^2) e(t), started from its stationary distribution.
void ar1_series(NormalStream& s, double a, int32_t steps, float* out);

// A field of AR(1) points, point-major: values[p * steps + t].
struct FieldValues {
    int32_t steps = 0;
    int32_t points = 0;
    std::vector<float> values;
};
FieldValues ar1_field(NormalStream& s, double b, int32_t steps, int32_t points);

// Replaces points first .. first+count-1 of the field by c x + sqrt(1 - c^2) z with z
// a fresh AR(1) of coefficient b: correlated at c with x, and still an AR(1) of
// coefficient b when x is one.
void plant_region(NormalStream& s, FieldValues& field, const float* x, double c, double b, int32_t first, int32_t count);

// The field's files in a work directory: its record file, the autocorrelations
// lagscan wrote and the critical lags sigcut wrote, and b1 (lag 1 as lagscan wrote it).
struct FieldRun {
    std::string dir;
    std::vector<float> b1;
};

// What nstar and lagscan gave for one series against the whole field.
struct SeriesRun {
    float a1 = 0.0f;         // the series' lag-1 autocorrelation from lagscan
    std::vector<float> neff; // nstar's value at every point
};

// The runs end with a message in `error` (and false) when a program fails or
// writes something unexpected.
bool run_field(const std::string& dir, const FieldValues& field, FieldRun& run, std::string& error);
// `name` tells this series' files apart from the others' in the same directory.
bool run_series(const FieldRun& field_run, const std::string& name, const float* series, int32_t steps,
                SeriesRun& run, std::string& error);

// The p-value of one pair with each effective sample size: the number of steps,
// the chain's neff, the lag-1 formula's, and the smaller of the two.
struct PairP {
    double with_n, chain, lag1, min;
};
std::vector<PairP> pair_p_values(const FieldValues& field, const FieldRun& field_run, const float* series,
                                 const SeriesRun& series_run);

// Share of the pairs whose p (as picked by `which`) lies below alpha; an untested
// pair (NaN p) counts as not significant.
double share_below(const std::vector<PairP>& pairs, double PairP::*which, double alpha);
