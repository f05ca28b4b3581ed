// The test at every point: r against Student's t with the effective sample size's
// degrees of freedom, a local mask at alpha and a Benjamini-Hochberg mask at q.
#pragma once

#include <cstdint>

#include "point_results.hpp"
#include "significance.hpp"

struct TestSettings {
    double alpha = 0.05;
    double q = 0.10;
    NeffMethod method = NeffMethod::min;
};

inline constexpr signed char MASK_FILL = -1;

struct SignificanceMap {
    int64_t points = 0;
    double* neff_lag1 = nullptr; // N(1 - a1 b1)/(1 + a1 b1); NaN where missing
    double* dof = nullptr;       // min(neff, N) - 2 of the chosen neff
    double* p = nullptr;
    signed char* sig_local = nullptr; // 1: p < alpha, 0: not, MASK_FILL: not tested
    signed char* sig_fdr = nullptr;   // 1: p <= p_fdr
    double p_fdr = 0;                 // NaN when no p qualifies
    int64_t tested = 0, local = 0, fdr = 0;
    int64_t capped = 0; // points whose chosen neff exceeds N
};

// Tests every point of res over `steps` steps; fatal only when memory runs out.
void test_points(const PointResults& res, int32_t steps, const TestSettings& s, SignificanceMap& m);
void release_significance(SignificanceMap& m);
