#include "climatology.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "run_error.hpp"
#include "series_file.hpp"

namespace {

constexpr int HARMONICS = 3;
constexpr int HARMONIC_COLUMNS = 1 + 2 * HARMONICS;

constexpr const char* MONTH_NAMES[12] = {"January", "February", "March",     "April",   "May",      "June",
                                         "July",    "August",   "September", "October", "November", "December"};

// Inverts the n × n matrix in place by Gauss-Jordan elimination with partial
// pivoting; false when it is singular to working precision.
bool invert(std::vector<double>& m, int n)
{
    std::vector<double> inv(size_t(n) * size_t(n), 0.0);
    for (int i = 0; i < n; ++i) inv[size_t(i) * size_t(n) + size_t(i)] = 1;
    double largest = 0;
    for (double v : m) largest = std::fmax(largest, std::fabs(v));
    auto at = [n](std::vector<double>& a, int r, int c) -> double& { return a[size_t(r) * size_t(n) + size_t(c)]; };
    for (int c = 0; c < n; ++c) {
        int pivot = c;
        for (int r = c + 1; r < n; ++r)
            if (std::fabs(at(m, r, c)) > std::fabs(at(m, pivot, c))) pivot = r;
        if (!(std::fabs(at(m, pivot, c)) > 1e-9 * largest)) return false;
        for (int k = 0; k < n; ++k) {
            std::swap(at(m, c, k), at(m, pivot, k));
            std::swap(at(inv, c, k), at(inv, pivot, k));
        }
        const double d = at(m, c, c);
        for (int k = 0; k < n; ++k) {
            at(m, c, k) /= d;
            at(inv, c, k) /= d;
        }
        for (int r = 0; r < n; ++r) {
            if (r == c) continue;
            const double f = at(m, r, c);
            for (int k = 0; k < n; ++k) {
                at(m, r, k) -= f * at(m, c, k);
                at(inv, r, k) -= f * at(inv, c, k);
            }
        }
    }
    m = inv;
    return true;
}

// The year's phase of a step: the time since January 1 over the length of its year.
double year_phase(const StepDate& d, Calendar c)
{
    const StepDate jan1{CivilDate{d.date.year, 1, 1}, 0, day_number(c, CivilDate{d.date.year, 1, 1})};
    const double since = (step_seconds(d) - step_seconds(jan1)) / 86400.0;
    return 2 * std::numbers::pi * since / double(days_in_year(c, d.date.year));
}

void plan_months(ClimatologyPlan& p, const std::vector<StepDate>& dates)
{
    int count[12] = {}, column_of[12];
    for (const StepDate& d : dates) ++count[d.date.month - 1];
    for (int m = 0; m < 12; ++m) {
        if (count[m] == 1) {
            fail("--anomalies", std::string("the paired period holds ") + MONTH_NAMES[m] +
                                    " only once: calendar-month means need each month at least twice, so pair "
                                    "at least two years");
        }
        column_of[m] = count[m] ? p.columns++ : -1;
    }
    p.column.resize(dates.size());
    for (size_t t = 0; t < dates.size(); ++t) p.column[t] = column_of[dates[t].date.month - 1];
    p.solve.assign(size_t(p.columns) * size_t(p.columns), 0.0);
    for (int m = 0; m < 12; ++m)
        if (count[m]) p.solve[size_t(column_of[m]) * size_t(p.columns + 1)] = 1.0 / count[m];
}

void plan_harmonics(ClimatologyPlan& p, const std::vector<StepDate>& dates, Calendar c)
{
    const double span = (step_seconds(dates.back()) - step_seconds(dates.front())) / 86400.0 + 1;
    if (span < days_in_year(c, dates.front().date.year))
        fail("--anomalies", "the paired daily steps span " + std::to_string(long(span)) +
                                " days: an annual cycle needs at least a year of them");
    p.columns = HARMONIC_COLUMNS;
    p.basis.resize(dates.size() * HARMONIC_COLUMNS);
    for (size_t t = 0; t < dates.size(); ++t) {
        const double phase = year_phase(dates[t], c);
        double* row = &p.basis[t * HARMONIC_COLUMNS];
        row[0] = 1;
        for (int h = 1; h <= HARMONICS; ++h) {
            row[2 * h - 1] = std::cos(h * phase);
            row[2 * h] = std::sin(h * phase);
        }
    }
    std::vector<double> gram(HARMONIC_COLUMNS * HARMONIC_COLUMNS, 0.0);
    for (size_t t = 0; t < dates.size(); ++t)
        for (int a = 0; a < HARMONIC_COLUMNS; ++a)
            for (int b = 0; b < HARMONIC_COLUMNS; ++b)
                gram[size_t(a * HARMONIC_COLUMNS + b)] += p.basis[t * HARMONIC_COLUMNS + size_t(a)] *
                                                          p.basis[t * HARMONIC_COLUMNS + size_t(b)];
    if (!invert(gram, HARMONIC_COLUMNS))
        fail("--anomalies", "the paired daily steps do not determine an annual cycle");
    p.solve = gram;
}

// A basis value of step t, column j.
double basis_at(const ClimatologyPlan& p, int32_t t, int32_t j)
{
    if (p.cycle == CycleKind::annual_harmonics) return p.basis[size_t(t) * size_t(p.columns) + size_t(j)];
    return p.column[size_t(t)] == j ? 1.0 : 0.0;
}

// 1 when x is neither the missing marker nor infinite nor NaN, else 0; in
// bitwise operations, so that the loops around it vectorise.
uint32_t unusable(float x)
{
    return uint32_t(x == MISSING_VALUE) | uint32_t(!(std::fabs(x) <= std::numeric_limits<float>::max()));
}

// x where keep is 1, y where it is 0: a select on the bits, which vectorises
// where a conditional store of a converted value does not.
float pick(uint32_t keep, float x, float y)
{
    const uint32_t mask = 0u - keep;
    return std::bit_cast<float>((std::bit_cast<uint32_t>(x) & mask) | (std::bit_cast<uint32_t>(y) & ~mask));
}

} // namespace

ClimatologyPlan plan_climatology(const std::vector<StepDate>& dates, int32_t steps, StepKind kind, Calendar calendar,
                                 bool anomalies, bool detrend)
{
    ClimatologyPlan p;
    p.steps = steps;
    p.detrend = detrend;
    const bool dated = dates.size() == size_t(steps) && steps > 0;
    if (anomalies) {
        p.cycle = dated && kind == StepKind::monthly ? CycleKind::calendar_months
                  : dated && kind == StepKind::daily ? CycleKind::annual_harmonics
                                                     : CycleKind::mean;
        if (p.cycle == CycleKind::calendar_months) plan_months(p, dates);
        else if (p.cycle == CycleKind::annual_harmonics) plan_harmonics(p, dates, calendar);
        else {
            p.columns = 1;
            p.column.assign(size_t(steps), 0);
            p.solve.assign(1, 1.0 / steps);
        }
    }
    p.tau.resize(size_t(steps));
    for (int32_t t = 0; t < steps; ++t) {
        p.tau[size_t(t)] = t - (steps - 1) / 2.0;
        p.tau_tau += p.tau[size_t(t)] * p.tau[size_t(t)];
    }
    p.one_u.assign(size_t(p.columns), 0.0);
    p.tau_u.assign(size_t(p.columns), 0.0);
    for (int32_t t = 0; t < steps; ++t)
        for (int32_t j = 0; j < p.columns; ++j) {
            p.one_u[size_t(j)] += basis_at(p, t, j);
            p.tau_u[size_t(j)] += p.tau[size_t(t)] * basis_at(p, t, j);
        }
    switch (p.cycle) {
    case CycleKind::none: p.description = ""; break;
    case CycleKind::calendar_months: p.description = "calendar-month means removed"; break;
    case CycleKind::annual_harmonics: p.description = "three annual harmonics removed"; break;
    case CycleKind::mean:
        p.description = dated ? "the mean removed (steps neither monthly nor daily)" : "the mean removed (no dates)";
        break;
    }
    if (detrend)
        p.description += p.description.empty() ? "least-squares line removed" : ", then the least-squares line";
    return p;
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void remove_climatology(const ClimatologyPlan& p, float* values, int32_t points)
{
    if ((p.cycle == CycleKind::none && !p.detrend) || points <= 0 || p.steps <= 0) return;
    const size_t np = size_t(points), k = size_t(p.columns);
    const bool sparse = p.cycle != CycleKind::annual_harmonics;
    // Per point: projections onto the basis (k), the sum and the product with
    // tau, and whether any step is missing.
    std::vector<double> proj(k * np, 0.0), sum(np, 0.0), tau_sum(np, 0.0);
    std::vector<uint32_t> bad(np, 0);
    for (int32_t t = 0; t < p.steps; ++t) {
        const float* __restrict row = values + size_t(t) * np;
        const double tau = p.tau[size_t(t)];
        double* __restrict s = sum.data();
        double* __restrict ts = tau_sum.data();
        uint32_t* __restrict b = bad.data();
        for (size_t i = 0; i < np; ++i) b[i] |= unusable(row[i]);
        if (p.detrend)
            for (size_t i = 0; i < np; ++i) {
                const double x = row[i];
                s[i] += x;
                ts[i] += tau * x;
            }
        if (k == 0) continue;
        if (sparse) {
            double* __restrict g = proj.data() + size_t(p.column[size_t(t)]) * np;
            for (size_t i = 0; i < np; ++i) g[i] += double(row[i]);
        } else {
            for (size_t j = 0; j < k; ++j) {
                const double u = p.basis[size_t(t) * k + j];
                double* __restrict g = proj.data() + j * np;
                for (size_t i = 0; i < np; ++i) g[i] += u * double(row[i]);
            }
        }
    }
    // Coefficients: a = solve · proj, then the line of what is left, x - U a:
    // its mean (s - 1ᵀU a) / N and slope (tau·x - tauᵀU a) / tauᵀtau.
    std::vector<double> coef(k * np, 0.0), level(np, 0.0), slope(np, 0.0);
    for (size_t j = 0; j < k; ++j)
        for (size_t l = 0; l < k; ++l) {
            const double w = p.solve[j * k + l];
            if (w == 0) continue;
            double* __restrict a = coef.data() + j * np;
            const double* __restrict q = proj.data() + l * np;
            for (size_t i = 0; i < np; ++i) a[i] += w * q[i];
        }
    if (p.detrend) {
        for (size_t i = 0; i < np; ++i) {
            double fit_sum = 0, fit_tau = 0;
            for (size_t j = 0; j < k; ++j) {
                fit_sum += p.one_u[j] * coef[j * np + i];
                fit_tau += p.tau_u[j] * coef[j * np + i];
            }
            level[i] = (sum[i] - fit_sum) / p.steps;
            slope[i] = (tau_sum[i] - fit_tau) / p.tau_tau;
        }
    }
    std::vector<double> fit(sparse && k > 0 ? 0 : np, 0.0);
    for (int32_t t = 0; t < p.steps; ++t) {
        float* __restrict row = values + size_t(t) * np;
        const double tau = p.tau[size_t(t)];
        const double* __restrict lv = level.data();
        const double* __restrict sl = slope.data();
        const uint32_t* __restrict b = bad.data();
        if (sparse && k > 0) {
            const double* __restrict a = coef.data() + size_t(p.column[size_t(t)]) * np;
            for (size_t i = 0; i < np; ++i) {
                const float x = row[i];
                row[i] = pick(b[i], x, float(double(x) - a[i] - lv[i] - sl[i] * tau));
            }
        } else {
            // The fit at this step, column by column in a fixed order.
            std::fill(fit.begin(), fit.end(), 0.0);
            for (size_t j = 0; j < k; ++j) {
                const double u = p.basis[size_t(t) * k + j];
                const double* __restrict a = coef.data() + j * np;
                double* __restrict f = fit.data();
                for (size_t i = 0; i < np; ++i) f[i] += u * a[i];
            }
            const double* __restrict f = fit.data();
            for (size_t i = 0; i < np; ++i) {
                const float x = row[i];
                row[i] = pick(b[i], x, float(double(x) - f[i] - lv[i] - sl[i] * tau));
            }
        }
    }
}
