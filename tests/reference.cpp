#include "reference.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "series_file.hpp"

namespace {

// Point p of every step, as a program stores it: a step whose record holds fewer
// values reads 0 there.
std::vector<float> series_of(const Field& x, int p)
{
    std::vector<float> s;
    for (const auto& step : x) s.push_back(size_t(p) < step.size() ? step[size_t(p)] : 0.0f);
    return s;
}

// Lags 1 .. N-1 of one series in single precision, straight from the estimator:
// deviations from the mean, then for each lag the products of deviations added in
// step order, divided by N and then by the variance (squares over N - 1).
std::vector<float> single_precision_lags(const std::vector<float>& x)
{
    const size_t steps = x.size();
    float total = 0.0f;
    for (float v : x) total += v;
    const float mean = total / float(steps);
    std::vector<float> dev;
    for (float v : x) dev.push_back(v - mean);
    float squares = 0.0f;
    for (float d : dev) squares += d * d;
    const float variance = squares / float(steps - 1);
    std::vector<float> lags;
    for (size_t j = 1; j < steps; ++j) {
        float products = 0.0f;
        for (size_t t = j; t < steps; ++t) products += dev[t] * dev[t - j];
        lags.push_back(products / float(steps) / variance);
    }
    return lags;
}

// The same estimator in double precision, in its textbook form: (N-1)/N times the
// lagged sum of products over the sum of squares.
std::vector<double> textbook_lags(const std::vector<float>& x)
{
    const size_t steps = x.size();
    double mean = 0.0;
    for (float v : x) mean += double(v);
    mean /= double(steps);
    double squares = 0.0;
    for (float v : x) squares += (double(v) - mean) * (double(v) - mean);
    std::vector<double> lags;
    for (size_t j = 1; j < steps; ++j) {
        double products = 0.0;
        for (size_t t = j; t < steps; ++t) products += (double(x[t]) - mean) * (double(x[t - j]) - mean);
        lags.push_back(double(steps - 1) / double(steps) * products / squares);
    }
    return lags;
}

} // namespace

Field plain_autocorrelations(const Field& x, int n)
{
    Field aut(x.size() > 1 ? x.size() - 1 : 0, std::vector<float>(size_t(n)));
    for (int p = 0; p < n; ++p) {
        const std::vector<float> s = series_of(x, p);
        // Only the value at step 2 marks a point missing.
        const bool missing = s.size() >= 2 && s[1] == MISSING_VALUE;
        const std::vector<float> lags = missing ? std::vector<float>(aut.size(), MISSING_VALUE) : single_precision_lags(s);
        for (size_t j = 0; j < aut.size(); ++j) aut[j][size_t(p)] = lags[j];
    }
    return aut;
}

std::vector<std::vector<double>> textbook_autocorrelations(const Field& x, int n)
{
    std::vector<std::vector<double>> aut(x.size() > 1 ? x.size() - 1 : 0, std::vector<double>(size_t(n)));
    for (int p = 0; p < n; ++p) {
        const std::vector<float> s = series_of(x, p);
        const bool missing = s.size() >= 2 && s[1] == MISSING_VALUE;
        const std::vector<double> lags =
            missing ? std::vector<double>(aut.size(), double(MISSING_VALUE)) : textbook_lags(s);
        for (size_t j = 0; j < aut.size(); ++j) aut[j][size_t(p)] = lags[j];
    }
    return aut;
}

Field random_field(int steps, int points, unsigned seed, bool hostile)
{
    std::mt19937 gen(seed);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::uniform_int_distribution<int> pick(0, 39);
    const float inf = std::numeric_limits<float>::infinity();
    const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                              inf,
                              -inf,
                              MISSING_VALUE,
                              3e19f,
                              1.7e38f,
                              -3.4e38f,
                              std::numeric_limits<float>::denorm_min(),
                              -1.0e-40f,
                              0.0f,
                              -0.0f};
    Field x(static_cast<size_t>(steps), std::vector<float>(static_cast<size_t>(points)));
    std::vector<float> level(static_cast<size_t>(points));
    for (auto& l : level) l = noise(gen) * 100.0f;
    for (int t = 0; t < steps; ++t) {
        for (int p = 0; p < points; ++p) {
            float v = level[size_t(p)] + noise(gen);
            if (hostile) {
                int k = pick(gen);
                if (p % 7 == 3) v = 5.0f; // constant points: zero variance
                else if (k < int(std::size(specials))) v = specials[k];
            }
            x[size_t(t)][size_t(p)] = v;
        }
    }
    return x;
}

Field hostile_points_field(int steps, int points, unsigned seed)
{
    Field x = random_field(steps, points, seed, false);
    if (steps == 0) return x;
    std::mt19937 gen(seed + 7919);
    std::uniform_int_distribution<int> any_step(0, steps - 1);
    std::uniform_int_distribution<uint32_t> subnormal_bits(1, 0x007fffff);
    const float inf = std::numeric_limits<float>::infinity();
    for (int p = 0; p < points; ++p) {
        auto at = [&](int t) -> float& { return x[size_t(t)][size_t(p)]; };
        switch (p % HOSTILE_KINDS) {
        case 0: break;
        case 1: at(any_step(gen)) = std::numeric_limits<float>::quiet_NaN(); break;
        case 2:
            at(any_step(gen)) = inf;
            at(any_step(gen)) = -inf;
            break;
        case 3:
            if (steps > 1) at(1) = MISSING_VALUE;
            break;
        case 4: at(any_step(gen)) = MISSING_VALUE; break;
        case 5: at(any_step(gen)) = 3e19f; break;
        case 6: at(any_step(gen)) = 1.7e38f; break;
        case 7: at(any_step(gen)) = -3.4e38f; break;
        case 8:
            for (int t = 0; t < steps; ++t) {
                const uint32_t b = subnormal_bits(gen) | (gen() & 1u) << 31;
                std::memcpy(&at(t), &b, 4);
            }
            break;
        case 9:
            for (int t = 0; t < steps; ++t) at(t) = 5.0f;
            break;
        case 10:
            for (int t = 0; t < steps; ++t) at(t) = (gen() & 1u) ? 0.0f : -0.0f;
            break;
        case 11: at(0) = MISSING_VALUE; break;
        }
    }
    return x;
}

TextbookLags textbook_critical_lags(const Field& x, int n)
{
    const double lags = double(x.size());
    TextbookLags out;
    for (int p = 0; p < n; ++p) {
        const std::vector<float> r = series_of(x, p);
        double closest = std::numeric_limits<double>::infinity();
        float lag = 0.0f;
        if (r.size() >= 2 && r[1] == MISSING_VALUE) {
            lag = MISSING_VALUE;
        } else {
            // Bartlett's standard error of lag j grows with every squared lag up to
            // and including j; the last lag outside 1.96 of them is the critical lag.
            double squares = 0.0;
            for (size_t j = 1; j <= r.size(); ++j) {
                const double rj = double(r[j - 1]);
                squares += rj * rj;
                const double bound = 1.96 * std::sqrt((1.0 + 2.0 * squares) / lags);
                if (std::fabs(rj) > bound) lag = float(j);
                const double gap = std::fabs(std::fabs(rj) - bound) / bound;
                if (gap < closest) closest = gap; // a NaN gap never counts
            }
        }
        out.lag.push_back(lag);
        out.closest.push_back(closest);
    }
    return out;
}

std::vector<double> textbook_effective_sizes(const std::vector<float>& r1, const Field& ac2, float clag1,
                                             const std::vector<float>& clag2)
{
    const long lags = long(r1.size());
    std::vector<double> neff;
    for (size_t p = 0; p < clag2.size(); ++p) {
        if (clag2[p] == MISSING_VALUE) {
            neff.push_back(double(MISSING_VALUE));
            continue;
        }
        // The larger critical lag; a NaN field lag leaves no terms, a NaN series
        // lag is passed over. Lags outside the 32-bit range give no terms.
        const double larger = std::isnan(clag2[p]) ? std::nan("")
                              : std::isnan(clag1)   ? double(clag2[p])
                                                    : std::max(double(clag1), double(clag2[p]));
        const long last = std::isfinite(larger) && std::fabs(larger) < 2147483648.0 ? long(std::trunc(larger)) : 0;
        // Lags 1 .. L-1 weigh 2; lag L weighs 0 and nothing lies beyond it.
        double sum = 0.0;
        for (long k = 1; k <= std::min(last, lags - 1); ++k) {
            const auto& row = ac2[size_t(k - 1)];
            sum += 2.0 * double(r1[size_t(k - 1)]) * (p < row.size() ? double(row[p]) : 0.0);
        }
        neff.push_back(double(lags) / (1.0 + sum));
    }
    return neff;
}

TiledField tiled_field(const Field& x, int n, int32_t lanes, int32_t depth, float filler)
{
    TiledField f;
    const size_t tiles = n > 0 ? size_t((n + lanes - 1) / lanes) : 1;
    f.cells.assign(tiles * size_t(lanes) * size_t(depth), filler);
    f.s.count = int32_t(x.size());
    f.s.lanes = lanes;
    f.s.depth = depth;
    f.s.v = f.cells.data();
    for (size_t t = 0; t < x.size(); ++t)
        for (int p = 0; p < n; ++p)
            f.cells[cell(f.s, int32_t(t), p)] = size_t(p) < x[t].size() ? x[t][size_t(p)] : 0.0f;
    return f;
}
