#include "chain_runs.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "record_access.hpp"
#include "run_frame.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MAX_JOBS = 64;

struct TileJob {
    int64_t tile = -1; // -1: the slot is free
    PointTile extent;
    Program stage = LAGSCAN;
    pid_t pid = -1;
    std::string dir;
};

void make_directory(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) fatal_errno(dir.c_str(), errno);
}

void remove_tile_files(const std::string& dir)
{
    for (const char* name : {"field.dat", "field.aut", "critic-lags", "neff.dat", "messages"})
        ::unlink((dir + "/" + name).c_str());
    ::rmdir(dir.c_str());
}

std::string answers_for(Program stage)
{
    switch (stage) {
    case LAGSCAN: return "field.dat\nfield.aut\n";
    case SIGCUT: return "field.aut\n";
    default: return "../series.aut\nfield.aut\n../series-lags/critic-lags\ncritic-lags\nneff.dat\n";
    }
}

// Runs one program to its end, for the series' two steps.
void run_to_end(const ChainPrograms& programs, Program p, const std::string& cwd, const std::string& answers,
                const char* field_path)
{
    const pid_t pid = start_program(programs, p, cwd, answers, "messages");
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) fatal_errno(PROGRAM_NAMES[p], errno);
    const std::string why = program_failure(status, cwd + "/messages");
    if (!why.empty()) {
        const std::string cause = std::string("the series: ") + PROGRAM_NAMES[p] + " failed: " + why;
        fatal(field_path, cause.c_str());
    }
}

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

void run_series_chain(const ChainPrograms& programs, const IndexSeries& series, const std::string& work,
                      const char* field_path, PointResults& res)
{
    static RecordOutput out;
    const std::string path = work + "/series.dat";
    open_work_record_output(out, path.c_str());
    for (int32_t t = 0; t < series.steps; ++t) write_pair(out, RecordHeader{t + 1, 1, 1, 1}, &series.values[t]);
    close_record_output(out);
    run_to_end(programs, LAGSCAN, work, "series.dat\nseries.aut\n", field_path);
    make_directory(work + "/series-lags");
    run_to_end(programs, SIGCUT, work + "/series-lags", "../series.aut\n", field_path);
    read_lag1(work + "/series.aut", 1, &res.series_lag1);
}

void run_tile_chains(const ChainPrograms& programs, const FieldSource& field, const IndexSeries& series,
                     const TileRunSettings& settings, PointResults& res)
{
    const auto start = Clock::now();
    const int64_t tiles = tile_count(field.tv, MAX_POINTS);
    const int jobs = int(std::min<int64_t>(std::min(settings.jobs, MAX_JOBS), tiles));
    float* values = static_cast<float*>(std::malloc(sizeof(float) * size_t(field.steps) * size_t(MAX_POINTS)));
    if (!values) fatal(field.path, "cannot reserve memory for a tile");
    static TileJob slot[MAX_JOBS];
    int64_t next = 0, done = 0;
    while (done < tiles) {
        for (int j = 0; j < jobs && next < tiles; ++j) {
            if (slot[j].tile >= 0) continue;
            TileJob& job = slot[j];
            job.tile = next++;
            job.extent = tile_at(field.tv, MAX_POINTS, job.tile);
            char name[32];
            std::snprintf(name, sizeof name, "/tile-%05lld", (long long)job.tile + 1);
            job.dir = settings.work + name;
            make_directory(job.dir);
            prepare_tile(field, series, job.extent, job.dir, values, res);
            job.stage = LAGSCAN;
            job.pid = start_program(programs, LAGSCAN, job.dir, answers_for(LAGSCAN), "messages");
        }
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            fatal_errno("neffmap", errno);
        }
        int j = 0;
        while (j < jobs && slot[j].pid != pid) ++j;
        if (j == jobs) continue;
        TileJob& job = slot[j];
        const std::string why = program_failure(status, job.dir + "/messages");
        if (!why.empty()) {
            const std::string cause = "tile " + std::to_string(job.tile + 1) + " of " + std::to_string(tiles) +
                                      " (points " + std::to_string(job.extent.first_point + 1) + " … " +
                                      std::to_string(job.extent.first_point + job.extent.points) + "): " +
                                      PROGRAM_NAMES[job.stage] + " failed: " + why;
            fatal(field.path, cause.c_str());
        }
        if (job.stage != NSTAR) {
            job.stage = Program(job.stage + 1);
            job.pid = start_program(programs, job.stage, job.dir, answers_for(job.stage), "messages");
            continue;
        }
        collect_tile(job.extent, job.dir, res);
        if (!settings.keep_files) remove_tile_files(job.dir);
        job.tile = -1;
        job.pid = -1;
        ++done;
        if (settings.progress) show_progress(done, tiles, start);
    }
    std::free(values);
    if (settings.progress) std::fputc('\n', stderr);

}
