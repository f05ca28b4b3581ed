#include "chain_tile.hpp"

#include "critical_lag.hpp"
#include "effective_size.hpp"

namespace {

// The autocorrelations lagscan's kernel leaves in m, lag j at step j - 1, as
// sigcut's and nstar's functions take them: as many lags as steps less one.
FieldSeries lags_of(const TileMatrix& m)
{
    FieldSeries aut = m.xs;
    aut.count = m.xs.count - 1;
    return aut;
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

SeriesChain compute_series_chain(ChainWorkspace& ws, const std::vector<float>& series)
{
    const auto steps = int32_t(series.size());
    TileMatrix m;
    reserve_tile_matrix(m, ws.path, steps);
    for (int32_t t = 0; t < steps; ++t) m.xs.v[cell(m.xs, t, 0)] = series[size_t(t)];
    m.xs.last = RecordHeader{steps, 1, 1, 1};
    SeriesChain s;
    compute_autocorrelations(ws.path, m.xs, 1, ws.scratch);
    compute_critical_lags(lags_of(m), 1, &s.critical_lag);
    s.aut.resize(size_t(steps - 1));
    for (int32_t k = 1; k < steps; ++k) s.aut[size_t(k - 1)] = m.xs.v[cell(m.xs, k - 1, 0)];
    return s;
}

void compute_tile_autocorrelations(ChainWorkspace& ws, TileMatrix& m, int32_t points)
{
    compute_autocorrelations(ws.path, m.xs, points, ws.scratch);
}

void compute_tile_sizes(const TileMatrix& m, int32_t points, const SeriesChain& series, float* critical_lag,
                        float* neff)
{
    const FieldSeries aut = lags_of(m);
    compute_critical_lags(aut, points, critical_lag);
    compute_effective_sizes(series.aut.data(), aut.count, aut, series.critical_lag, critical_lag, points, neff);
}

void compute_tile_chain(ChainWorkspace& ws, TileMatrix& m, int32_t points, const SeriesChain& series,
                        float* critical_lag, float* neff)
{
    compute_tile_autocorrelations(ws, m, points);
    compute_tile_sizes(m, points, series, critical_lag, neff);
}
