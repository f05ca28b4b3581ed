// phase_speed: the time of the phase test's matrix products on a whole map, alone
// and inside the per-tile call, as neffmap will run them: a grid of 720 x 360
// points (259200, in tiles of at most 10000) over 480 steps against 1000
// surrogates by default, tiles shared among worker threads, OpenBLAS on one
// thread per call. The tiles' data are AR(1) points (two distinct tiles reused
// across the grid: the work does not depend on the values).
//
// Usage: phase_speed [surrogates] [steps] [workers] [runs] [block MiB] [tiles]
//   defaults 1000 480 2 3, the library's block and the whole grid (26 tiles);
//   every figure is the median of `runs`. It ends with its peak resident size.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "phasetest.hpp"
#include "run_error.hpp"
#include "significance.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int32_t grid_points = 720 * 360;
constexpr int32_t tile_points = 10000;

double process_cpu_seconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + 1e-6 * double(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string cpu_name()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

// A step-major tile of AR(1) points (0.6) and each point's r with the series.
struct TileData {
    int32_t points = 0, steps = 0;
    std::vector<float> values;       // values[t * points + i]
    std::vector<float> standardised; // the same, zero mean and unit norm per point
    std::vector<double> r;
};

TileData make_tile(std::mt19937_64& gen, int32_t points, int32_t steps, const std::vector<float>& series)
{
    std::normal_distribution<double> normal; // the values need no fixed sequence here
    TileData d;
    d.points = points;
    d.steps = steps;
    d.values.resize(size_t(points) * size_t(steps));
    d.standardised.resize(d.values.size());
    d.r.resize(size_t(points));
    std::vector<float> x(static_cast<size_t>(steps));
    for (int32_t i = 0; i < points; ++i) {
        double v = normal(gen), sum = 0, square = 0;
        for (int32_t t = 0; t < steps; ++t) {
            if (t > 0) v = 0.6 * v + 0.8 * normal(gen);
            x[size_t(t)] = float(v);
            d.values[size_t(t) * size_t(points) + size_t(i)] = float(v);
            sum += float(v);
        }
        const double mean = sum / steps;
        for (float f : x) square += (f - mean) * (f - mean);
        for (int32_t t = 0; t < steps; ++t)
            d.standardised[size_t(t) * size_t(points) + size_t(i)] = float((x[size_t(t)] - mean) / std::sqrt(square));
        d.r[size_t(i)] = pearson_r(series.data(), x.data(), steps);
    }
    return d;
}

struct Timing {
    double wall = 0, cpu = 0;
};

// Runs job(tile index, worker) for every tile of the grid on `workers` threads.
template <class Job>
Timing over_grid(int workers, int32_t tiles, Job job)
{
    std::atomic<int32_t> next{0};
    const double cpu0 = process_cpu_seconds();
    const Clock::time_point t0 = Clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&, w] {
            for (int32_t t = next++; t < tiles; t = next++) job(t, w);
        });
    for (std::thread& t : threads) t.join();
    return {std::chrono::duration<double>(Clock::now() - t0).count(), process_cpu_seconds() - cpu0};
}

} // namespace

int main(int argc, char** argv)
{
    const int64_t m = argc > 1 ? std::atoll(argv[1]) : 1000;
    const int32_t steps = argc > 2 ? std::atoi(argv[2]) : 480;
    const int workers = argc > 3 ? std::atoi(argv[3]) : 2;
    const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
    const int64_t block_bytes = argc > 5 ? std::atoll(argv[5]) << 20 : PhaseWork{}.block_bytes;
    const int32_t tile_limit = argc > 6 ? std::atoi(argv[6]) : 0;
    if (m < 1 || steps < 3 || workers < 1 || runs < 1) {
        std::fprintf(stderr, "usage: phase_speed [surrogates] [steps] [workers] [runs]\n");
        return 2;
    }
    try {
        const std::string blas = use_single_thread_blas();
        const char* forced = std::getenv("OPENBLAS_CORETYPE");
        std::printf("CPU: %s, %u CPUs\nBLAS: %s (OPENBLAS_CORETYPE %s)\n", cpu_name().c_str(),
                    std::thread::hardware_concurrency(), blas.c_str(), forced ? forced : "unset");
        std::printf("grid %d points in tiles of %d, %d steps, %lld surrogates, %d workers, blocks of %lld MiB, "
                    "median of %d runs\n\n",
                    grid_points, tile_points, steps, static_cast<long long>(m), workers,
                    static_cast<long long>(block_bytes >> 20), runs);

        std::mt19937_64 gen(42);
        std::normal_distribution<double> normal;
        std::vector<double> series(static_cast<size_t>(steps));
        std::vector<float> series_f(static_cast<size_t>(steps));
        double v = normal(gen);
        for (int32_t t = 0; t < steps; ++t) {
            if (t > 0) v = 0.6 * v + 0.8 * normal(gen);
            series[size_t(t)] = v;
            series_f[size_t(t)] = float(v);
        }
        const Clock::time_point d0 = Clock::now();
        const Surrogates s = draw_surrogates(series.data(), steps, m, 1, "series");
        const double draw = std::chrono::duration<double>(Clock::now() - d0).count();

        const int32_t full_tiles = grid_points / tile_points;
        const int32_t last_points = grid_points - full_tiles * tile_points;
        const int32_t all_tiles = full_tiles + (last_points > 0 ? 1 : 0);
        const int32_t tiles = tile_limit > 0 ? std::min(tile_limit, all_tiles) : all_tiles;
        const TileData data[3] = {make_tile(gen, tile_points, steps, series_f),
                                  make_tile(gen, tile_points, steps, series_f),
                                  make_tile(gen, std::max(last_points, 1), steps, series_f)};
        const auto data_of = [&](int32_t t) -> const TileData& {
            return t == full_tiles ? data[2] : data[t % 2];
        };

        // The products alone: the same sgemm calls the test makes, on points already
        // standardised, in the same blocks.
        std::vector<std::vector<float>> products(static_cast<size_t>(workers));
        const int64_t block_floats = block_bytes / int64_t(sizeof(float));
        const auto product = [&](int32_t t, int w) {
            const TileData& d = data_of(t);
            const int32_t block = int32_t(std::clamp<int64_t>(block_floats / m, 1, d.points));
            std::vector<float>& c = products[size_t(w)];
            c.resize(size_t(block) * size_t(m));
            for (int32_t first = 0; first < d.points; first += block) {
                const int32_t n = std::min(block, d.points - first);
                single_thread_blas().sgemm(CblasRowMajor, CblasTrans, CblasTrans, n, int(m), steps, 1.0f,
                                           d.standardised.data() + first, d.points, s.values.data(), steps, 0.0f,
                                           c.data(), int(m));
            }
        };

        std::vector<PhaseWork> work(static_cast<size_t>(workers));
        for (PhaseWork& w : work) w.block_bytes = block_bytes;
        std::vector<FieldCounts> counts(static_cast<size_t>(workers));
        std::vector<std::vector<double>> p(static_cast<size_t>(workers), std::vector<double>(tile_points));
        const auto whole = [&](int32_t t, int w) {
            const TileData& d = data_of(t);
            const PhaseTile tile{d.values.data(), d.points, steps, nullptr, d.r.data()};
            phase_test_tile(s, tile, 0.05, work[size_t(w)], p[size_t(w)].data(), nullptr, counts[size_t(w)]);
        };

        std::vector<double> pw, pc, ww, wc;
        for (int run = 0; run < runs; ++run) {
            const Timing a = over_grid(workers, tiles, product);
            for (FieldCounts& c : counts) c = empty_field_counts(m);
            const Timing b = over_grid(workers, tiles, whole);
            pw.push_back(a.wall);
            pc.push_back(a.cpu);
            ww.push_back(b.wall);
            wc.push_back(b.cpu);
        }
        FieldCounts total = empty_field_counts(m);
        for (const FieldCounts& c : counts) add_field_counts(total, c);
        int64_t tested_points = 0;
        for (int32_t t = 0; t < tiles; ++t) tested_points += data_of(t).points;
        const double flops = 2.0 * double(m) * double(steps) * double(tested_points);
        std::printf("surrogates drawn:       %7.3f s wall\n", draw);
        std::printf("products alone:         %7.3f s wall %7.3f s CPU  (%.0f GFLOP/s)\n", median(pw), median(pc),
                    flops / median(pw) * 1e-9);
        std::printf("whole per-tile calls:   %7.3f s wall %7.3f s CPU  (%.2f x the products by wall)\n", median(ww),
                    median(wc), median(ww) / median(pw));
        std::printf("field p of this (null) map: %.4f over %lld points\n", field_p(total),
                    static_cast<long long>(total.tested));
        rusage use{};
        getrusage(RUSAGE_SELF, &use);
        std::printf("peak resident size: %.0f MB\n", double(use.ru_maxrss) / 1024.0);
    } catch (const RunError& e) {
        std::fprintf(stderr, "phase_speed: %s: %s\n", e.file.c_str(), e.cause.c_str());
        return 2;
    }
    return 0;
}
