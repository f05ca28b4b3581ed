// neffmap_phases: where a neffmap run's CPU time goes. Runs neffmap's own steps
// on one thread, tile after tile, and times each phase on the thread's CPU
// clock: reading the tile from the field, the chain (lagscan's kernel, then
// sigcut's and nstar's functions), and the rest (the points' state and r, the
// test, writing the map, the FDR threshold and mask), and the transforms of the
// tiles (--anomalies and --detrend, or without them the annual-cycle test). The sum is close to the CPU time of
// `neffmap --jobs 1`; with more jobs the same work is shared out.
//
// Usage: neffmap_phases FIELD VAR SERIES [runs] [--anomalies] [--detrend]
//        (runs: default 3; medians)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "chain_tile.hpp"
#include "field_source.hpp"
#include "map_output.hpp"
#include "run_error.hpp"
#include "paired_steps.hpp"
#include "significance_map.hpp"
#include "tile_pipeline.hpp"
#include "unit_scaling.hpp"
#include "tile_statistics.hpp"

namespace {

double cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Phases {
    double reading = 0, transforms = 0, kernel = 0, sizes = 0, rest = 0;
};

Phases one_run(const RunOptions& opt, const std::string& out)
{
    Phases ph;
    double t = cpu_seconds();
    const auto lap = [&](double& phase) {
        const double now = cpu_seconds();
        phase += now - t;
        t = now;
    };
    FieldSource field = open_field(opt.field, opt.var);
    const PairedSteps paired = pair_with_field(field, opt);
    MapOutput map;
    begin_output_file(map.file, out);
    MapDescription d;
    d.steps = field.steps;
    const TestSettings test;
    define_map(map, field, test, d);
    ChainWorkspace ws;
    ws.path = choose_lag_path(this_cpu());
    const SeriesChain series_chain = compute_series_chain(ws, scaled_to_unit(paired.values));
    MapTest result;
    result.p.assign(size_t(field.tv.points), 0.0);
    TileReader reader;
    TileMatrix m;
    TileColumns c;
    lap(ph.rest);
    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    for (int64_t k = 0; k < tiles; ++k) {
        const PointTile tile = tile_at(field.tv, MAX_POINTS, k);
        read_tile_into(field, ws.path, reader, tile, m);
        lap(ph.reading);
        TileCounts counts;
        transform_tile(paired.field, m, tile.points, counts.annual_cycle);
        lap(ph.transforms);
        reserve_columns(c, tile.points);
        prepare_points(m, tile.points, paired.values, c);
        scale_points_to_unit(m, tile.points, c.state.data(), c.largest.data());
        lap(ph.rest);
        compute_tile_autocorrelations(ws, m, tile.points);
        lap(ph.kernel);
        compute_tile_sizes(m, tile.points, series_chain, c.critical_lag.data(), c.neff.data());
        lap(ph.sizes);
        test_points(m, tile.points, series_chain, test, c, counts);
        std::copy(c.p.begin(), c.p.end(), result.p.begin() + tile.first_point);
        write_map_tile(map, field, tile, c);
        add_counts(result.counts, counts);
        lap(ph.rest);
    }
    find_fdr_threshold(result, test.q);
    write_fdr_mask(map, field, result);
    close_map(map, result);
    lap(ph.rest);
    return ph;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: neffmap_phases FIELD VAR SERIES [runs] [--anomalies] [--detrend]\n");
        return 2;
    }
    RunOptions opt;
    opt.field = argv[1];
    opt.var = argv[2];
    opt.series = argv[3];
    int runs = 3;
    for (int i = 4; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--anomalies") opt.anomalies = true;
        else if (a == "--detrend") opt.detrend = true;
        else runs = std::max(1, std::atoi(argv[i]));
    }
    char dir[] = "/tmp/neffmap-phases-XXXXXX";
    if (!::mkdtemp(dir)) return 2;
    const std::string out = std::string(dir) + "/map.nc";
    std::vector<double> reading, transforms, kernel, sizes, rest;
    try {
        for (int r = 0; r < runs; ++r) {
            const Phases ph = one_run(opt, out);
            reading.push_back(ph.reading);
            transforms.push_back(ph.transforms);
            kernel.push_back(ph.kernel);
            sizes.push_back(ph.sizes);
            rest.push_back(ph.rest);
        }
    } catch (const RunError& e) {
        std::fprintf(stderr, "neffmap_phases: %s: %s\n", e.file.c_str(), e.cause.c_str());
        std::filesystem::remove_all(dir);
        return 2;
    }
    std::filesystem::remove_all(dir);
    const double total = median(reading) + median(transforms) + median(kernel) + median(sizes) + median(rest);
    std::printf("phases, CPU seconds on one thread (median of %d runs):\n", runs);
    std::printf("  reading    %6.3f s  %4.1f %%\n", median(reading), 100 * median(reading) / total);
    std::printf("  transforms %6.3f s  %4.1f %%  (--anomalies and --detrend, or the annual-cycle test)\n",
                median(transforms), 100 * median(transforms) / total);
    std::printf("  the chain  %6.3f s  %4.1f %%  (lagscan's kernel %.3f s, sigcut's and nstar's %.3f s)\n",
                median(kernel) + median(sizes), 100 * (median(kernel) + median(sizes)) / total, median(kernel),
                median(sizes));
    std::printf("  the rest   %6.3f s  %4.1f %%\n", median(rest), 100 * median(rest) / total);
    std::printf("  total      %6.3f s\n", total);
    return 0;
}
