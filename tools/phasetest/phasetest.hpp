// The phase-randomisation test of a correlation map: surrogates of the series
// that keep its amplitude spectrum and take random phases (Ebisuzaki 1997), the
// correlation of every surrogate with every point of a tile as one matrix
// product, each point's p-value from them, and the pieces of the map's field
// significance (Livezey and Chen 1983) summed over the tiles.
//
// Use: draw the surrogates once, before any tile (use_single_thread_blas() first
// when tiles run on several threads); call phase_test_tile for every tile, from
// any number of threads, each with its own PhaseWork and FieldCounts; add the
// threads' FieldCounts together and take field_p at the end. Nothing depends on
// which thread ran a tile or in which order the tiles came.
//
// Products in single precision (cblas_sgemm): twice the speed of double and half
// the memory, for a rounding of each correlation of order sqrt(N) 2^-24 (about
// 3e-6 at 2000 steps), far below the resolution of p (1/(M + 1)) and the
// sampling spread of r itself (1/sqrt(N)). The sums that set each series'
// mean and norm are in double.
#pragma once

#include <cblas.h>

#include <cstdint>
#include <string>
#include <vector>

#include "series_file.hpp"

constexpr int64_t MAX_SURROGATES = 100000;

// M surrogates of one series, each of zero mean and unit norm, so that the dot
// product of a surrogate with a point standardised the same way is their
// correlation.
struct Surrogates {
    int64_t count = 0;         // M
    int32_t steps = 0;         // N
    uint64_t seed = 0;
    std::vector<float> values; // values[k * steps + t], surrogate k at step t
};

// Draws `count` surrogates of `series` (its mean is removed here again; N of 3 to
// 2000 steps, finite, not constant) from std::mt19937_64 seeded with `seed`.
// Every surrogate has the Fourier amplitudes of the series at 0 < f < N/2 and
// phases 2 pi u with u = (g >> 11) 2^-53, g the generator's next 64-bit output
// (uniform on [0, 1), the same sequence on every platform); the zero frequency is
// 0; for even N the Nyquist term, real in a real series, becomes
// sqrt(2) |X(N/2)| cos(2 pi u), which keeps its expected power. Phases are drawn
// surrogate by surrogate, each in increasing frequency, the Nyquist term last.
// The inverse transforms are FFTW's, planned once with FFTW_ESTIMATE (the same
// plan every run); FFTW's SIMD code may differ between CPUs in the last bits.
// Errors: RunError{"--surrogates", ...} for a count outside 1 .. MAX_SURROGATES,
// RunError{series_name, ...} for a series that cannot give surrogates. Not to be
// called while another thread plans an FFTW transform.
Surrogates draw_surrogates(const double* series, int32_t steps, int64_t count, uint64_t seed,
                           const std::string& series_name);

// One tile of the map as the driver holds it, step-major.
struct PhaseTile {
    const float* values = nullptr;       // values[t * points + i], t < steps
    int32_t points = 0;
    int32_t steps = 0;                   // must be the surrogates' steps
    const unsigned char* skip = nullptr; // nonzero: not tested (a missing step); may be null
    const double* r = nullptr;           // each point's observed correlation; NaN: not tested
};

// The map's field significance summed over tiles: integers, so the sum is the
// same in any order.
struct FieldCounts {
    int64_t tested = 0;             // points tested
    int64_t observed = 0;           // points whose |r| reaches their critical value
    std::vector<int64_t> surrogate; // per surrogate: points where its |r_k| reaches it
};

// Zero counts for `surrogates` surrogates.
FieldCounts empty_field_counts(int64_t surrogates);
// total += part (both for the same surrogates).
void add_field_counts(FieldCounts& total, const FieldCounts& part);
// (1 + the number of surrogates whose count reaches the observed count) / (M + 1);
// NaN when no point was tested.
double field_p(const FieldCounts& total);

// Working storage of one thread's calls, kept from tile to tile.
struct PhaseWork {
    // Largest block of correlations held at once (points of the block × M floats);
    // the tile is taken in blocks of as many points as fit, at least one.
    int64_t block_bytes = int64_t(64) << 20;
    std::vector<float> points;       // standardised points of a block, steps × block
    std::vector<float> correlations; // block × M: point j's M correlations together
    std::vector<float> candidates;   // for the critical value's selection
    std::vector<int32_t> index;      // the tile's index of each point of the block
    std::vector<double> mean, scale;
    std::vector<int32_t> tile_counts; // per surrogate, this tile's points
    // This thread's CPU seconds in the matrix products, summed over its calls:
    // what the products cost next to the rest of the test.
    double product_seconds = 0;
};

// The rank of each point's critical value among its M values |r_k| in increasing
// order: ceil((1 - alpha) M) = M - floor(alpha M), with alpha M taken 1e-9 up so
// that a decimal alpha stored a hair low (0.15 M) keeps its whole product; at
// least 1. Errors: RunError{"--alpha", ...} unless 0 < alpha < 1.
int64_t critical_rank(int64_t surrogates, double alpha);

// The phase test of every point of the tile: p[i] = (1 + the number of
// surrogates with |r_k| >= |r|) / (M + 1), two-sided, and critical[i] = c, the
// critical_rank-th smallest of the point's |r_k| (critical may be null); both NaN
// for a point not tested (skipped, r NaN, a constant or non-finite series). Adds
// the tile's points to `counts`: tested, observed (|r| >= c) and, for each
// surrogate, the points with |r_k| >= c. Safe on several threads at once when
// each has its own `work` and `counts`. Errors: RunError{"tile", ...} for a tile
// whose steps differ from the surrogates', and critical_rank's.
void phase_test_tile(const Surrogates& surrogates, const PhaseTile& tile, double alpha, PhaseWork& work, double* p,
                     float* critical, FieldCounts& counts);

// OpenBLAS, opened on first use with one thread per call for all threads of the
// process: the tiles' own threads are the parallelism, and two workers with one
// BLAS thread each measured faster here than one worker with two. The first
// call (it sets OPENBLAS_NUM_THREADS in the environment before the library
// reads it) belongs before the tile threads start. Throws RunError when the
// library cannot be opened. description tells what ran, as "OpenBLAS 0.3.21
// ..., kernel Cooperlake" (OpenBLAS picks the kernel for the CPU when it loads,
// or takes the one OPENBLAS_CORETYPE names).
struct Blas {
    using Sgemm = void (*)(CBLAS_ORDER, CBLAS_TRANSPOSE, CBLAS_TRANSPOSE, blasint, blasint, blasint, float,
                           const float*, blasint, const float*, blasint, float, float*, blasint);
    Sgemm sgemm = nullptr;
    std::string description;
};
const Blas& single_thread_blas();

// single_thread_blas()'s description.
std::string use_single_thread_blas();
