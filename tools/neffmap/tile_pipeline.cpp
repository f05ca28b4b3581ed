#include "tile_pipeline.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "interrupts.hpp"
#include "unit_scaling.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// fresh: storage reserved, its pages not yet touched; a worker with nothing to
// compute touches them (the system zeroes each new page at its first touch,
// slowly on a virtual machine), so that the reader does not pay for it while the
// workers wait for their first tiles.
enum class SlotState { fresh, touching, free, ready, computing, done };

// A tile in flight, with the storage it passes through. The thread whose turn
// it is (by state, changed under the pipeline's lock) owns everything in it.
struct TileSlot {
    SlotState state = SlotState::free;
    int64_t tile = -1;
    PointTile extent;
    TileMatrix matrix;
    TileColumns columns;
    TileCounts counts;
};

struct Pipeline {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<TileSlot> slots;
    bool stop = false;
    std::exception_ptr error;
};

// A worker's own storage.
struct Worker {
    ChainWorkspace chain;
    TileWorkFiles files;
    PhaseWorker phase;
};

void compute_tile(const TileRun& run, Worker& w, TileSlot& s, MapTest& test)
{
    const int32_t n = s.extent.points;
    reserve_columns(s.columns, n);
    s.counts = TileCounts{};
    transform_tile(*run.transforms, s.matrix, n, s.counts.annual_cycle);
    prepare_points(s.matrix, n, *run.series, s.columns);
    if (run.phase) phase_test_points(*run.phase, w.phase, s.matrix, n, run.test.alpha, s.columns);
    scale_points_to_unit(s.matrix, n, s.columns.state.data(), s.columns.largest.data());
    if (run.work) write_tile_field_file(*run.work, w.files, s.tile, s.extent, s.matrix);
    compute_tile_chain(w.chain, s.matrix, n, *run.series_chain, s.columns.critical_lag.data(), s.columns.neff.data());
    test_points(s.matrix, n, *run.series_chain, run.test, s.columns, s.counts);
    if (run.work)
        write_tile_result_files(*run.work, w.files, s.tile, s.extent, s.matrix, s.columns.critical_lag.data(),
                                s.columns.neff.data());
    // Each tile has its own stretch of the grid.
    std::copy(s.columns.p.begin(), s.columns.p.end(), test.p.begin() + s.extent.first_point);
}

// Writes one zero into each page the largest tile's matrix reaches.
void touch_pages(TileMatrix& m)
{
    const size_t lanes = size_t(m.xs.lanes);
    const size_t bytes = (size_t(MAX_POINTS) + lanes - 1) / lanes * lanes * size_t(m.xs.depth) * sizeof(float);
    char* base = reinterpret_cast<char*>(m.xs.v);
    for (size_t b = 0; b < bytes; b += 4096) base[b] = 0;
}

void take_error(Pipeline& pl)
{
    const std::lock_guard<std::mutex> hold(pl.lock);
    if (!pl.error) pl.error = std::current_exception();
    pl.stop = true;
    pl.changed.notify_all();
}

void work(const TileRun& run, Pipeline& pl, MapTest& test)
{
    try {
        Worker w;
        w.chain.path = run.path;
        for (;;) {
            TileSlot* s = nullptr;
            {
                std::unique_lock<std::mutex> hold(pl.lock);
                pl.changed.wait(hold, [&] {
                    s = nullptr;
                    for (TileSlot& c : pl.slots)
                        if (c.state == SlotState::ready && (!s || c.tile < s->tile)) s = &c;
                    if (!s)
                        for (TileSlot& c : pl.slots)
                            if (c.state == SlotState::fresh) s = &c;
                    return pl.stop || s != nullptr;
                });
                if (pl.stop) {
                    if (run.phase) add_phase_worker(*run.phase, w.phase);
                    return;
                }
                if (s->state == SlotState::fresh) {
                    s->state = SlotState::touching;
                    hold.unlock();
                    touch_pages(s->matrix);
                    hold.lock();
                    s->state = SlotState::free;
                    pl.changed.notify_all();
                    continue;
                }
                s->state = SlotState::computing;
            }
            compute_tile(run, w, *s, test);
            const std::lock_guard<std::mutex> hold(pl.lock);
            s->state = SlotState::done;
            pl.changed.notify_all();
        }
    } catch (...) {
        take_error(pl);
    }
}

// The workers, stopped and joined however the run leaves (an error or an
// interrupt on the reading thread included).
struct WorkerPool {
    Pipeline& pl;
    std::vector<std::thread> threads;
    ~WorkerPool()
    {
        {
            const std::lock_guard<std::mutex> hold(pl.lock);
            pl.stop = true;
        }
        pl.changed.notify_all();
        for (std::thread& t : threads) t.join();
    }
};

std::string clock_text(double seconds)
{
    const long s = std::lround(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

void show_progress(int64_t done, int64_t total, Clock::time_point start)
{
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double left = done > 0 ? elapsed / double(done) * double(total - done) : 0;
    std::fprintf(stderr, "\rneffmap: tiles %lld of %lld, %s elapsed, about %s left   ", (long long)done,
                 (long long)total, clock_text(elapsed).c_str(), clock_text(left).c_str());
    std::fflush(stderr);
}

} // namespace

void read_tile_into(const FieldSource& f, LagPath path, TileReader& reader, const PointTile& tile, TileMatrix& m)
{
    if (!m.storage) reserve_tile_matrix(m, path, f.steps);
    FieldSeries& xs = m.xs;
    const int32_t n = tile.points, lanes = xs.lanes;
    // Whatever an earlier tile left in the lanes after the last point goes.
    if (n % lanes != 0)
        for (int32_t t = 0; t < f.steps; ++t) std::fill_n(xs.v + cell(xs, t, n), size_t(lanes - n % lanes), 0.0f);
    read_tile(f.tv, f.unpack, f.path, size_t(f.first_step - 1), f.steps, tile, reader, xs);
    xs.count = f.steps;
    xs.last = RecordHeader{f.steps, int32_t(tile.columns), int32_t(tile.lines), n};
}

void run_tiles(const TileRun& run, MapOutput& map, MapTest& test)
{
    const FieldSource& f = *run.field;
    const auto start = Clock::now();
    const int64_t tiles = tile_count(f.tv, MAX_POINTS);
    test.p.assign(size_t(f.tv.points), 0.0);
    const int jobs = int(std::max<int64_t>(1, std::min<int64_t>(run.jobs, tiles)));

    Pipeline pl;
    // One tile more than the workers: the next one is read while they compute.
    pl.slots.resize(size_t(jobs) + 1);
    for (size_t k = 1; k < pl.slots.size() && int64_t(k) < tiles; ++k) {
        reserve_tile_matrix(pl.slots[k].matrix, run.path, f.steps);
        pl.slots[k].state = SlotState::fresh;
    }
    const auto slot_of = [&](int64_t k) -> TileSlot& { return pl.slots[size_t(k % int64_t(pl.slots.size()))]; };
    TileReader reader;
    WorkerPool pool{pl, {}};
    for (int j = 0; j < jobs; ++j) pool.threads.emplace_back(work, std::cref(run), std::ref(pl), std::ref(test));

    int64_t next_read = 0, next_write = 0;
    while (next_write < tiles) {
        check_interrupt();
        bool write = false, read = false;
        {
            std::unique_lock<std::mutex> hold(pl.lock);
            if (pl.error) std::rethrow_exception(pl.error);
            write = slot_of(next_write).state == SlotState::done;
            read = !write && next_read < tiles && slot_of(next_read).state == SlotState::free;
            if (!write && !read) {
                // Woken by a worker, or in time to see an interrupt.
                pl.changed.wait_for(hold, std::chrono::milliseconds(100));
                continue;
            }
        }
        if (write) {
            TileSlot& s = slot_of(next_write);
            write_map_tile(map, f, s.extent, s.columns);
            add_counts(test.counts, s.counts);
            {
                const std::lock_guard<std::mutex> hold(pl.lock);
                s.state = SlotState::free;
            }
            ++next_write;
            if (run.progress) show_progress(next_write, tiles, start);
        } else {
            TileSlot& s = slot_of(next_read);
            s.tile = next_read;
            s.extent = tile_at(f.tv, MAX_POINTS, next_read);
            read_tile_into(f, run.path, reader, s.extent, s.matrix);
            {
                const std::lock_guard<std::mutex> hold(pl.lock);
                s.state = SlotState::ready;
            }
            pl.changed.notify_all();
            ++next_read;
        }
    }
    if (run.progress) std::fputc('\n', stderr);
}
