// The chain run by two threads at once, each on its own tiles and working storage,
// the way a driver computes a map: every byte equals the same chain run one tile
// after the other through the plain loops and the programs' lag-major rows.
#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "autocorrelation.hpp"
#include "critical_lag.hpp"
#include "effective_size.hpp"
#include "reference.hpp"
#include "test_support.hpp"

namespace {

struct ChainResult {
    Field aut; // [lag - 1][point]
    std::vector<float> clag2, neff;
    float clag1 = 0;
};

// A tile: a series and field of `steps` steps, each step carrying `memory` of the
// one before, so that critical lags reach past a few lags and the effective sizes
// sum real terms; some points are missing (the marker at step 2) or constant.
struct Tile {
    Field series, field;
};

Tile make_tile(int steps, int points, float memory, unsigned seed)
{
    Tile t{random_field(steps, 1, seed, false), random_field(steps, points, seed + 1, false)};
    for (Field* x : {&t.series, &t.field})
        for (size_t s = 1; s < x->size(); ++s)
            for (size_t p = 0; p < (*x)[s].size(); ++p) (*x)[s][p] += memory * (*x)[s - 1][p];
    for (int p = 3; p < points; p += 97) t.field[1][size_t(p)] = MISSING_VALUE;
    for (auto& row : t.field) row[5] = 2.5f;
    return t;
}

// One tile after the other: the plain autocorrelation loop, then the critical
// lags and effective sizes over lag-major rows, as sigcut and nstar read them.
ChainResult plain_chain(const Tile& t)
{
    const int n = int(t.field[0].size());
    ChainResult r;
    r.aut = plain_autocorrelations(t.field, n);
    const Field series_aut = plain_autocorrelations(t.series, 1);
    const int32_t lags = int32_t(r.aut.size());
    const TiledField rows = tiled_field(r.aut, n, MAX_POINTS, lags + 1, 0.0f);
    const TiledField series_rows = tiled_field(series_aut, 1, MAX_POINTS, lags + 1, 0.0f);
    r.clag2.resize(size_t(n));
    r.neff.resize(size_t(n));
    compute_critical_lags(rows.s, n, r.clag2.data());
    compute_critical_lags(series_rows.s, 1, &r.clag1);
    std::vector<float> r1;
    for (const auto& lag : series_aut) r1.push_back(lag[0]);
    compute_effective_sizes(r1.data(), lags, rows.s, r.clag1, r.clag2.data(), n, r.neff.data());
    return r;
}

bool same(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!same_value(a[i], b[i])) return false;
    return true;
}

// Runs the chain on tile t as a worker thread does, `rounds` times with one
// scratch: the kernel over the tiles in place, then, several times over, the
// critical lags and effective sizes over the results left in those tiles. Each
// stage starts when the other thread starts it too, so that even the short ones
// run at the same time. Counts the stages whose bytes differ from want.
int differing_stages(LagPath path, const Tile& t, const ChainResult& want, int rounds, std::barrier<>& together)
{
    const int n = int(t.field[0].size());
    const int32_t lanes = lag_path_lanes(path);
    const int32_t steps = int32_t(t.field.size());
    LagScratch scratch;
    int wrong = 0;
    for (int round = 0; round < rounds; ++round) {
        TiledField field = tiled_field(t.field, n, lanes, steps + 1, 0.0f);
        TiledField series = tiled_field(t.series, 1, lanes, steps + 1, 0.0f);
        together.arrive_and_wait();
        compute_autocorrelations(path, field.s, n, scratch);
        compute_autocorrelations(path, series.s, 1, scratch);
        field.s.count = series.s.count = steps - 1; // the lags now in the tiles
        std::vector<float> lag(static_cast<size_t>(n));
        for (int32_t j = 0; j + 1 < steps; ++j) {
            gather_step(field.s, j, n, lag.data());
            if (!same(lag, want.aut[size_t(j)])) {
                ++wrong;
                break;
            }
        }
        std::vector<float> r1(size_t(steps - 1));
        for (int32_t k = 0; k + 1 < steps; ++k) r1[size_t(k)] = series.s.v[cell(series.s, k, 0)];
        std::vector<float> clag2(static_cast<size_t>(n)), neff(static_cast<size_t>(n));
        for (int again = 0; again < 24; ++again) {
            float clag1;
            together.arrive_and_wait();
            compute_critical_lags(field.s, n, clag2.data());
            compute_critical_lags(series.s, 1, &clag1);
            wrong += !same(clag2, want.clag2) || !same_value(clag1, want.clag1);
            together.arrive_and_wait();
            compute_effective_sizes(r1.data(), steps - 1, field.s, want.clag1, want.clag2.data(), n, neff.data());
            wrong += !same(neff, want.neff);
        }
    }
    return wrong;
}

} // namespace

TEST(ChainThreads, TwoThreadsAtOnceGiveTheBytesOfOneTileAfterTheOther)
{
    const LagPath path = choose_lag_path(this_cpu());
    // Tiles of different lengths, widths and memories, so that neither thread's
    // sums and storage could pass for the other's.
    const Tile tiles[2] = {make_tile(100, MAX_POINTS, 0.95f, 11), make_tile(80, 7001, 0.75f, 23)};
    const ChainResult want[2] = {plain_chain(tiles[0]), plain_chain(tiles[1])};
    constexpr int ROUNDS = 12;
    int wrong[2] = {0, 0};
    std::barrier together(2);
    auto worker = [&](int w) { wrong[w] = differing_stages(path, tiles[w], want[w], ROUNDS, together); };
    std::thread first(worker, 0), second(worker, 1);
    first.join();
    second.join();
    EXPECT_EQ(wrong[0], 0) << "stages of tile 0 that differ, of " << ROUNDS * 49;
    EXPECT_EQ(wrong[1], 0) << "stages of tile 1 that differ, of " << ROUNDS * 49;
}
