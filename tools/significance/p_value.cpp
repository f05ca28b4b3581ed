#include <boost/math/distributions/students_t.hpp>

#include <cmath>
#include <cstring>

#include "significance.hpp"

namespace {

namespace bp = boost::math::policies;

// A tool must never die of an exception thrown deep in a distribution: errors come
// back as NaN or infinity and the point is simply not tested. Double precision
// inside (no promotion to long double) is ample for a p-value and several times
// faster over a map of ten thousand points.
using Policy = bp::policy<bp::domain_error<bp::errno_on_error>, bp::pole_error<bp::errno_on_error>,
                          bp::overflow_error<bp::errno_on_error>, bp::evaluation_error<bp::errno_on_error>,
                          bp::rounding_error<bp::errno_on_error>, bp::promote_double<false>>;

} // namespace

double neff_for_test(NeffMethod method, double neff_chain, double neff_lag1)
{
    switch (method) {
    case NeffMethod::chain:
        return neff_chain;
    case NeffMethod::lag1:
        return neff_lag1;
    case NeffMethod::min:
        if (std::isnan(neff_chain) || std::isnan(neff_lag1)) return std::nan("");
        return std::fmin(neff_chain, neff_lag1);
    }
    return std::nan("");
}

double test_dof(double neff, int32_t n)
{
    if (std::isnan(neff)) return std::nan("");
    // neff exceeds n where the two autocorrelation functions have products of
    // opposite sign; the test never credits more independent samples than steps.
    return std::fmin(neff, double(n)) - 2.0;
}

double two_sided_p(double r, double dof)
{
    if (std::isnan(r) || !std::isfinite(dof) || dof <= 0.0) return std::nan("");
    const double a = std::fabs(r);
    if (a > 1.0) return std::nan("");
    if (a == 1.0) return 0.0;
    // (1 - a)(1 + a) keeps the digits that 1 - a^2 loses when r is near 1.
    const double t = a * std::sqrt(dof / ((1.0 - a) * (1.0 + a)));
    const boost::math::students_t_distribution<double, Policy> dist(dof);
    return 2.0 * boost::math::cdf(boost::math::complement(dist, t));
}

const char* neff_method_name(NeffMethod method)
{
    switch (method) {
    case NeffMethod::chain:
        return "chain";
    case NeffMethod::lag1:
        return "lag1";
    case NeffMethod::min:
        return "min";
    }
    return "?";
}

bool parse_neff_method(const char* text, NeffMethod& method)
{
    for (NeffMethod m : {NeffMethod::chain, NeffMethod::lag1, NeffMethod::min})
        if (std::strcmp(text, neff_method_name(m)) == 0) {
            method = m;
            return true;
        }
    return false;
}
