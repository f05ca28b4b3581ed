#include <fftw3.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "phasetest.hpp"
#include "run_error.hpp"

namespace {

struct PlanDeleter {
    void operator()(fftw_plan_s* plan) const { fftw_destroy_plan(plan); }
};
using Plan = std::unique_ptr<fftw_plan_s, PlanDeleter>;

fftw_complex* as_fftw(std::vector<std::complex<double>>& v) { return reinterpret_cast<fftw_complex*>(v.data()); }

// An angle uniform on [0, 2 pi) from the generator's next output: its top 53 bits
// as a fraction, so the sequence of angles is the same with every library.
double next_angle(std::mt19937_64& gen) { return 6.283185307179586 * (double(gen() >> 11) * 0x1p-53); }

} // namespace

Surrogates draw_surrogates(const double* series, int32_t steps, int64_t count, uint64_t seed,
                           const std::string& series_name)
{
    if (count < 1 || count > MAX_SURROGATES)
        fail("--surrogates", "between 1 and " + std::to_string(MAX_SURROGATES) + " surrogates, not " +
                                 std::to_string(count));
    if (steps < 3 || steps > MAX_STEPS)
        fail(series_name, "surrogates need 3 to " + std::to_string(MAX_STEPS) + " steps, not " +
                              std::to_string(steps));
    const size_t n = size_t(steps);
    std::vector<double> x(n);
    double sum = 0.0;
    for (size_t t = 0; t < n; ++t) {
        if (!std::isfinite(series[t])) fail(series_name, "a value at step " + std::to_string(t + 1) + " is not finite");
        sum += series[t];
    }
    const double mean = sum / double(steps);
    for (size_t t = 0; t < n; ++t) x[t] = series[t] - mean;

    const size_t half = n / 2 + 1;
    std::vector<std::complex<double>> spectrum(half);
    {
        const Plan forward(fftw_plan_dft_r2c_1d(steps, x.data(), as_fftw(spectrum), FFTW_ESTIMATE));
        if (!forward) fail(series_name, "FFTW could not plan a transform of " + std::to_string(steps) + " steps");
        fftw_execute(forward.get());
    }
    std::vector<double> amplitude(half);
    for (size_t f = 0; f < half; ++f) amplitude[f] = std::abs(spectrum[f]);
    amplitude[0] = 0.0;
    const bool nyquist = n % 2 == 0;
    const size_t last_complex = nyquist ? half - 2 : half - 1; // highest f with a free phase
    double power = 0.0;
    for (size_t f = 1; f < half; ++f) power += amplitude[f] * amplitude[f];
    if (!(power > 0.0)) fail(series_name, "is constant: it has no spectrum to draw surrogates from");

    Surrogates s;
    s.count = count;
    s.steps = steps;
    s.seed = seed;
    s.values.resize(size_t(count) * n);
    std::vector<std::complex<double>> phased(half);
    std::vector<double> y(n);
    // The inverse transform overwrites its input, so the spectrum is laid out anew
    // for every surrogate.
    const Plan inverse(fftw_plan_dft_c2r_1d(steps, as_fftw(phased), y.data(), FFTW_ESTIMATE));
    if (!inverse) fail(series_name, "FFTW could not plan a transform of " + std::to_string(steps) + " steps");
    std::mt19937_64 gen(seed);
    for (int64_t k = 0; k < count; ++k) {
        phased[0] = 0.0;
        for (size_t f = 1; f <= last_complex; ++f) phased[f] = std::polar(amplitude[f], next_angle(gen));
        if (nyquist) phased[half - 1] = std::sqrt(2.0) * amplitude[half - 1] * std::cos(next_angle(gen));
        fftw_execute(inverse.get());
        // The zero frequency makes the mean 0 up to rounding; removing the rounding
        // too keeps the correlation a plain dot product.
        double ysum = 0.0;
        for (size_t t = 0; t < n; ++t) ysum += y[t];
        const double ymean = ysum / double(steps);
        double square = 0.0;
        for (size_t t = 0; t < n; ++t) {
            y[t] -= ymean;
            square += y[t] * y[t];
        }
        // A series of power only at the Nyquist term can draw cos = 0 exactly:
        // a surrogate of no variance, which correlates with nothing.
        const double scale = square > 0.0 ? 1.0 / std::sqrt(square) : 0.0;
        float* out = &s.values[size_t(k) * n];
        for (size_t t = 0; t < n; ++t) out[t] = float(y[t] * scale);
    }
    return s;
}
