#include "ar1_chain.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <fstream>

#include "series_file.hpp"
#include "significance.hpp"
#include "test_support.hpp"

double next_normal(NormalStream& s)
{
    if (s.has_spare) {
        s.has_spare = false;
        return s.spare;
    }
    // Uniforms on (0, 1] from the top 53 bits, so the logarithm never sees 0.
    const double u1 = (double(s.gen() >> 11) + 1.0) * 0x1p-53;
    const double u2 = double(s.gen() >> 11) * 0x1p-53;
    const double radius = std::sqrt(-2.0 * std::log(u1));
    const double angle = 6.283185307179586 * u2;
    s.spare = radius * std::sin(angle);
    s.has_spare = true;
    return radius * std::cos(angle);
}

void ar1_series(NormalStream& s, double a, int32_t steps, float* out)
{
    const double innovation = std::sqrt(1.0 - a * a);
    double x = next_normal(s);
    for (int32_t t = 0; t < steps; ++t) {
        if (t > 0) x = a * x + innovation * next_normal(s);
        out[t] = float(x);
    }
}

FieldValues ar1_field(NormalStream& s, double b, int32_t steps, int32_t points)
{
    FieldValues f;
    f.steps = steps;
    f.points = points;
    f.values.resize(size_t(steps) * size_t(points));
    for (int32_t p = 0; p < points; ++p) ar1_series(s, b, steps, &f.values[size_t(p) * size_t(steps)]);
    return f;
}

void plant_region(NormalStream& s, FieldValues& field, const float* x, double c, double b, int32_t first, int32_t count)
{
    const size_t steps = size_t(field.steps);
    std::vector<float> z(steps);
    const double rest = std::sqrt(1.0 - c * c);
    for (int32_t p = first; p < first + count; ++p) {
        ar1_series(s, b, field.steps, z.data());
        float* v = &field.values[size_t(p) * steps];
        for (size_t t = 0; t < steps; ++t) v[t] = float(c * double(x[t]) + rest * double(z[t]));
    }
}

namespace {

// The record file of a field given point-major: one pair per step.
std::string record_bytes(const float* values, int32_t steps, int32_t points)
{
    std::string bytes;
    std::vector<float> row(static_cast<size_t>(points));
    for (int32_t t = 0; t < steps; ++t) {
        for (int32_t p = 0; p < points; ++p) row[size_t(p)] = values[size_t(p) * size_t(steps) + size_t(t)];
        bytes += pair_bytes(t + 1, 0, 0, row);
    }
    return bytes;
}

bool run(const char* exe, const std::string& answers, const std::string& dir, std::string& error)
{
    RunOptions options;
    options.timeout_seconds = 120;
    const RunResult r = run_program(exe, answers, dir, {}, options);
    if (r.status == 0) return true;
    error = std::string(exe) + " in " + dir + " ended with status " + std::to_string(r.status) + ": " + r.err;
    return false;
}

// The first value of every record of lag 1: the lag-1 autocorrelations.
bool lag1_values(const std::string& path, int32_t points, std::vector<float>& out, std::string& error)
{
    const ParsedSeries s = parse_series(read_file(path));
    if (!s.ok || s.pairs.empty() || s.pairs[0].w[0] != 1 || s.pairs[0].values.size() != size_t(points)) {
        error = path + " is not an autocorrelation file of " + std::to_string(points) + " points";
        return false;
    }
    out = s.pairs[0].values;
    return true;
}

bool make_dir(const std::string& path, std::string& error)
{
    if (::mkdir(path.c_str(), 0755) == 0) return true;
    error = "cannot create " + path;
    return false;
}

} // namespace

bool run_field(const std::string& dir, const FieldValues& field, FieldRun& run_out, std::string& error)
{
    run_out.dir = dir;
    write_file(dir + "/field", record_bytes(field.values.data(), field.steps, field.points));
    // sigcut always writes ./critic-lags: the field's goes in a directory of its own.
    return run(LAGSCAN_EXE, "field\nfield.aut\n", dir, error) && make_dir(dir + "/field-lags", error) &&
           run(SIGCUT_EXE, "../field.aut\n", dir + "/field-lags", error) &&
           lag1_values(dir + "/field.aut", field.points, run_out.b1, error);
}

bool run_series(const FieldRun& field_run, const std::string& name, const float* series, int32_t steps,
                SeriesRun& run_out, std::string& error)
{
    const std::string& dir = field_run.dir;
    write_file(dir + "/" + name, record_bytes(series, steps, 1));
    std::vector<float> a1;
    if (!run(LAGSCAN_EXE, name + "\n" + name + ".aut\n", dir, error) || !make_dir(dir + "/" + name + "-lags", error) ||
        !run(SIGCUT_EXE, "../" + name + ".aut\n", dir + "/" + name + "-lags", error) ||
        !lag1_values(dir + "/" + name + ".aut", 1, a1, error))
        return false;
    run_out.a1 = a1[0];
    const std::string answers = name + ".aut\nfield.aut\n" + name + "-lags/critic-lags\nfield-lags/critic-lags\n" +
                                name + ".neff\n";
    if (!run(NSTAR_EXE, answers, dir, error)) return false;
    const ParsedSeries s = parse_series(read_file(dir + "/" + name + ".neff"));
    if (!s.ok || s.pairs.size() != 1 || s.pairs[0].w[0] != NEFF_RECORD_TAG ||
        s.pairs[0].values.size() != field_run.b1.size()) {
        error = dir + "/" + name + ".neff is not nstar's output for the field";
        return false;
    }
    run_out.neff = s.pairs[0].values;
    return true;
}

std::vector<PairP> pair_p_values(const FieldValues& field, const FieldRun& field_run, const float* series,
                                 const SeriesRun& series_run)
{
    const int32_t n = field.steps;
    std::vector<PairP> out(size_t(field.points));
    for (int32_t p = 0; p < field.points; ++p) {
        const double r = pearson_r(series, &field.values[size_t(p) * size_t(n)], n);
        const float chain_value = series_run.neff[size_t(p)];
        const double chain = chain_value == MISSING_VALUE ? std::nan("") : double(chain_value);
        const double lag1 = lag1_neff(series_run.a1, field_run.b1[size_t(p)], n);
        const auto p_with = [&](double neff) { return two_sided_p(r, test_dof(neff, n)); };
        out[size_t(p)] = {p_with(double(n)), p_with(neff_for_test(NeffMethod::chain, chain, lag1)),
                          p_with(neff_for_test(NeffMethod::lag1, chain, lag1)),
                          p_with(neff_for_test(NeffMethod::min, chain, lag1))};
    }
    return out;
}

double share_below(const std::vector<PairP>& pairs, double PairP::*which, double alpha)
{
    if (pairs.empty()) return std::nan("");
    size_t hits = 0;
    for (const PairP& pair : pairs) hits += pair.*which < alpha ? 1 : 0;
    return double(hits) / double(pairs.size());
}
