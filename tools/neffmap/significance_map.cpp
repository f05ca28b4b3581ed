#include "significance_map.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "run_frame.hpp"
#include "series_file.hpp"

void test_points(const PointResults& res, int32_t steps, const TestSettings& s, SignificanceMap& m)
{
    const size_t n = size_t(res.points);
    m.points = res.points;
    m.neff_lag1 = static_cast<double*>(std::malloc(n * sizeof(double)));
    m.dof = static_cast<double*>(std::malloc(n * sizeof(double)));
    m.p = static_cast<double*>(std::malloc(n * sizeof(double)));
    m.sig_local = static_cast<signed char*>(std::malloc(n));
    m.sig_fdr = static_cast<signed char*>(std::malloc(n));
    if (!m.neff_lag1 || !m.dof || !m.p || !m.sig_local || !m.sig_fdr)
        fatal("neffmap", "cannot reserve memory for the significance test");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int64_t i = 0; i < res.points; ++i) {
        // The chain's missing marker is a finite number: a missing point is NaN here.
        const bool present = res.state[i] == POINT_PRESENT && res.neff[i] != MISSING_VALUE;
        const double chain = present ? double(res.neff[i]) : nan;
        m.neff_lag1[i] = present ? lag1_neff(double(res.series_lag1), double(res.lag1[i]), steps) : nan;
        const double neff = neff_for_test(s.method, chain, m.neff_lag1[i]);
        m.capped += neff > double(steps);
        m.dof[i] = test_dof(neff, steps);
        m.p[i] = two_sided_p(res.r[i], m.dof[i]);
        const bool tested = !std::isnan(m.p[i]);
        m.tested += tested;
        m.sig_local[i] = tested ? static_cast<signed char>(m.p[i] < s.alpha) : MASK_FILL;
        m.local += m.sig_local[i] == 1;
    }
    m.p_fdr = fdr_threshold(m.p, res.points, s.q);
    for (int64_t i = 0; i < res.points; ++i) {
        m.sig_fdr[i] = std::isnan(m.p[i]) ? MASK_FILL : static_cast<signed char>(m.p[i] <= m.p_fdr);
        m.fdr += m.sig_fdr[i] == 1;
    }
}

void release_significance(SignificanceMap& m)
{
    std::free(m.neff_lag1);
    std::free(m.dof);
    std::free(m.p);
    std::free(m.sig_local);
    std::free(m.sig_fdr);
    m = SignificanceMap{};
}
