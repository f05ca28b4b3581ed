#include "reference.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "series_file.hpp"

namespace {
float from_float_bits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}
} // namespace

Field reference_autocorrelations(const Field& x, int n)
{
    const int N = int(x.size());
    Field aut(N > 1 ? size_t(N - 1) : 0, std::vector<float>(size_t(n)));
    for (int p = 0; p < n; ++p) {
        auto value = [&](int t) { return p < int(x[size_t(t)].size()) ? x[size_t(t)][size_t(p)] : 0.0f; };
        if (N >= 2 && value(1) == MISSING_VALUE) {
            for (auto& row : aut) row[size_t(p)] = MISSING_VALUE;
            continue;
        }
        float sum = 0;
        for (int t = 0; t < N; ++t) sum = value(t) + sum;
        float mean = sum / float(N);
        float q = 0;
        for (int t = 0; t < N; ++t) q = (value(t) - mean) * (value(t) - mean) + q;
        float var = q / float(N - 1);
        for (int j = 1; j < N; ++j) {
            float c = 0;
            for (int t = j; t < N; ++t) c = (value(t) - mean) * (value(t - j) - mean) + c;
            float atcv = c / float(N);
            aut[size_t(j - 1)][size_t(p)] = atcv / var;
        }
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

std::vector<float> reference_critical_lags(const Field& x, int n)
{
    const int L = int(x.size());
    const float factor = from_float_bits(0x3FFAE148u);
    std::vector<float> lag(size_t(n), 0.0f);
    for (int p = 0; p < n; ++p) {
        auto value = [&](int j) { return j < L && p < int(x[size_t(j)].size()) ? x[size_t(j)][size_t(p)] : 0.0f; };
        if (value(1) == MISSING_VALUE) {
            lag[size_t(p)] = MISSING_VALUE;
            continue;
        }
        float S = 0;
        for (int j = 1; j <= L; ++j) {
            S = value(j - 1) * value(j - 1) + S;
            float v = ((S + S) + 1) / float(L);
            float crit = factor * std::sqrt(v);
            if (std::fabs(value(j - 1)) > std::fabs(crit)) lag[size_t(p)] = float(j);
        }
    }
    return lag;
}

std::vector<float> reference_effective_sizes(const std::vector<float>& r1, const Field& ac2, float clag1,
                                             const std::vector<float>& clag2)
{
    const int L = int(r1.size());
    std::vector<float> neff(clag2.size());
    for (size_t p = 0; p < clag2.size(); ++p) {
        if (clag2[p] == MISSING_VALUE) {
            neff[p] = MISSING_VALUE;
            continue;
        }
        float M = clag1 >= clag2[p] ? clag1 : clag2[p];
        long K = 0;
        if (M == M && M >= -2147483648.0f && M < 2147483648.0f) K = long(int32_t(M));
        float S = 0;
        for (long k = 1; k <= K && k <= L; ++k) {
            int32_t w = 2 * (1 - int32_t(k) / L);
            float a = p < ac2[size_t(k - 1)].size() ? ac2[size_t(k - 1)][p] : 0.0f;
            S = (float(w) * r1[size_t(k - 1)]) * a + S;
        }
        neff[p] = float(L) / (1 + S);
    }
    return neff;
}
