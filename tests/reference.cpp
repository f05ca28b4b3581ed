#include "reference.hpp"

#include <cmath>
#include <limits>
#include <random>

#include "series_file.hpp"

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
