#include "run_summary.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string method_text(NeffMethod m)
{
    switch (m) {
    case NeffMethod::chain: return "chain (nstar's neff)";
    case NeffMethod::lag1: return "lag1 (N(1 - a1 b1)/(1 + a1 b1))";
    default: return "min (the smaller of the chain's and the lag-1 value)";
    }
}

// The pairing's lines: the paired dates (or steps) and N, the series' own dates
// where they differ, the lag, the by-position note and what was taken out.
void print_pairing(const FieldSource& field, const PairedSteps& paired)
{
    const Pairing& p = paired.pairing;
    const int64_t total = int64_t(field.tv.sizes[0]);
    std::string when;
    if (!p.field_start.empty()) when = p.field_start + " … " + p.field_end + " (" + p.time_step + "), ";
    else if (!p.series_start.empty()) when = p.series_start + " … " + p.series_end + " (" + p.time_step + "), ";
    std::printf("paired:    N = %d, %s%s; field steps %lld … %lld of %lld, series steps %lld … %lld of %zu\n", p.n,
                when.c_str(), p.by_date ? "by date" : "by position", (long long)field.first_step,
                (long long)(field.first_step + p.n - 1), (long long)total, (long long)(p.series_first + 1),
                (long long)(p.series_first + p.n), paired.series.values.size());
    if (!p.field_start.empty() && !p.series_start.empty())
        std::printf("series:    its own dates %s … %s\n", p.series_start.c_str(), p.series_end.c_str());
    if (paired.lag != 0)
        std::printf("lag:       %lld steps: the series %s (its step t with the field's step t %s %lld)\n",
                    (long long)paired.lag, paired.lag > 0 ? "leads" : "lags", paired.lag > 0 ? "+" : "-",
                    (long long)(paired.lag > 0 ? paired.lag : -paired.lag));
    if (!p.note.empty()) std::printf("note:      %s\n", p.note.c_str());
    if (!paired.field.plan.description.empty())
        std::printf("removed:   %s, at every point and from the series\n", paired.field.plan.description.c_str());
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

void print_summary(const FieldSource& field, const PairedSteps& paired, const MapTest& test,
                   std::vector<float> dof, const TestSettings& settings, const std::string& warning, double seconds,
                   const PhaseRun* phase)
{
    const TileCounts& c = test.counts;
    // The effective sample size the test used: min(neff, N) of the chosen method.
    std::vector<float> neff;
    for (float d : dof)
        if (!std::isnan(d)) neff.push_back(d + 2);
    std::printf("grid:      %s (%lld points)\n", grid_text(field.tv).c_str(), (long long)field.tv.points);
    print_pairing(field, paired);
    // By reason: the counts add up to the grid's points.
    std::printf("points:    %lld tested, %lld missing throughout, %lld dropped for gaps, %lld constant, %lld with "
                "a value or result that is not a finite number, %lld with dof <= 0\n",
                (long long)c.tested, (long long)c.absent, (long long)c.gaps, (long long)c.constant,
                (long long)c.not_finite, (long long)c.no_dof);
    if (!neff.empty()) {
        const size_t m = neff.size();
        std::nth_element(neff.begin(), neff.begin() + m / 2, neff.end());
        const float upper = neff[m / 2];
        const double median =
            m % 2 ? upper : (double(*std::max_element(neff.begin(), neff.begin() + m / 2)) + double(upper)) / 2;
        const auto [lo, hi] = std::minmax_element(neff.begin(), neff.end());
        std::printf("neff:      min %.2f  median %.2f  max %.2f (what the test used: --neff %s, at most N)\n",
                    double(*lo), median, double(*hi), neff_method_name(settings.method));
    }
    if (phase) {
        std::printf("test:      phase-randomised surrogates of the series: %lld surrogates, seed %llu, alpha %g, "
                    "FDR q %g\n",
                    (long long)phase->surrogates.count, (unsigned long long)phase->surrogates.seed, settings.alpha,
                    settings.q);
        std::printf("           neff, neff_lag1 and dof are written for reference; the test does not use them\n");
        std::printf("p floor:   1/(M + 1) = %.4g, the smallest p possible", smallest_p(*phase));
        if (c.tested > 0)
            std::printf("; among %lld points no set of fewer than %lld can pass the FDR test", (long long)c.tested,
                        (long long)smallest_passing_set(phase->surrogates.count, c.tested, settings.q));
        std::printf("\n");
    } else {
        std::printf("test:      neff %s, alpha %g, FDR q %g\n", method_text(settings.method).c_str(), settings.alpha,
                    settings.q);
    }
    std::printf("tested:    %lld points, %lld with p < alpha\n", (long long)c.tested, (long long)c.local);
    if (std::isnan(test.p_fdr))
        std::printf("FDR:       no point significant (no p-value under the Benjamini-Hochberg line)\n");
    else
        std::printf("FDR:       %lld points significant, p_FDR = %.4g\n", (long long)test.fdr, test.p_fdr);
    if (phase) {
        if (!std::isnan(phase->field_p)) {
            int64_t reach = 0;
            for (int64_t k : phase->field.surrogate) reach += k >= phase->field.observed;
            std::printf("field:     field_p = %.4g: %lld points reach their critical |r| at alpha, and %lld of %lld "
                        "surrogates as many\n",
                        phase->field_p, (long long)phase->field.observed, (long long)reach,
                        (long long)phase->surrogates.count);
        }
        std::printf("BLAS:      %s\n", phase->blas.c_str());
        std::printf("phase CPU: %.2f s in the test, of which %.2f s in the matrix products\n", phase->test_seconds,
                    phase->product_seconds);
        const std::string warning = floor_warning(*phase, c.tested, test.p_fdr, settings.q);
        if (!warning.empty()) std::printf("warning:   %s\n", warning.c_str());
    } else {
        std::printf("capped:    %lld points with neff > N = %d, tested with dof = N - 2\n", (long long)c.capped,
                    field.steps);
    }
    if (!phase && settings.method == NeffMethod::chain && field.steps < 50)
        std::printf("warning:   with N = %d steps the critical-lag search rarely finds a lag, so the chain's neff "
                    "stays near N and too many points pass; --neff min (the default) keeps the rate near alpha\n",
                    field.steps);
    if (!warning.empty()) std::printf("warning:   %s\n", warning.c_str());
    std::printf("wall time: %.1f s\n", seconds);
}

void print_renamed_grid(const FieldSource& field, const OutputGrid& grid, const std::string& out)
{
    for (int d = 0; d < grid.rank; ++d)
        if (grid.names[d] != field.tv.dim_names[d + 1])
            std::printf("renamed:   the grid's \"%s\" is \"%s\" in %s, which has a variable \"%s\" of its own\n",
                        field.tv.dim_names[d + 1], grid.names[d].c_str(), out.c_str(), field.tv.dim_names[d + 1]);
}
