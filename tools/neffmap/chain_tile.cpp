#include "chain_tile.hpp"

#include <cstring>
#include <mutex>

#include "critical_lag.hpp"
#include "effective_size.hpp"

namespace {

// The programs' functions keep working storage of their own between calls, so
// the tiles take turns in them.
std::mutex programs_storage;

void compute_lags(ChainWorkspace& ws, FieldSeries& xs, int32_t points)
{
    const std::lock_guard<std::mutex> turn(programs_storage);
    compute_autocorrelations(ws.path, xs, points);
}

void compute_sizes(ChainWorkspace& ws, const FieldSeries& xs, int32_t points, const float* series_aut,
                   float series_critical_lag, float* critical_lag, float* neff)
{
    const std::lock_guard<std::mutex> turn(programs_storage);
    const int32_t lags = xs.count - 1;
    ws.rows.resize(size_t(lags > 2 ? lags : 2) * MAX_POINTS);
    for (int32_t j = 1; j <= lags; ++j) gather_step(xs, j - 1, points, ws.rows.data() + size_t(j - 1) * MAX_POINTS);
    compute_critical_lags(ws.rows.data(), lags, points, critical_lag);
    if (neff)
        compute_effective_sizes(series_aut, ws.rows.data(), lags, series_critical_lag, critical_lag, points, neff);
}

} // namespace

void reserve_tile_matrix(TileMatrix& m, LagPath path, int32_t steps)
{
    m.storage.reset(reserve_tiles());
    m.xs = FieldSeries{};
    m.xs.lanes = lag_path_lanes(path);
    m.xs.depth = steps;
    m.xs.count = steps;
    m.xs.v = m.storage.get();
}

TileLayout tile_layout(const TileMatrix& m) { return TileLayout{m.xs.lanes, m.xs.depth}; }

SeriesChain compute_series_chain(ChainWorkspace& ws, const std::vector<float>& series)
{
    const auto steps = int32_t(series.size());
    TileMatrix m;
    reserve_tile_matrix(m, ws.path, steps);
    for (int32_t t = 0; t < steps; ++t) m.xs.v[cell(m.xs, t, 0)] = series[size_t(t)];
    m.xs.last = RecordHeader{steps, 1, 1, 1};
    SeriesChain s;
    compute_lags(ws, m.xs, 1);
    compute_sizes(ws, m.xs, 1, nullptr, 0, &s.critical_lag, nullptr);
    s.aut.resize(size_t(steps - 1));
    for (int32_t k = 1; k < steps; ++k) s.aut[size_t(k - 1)] = m.xs.v[cell(m.xs, k - 1, 0)];
    return s;
}

void compute_tile_autocorrelations(ChainWorkspace& ws, TileMatrix& m, int32_t points)
{
    compute_lags(ws, m.xs, points);
}

void compute_tile_sizes(ChainWorkspace& ws, const TileMatrix& m, int32_t points, const SeriesChain& series,
                        float* critical_lag, float* neff)
{
    compute_sizes(ws, m.xs, points, series.aut.data(), series.critical_lag, critical_lag, neff);
}

void compute_tile_chain(ChainWorkspace& ws, TileMatrix& m, int32_t points, const SeriesChain& series,
                        float* critical_lag, float* neff)
{
    compute_tile_autocorrelations(ws, m, points);
    compute_tile_sizes(ws, m, points, series, critical_lag, neff);
}
