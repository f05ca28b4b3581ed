#include "run_summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::string method_text(NeffMethod m)
{
    switch (m) {
    case NeffMethod::chain: return "chain (nstar's neff)";
    case NeffMethod::lag1: return "lag1 (N(1 - a1 b1)/(1 + a1 b1))";
    default: return "min (the smaller of the chain's and the lag-1 value)";
    }
}

} // namespace

std::string grid_text(const TimeVariable& tv)
{
    if (tv.rank == 1) return "a single point";
    std::string s;
    for (int d = 1; d < tv.rank; ++d) {
        if (d > 1) s += " × ";
        s += std::string(tv.dim_names[d]) + " " + std::to_string(tv.sizes[d]);
    }
    return s;
}

void print_summary(const FieldSource& field, const IndexSeries& series, const PointResults& res,
                   const SignificanceMap& sig, const TestSettings& test, double seconds)
{
    int64_t absent = 0, gaps = 0;
    std::vector<float> neff;
    for (int64_t p = 0; p < res.points; ++p) {
        absent += res.state[p] == POINT_ABSENT;
        gaps += res.state[p] == POINT_GAP;
        if (res.neff[p] != MISSING_VALUE && !std::isnan(res.neff[p])) neff.push_back(res.neff[p]);
    }
    std::printf("grid:      %s (%lld points)\n", grid_text(field.tv).c_str(), (long long)res.points);
    std::printf("steps:     %d (field steps %lld … %lld, series steps %lld … %lld)\n", field.steps,
                (long long)field.first_step, (long long)(field.first_step + field.steps - 1),
                (long long)series.first_step, (long long)(series.first_step + series.steps - 1));
    std::printf("points:    %lld with a result, %lld missing throughout, %lld dropped for gaps\n",
                (long long)neff.size(), (long long)absent, (long long)gaps);
    if (!neff.empty()) {
        std::sort(neff.begin(), neff.end());
        const size_t m = neff.size();
        const double median = m % 2 ? neff[m / 2] : (double(neff[m / 2 - 1]) + double(neff[m / 2])) / 2;
        std::printf("neff:      min %.2f  median %.2f  max %.2f\n", double(neff.front()), median, double(neff.back()));
    }
    std::printf("test:      neff %s, alpha %g, FDR q %g\n", method_text(test.method).c_str(), test.alpha, test.q);
    std::printf("tested:    %lld points, %lld with p < alpha\n", (long long)sig.tested, (long long)sig.local);
    if (std::isnan(sig.p_fdr))
        std::printf("FDR:       no point significant (no p-value under the Benjamini-Hochberg line)\n");
    else
        std::printf("FDR:       %lld points significant, p_FDR = %.4g\n", (long long)sig.fdr, sig.p_fdr);
    std::printf("capped:    %lld points with neff > N = %d, tested with dof = N - 2\n", (long long)sig.capped,
                field.steps);
    if (test.method == NeffMethod::chain && field.steps < 50)
        std::printf("warning:   with N = %d steps the critical-lag search rarely finds a lag, so the chain's neff "
                    "stays near N and too many points pass; --neff min (the default) keeps the rate near alpha\n",
                    field.steps);
    std::printf("wall time: %.1f s\n", seconds);
}

