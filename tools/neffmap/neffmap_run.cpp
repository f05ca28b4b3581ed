#include "neffmap_run.hpp"

#include <chrono>
#include <cstdio>
#include <unistd.h>

#include "chain_tile.hpp"
#include "field_source.hpp"
#include "interrupts.hpp"
#include "map_output.hpp"
#include "output_file.hpp"
#include "paired_steps.hpp"
#include "result_picture.hpp"
#include "run_error.hpp"
#include "run_summary.hpp"
#include "series_source.hpp"
#include "significance_map.hpp"
#include "tile_pipeline.hpp"
#include "unit_scaling.hpp"
#include "work_files.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string range_text(int64_t first, int32_t steps, int64_t total)
{
    return std::to_string(first) + " … " + std::to_string(first + steps - 1) + " of " + std::to_string(total);
}

// No output may land on an input or on another output, by any name.
void check_outputs(const RunOptions& opt)
{
    const std::string inputs[] = {opt.field, split_series_argument(opt.series).file};
    refuse_output_over_inputs(opt.out, inputs, 2);
    if (!opt.picture.empty()) {
        refuse_output_over_inputs(opt.picture, inputs, 2);
        refuse_same_output(opt.out, opt.picture);
    }
    if (!opt.work.empty()) {
        refuse_same_output(opt.work, opt.out);
        if (!opt.picture.empty()) refuse_same_output(opt.work, opt.picture);
    }
}

// What the map says about the paired dates and the transforms.
void describe_dates(const PairedSteps& paired, const FieldSource& field, const RunOptions& opt, MapDescription& d)
{
    const Pairing& p = paired.pairing;
    d.time_coverage_start = p.field_start;
    d.time_coverage_end = p.field_end;
    d.series_time_coverage_start = p.series_start;
    d.series_time_coverage_end = p.series_end;
    d.time_step = p.time_step;
    d.pairing = p.by_date ? "by date" : p.note;
    d.lag = opt.pairing.lag;
    const ClimatologyPlan& plan = paired.field.plan;
    d.anomalies = !opt.anomalies                               ? "none"
                  : plan.cycle == CycleKind::calendar_months  ? "the mean of each calendar month removed"
                  : plan.cycle == CycleKind::annual_harmonics ? "three annual harmonics removed"
                                                              : "the mean removed";
    d.detrend = opt.detrend ? "the least-squares line removed" : "none";
    if (!field.units.empty() && !paired.series.units.empty())
        d.slope_units = field.units + " per " + paired.series.units;
}

} // namespace

std::vector<std::string> run_neffmap(const RunOptions& opt)
{
    const auto start = Clock::now();
    catch_interrupts();

    // Options and outputs, before any input is read: each output's name, its
    // directory and its temporary file.
    check_outputs(opt);
    MapOutput map;
    begin_output_file(map.file, opt.out);
    OutputFile picture;
    if (!opt.picture.empty()) begin_output_file(picture, opt.picture);
    WorkDirectory work;
    if (!opt.work.empty())
        open_work_directory(work, opt.work, {opt.field, split_series_argument(opt.series).file}, {opt.out, opt.picture});

    // Inputs: the field, and the series paired with it and transformed.
    FieldSource field = open_field(opt.field, opt.var);
    const PairedSteps paired = pair_with_field(field, opt);
    if (!opt.picture.empty() && !grid_is_drawable(field))
        fail(field.path, "a picture shows a grid of at most two dimensions; variable \"" + opt.var + "\" has " +
                             grid_text(field.tv) + "; leave out --picture or select one level first");
    const TestSettings test{opt.alpha, opt.q, opt.method, opt.test};
    MapDescription d;
    d.steps = field.steps;
    d.history = opt.command_line;
    d.field_source = opt.field + ":" + opt.var;
    d.series_source = opt.series;
    d.field_steps = range_text(field.first_step, field.steps, int64_t(field.tv.sizes[0]));
    d.series_steps = range_text(paired.pairing.series_first + 1, paired.pairing.n, int64_t(paired.series.values.size()));
    describe_dates(paired, field, opt, d);
    define_map(map, field, test, d);
    check_interrupt();

    // The phase test's surrogates come from the series as the chain gets it.
    PhaseRun phase;
    if (opt.test == TestKind::phase) phase = begin_phase_test(paired.values, paired.series.file, opt.surrogates, opt.seed);

    // The series goes through the chain once.
    ChainWorkspace ws;
    ws.path = choose_lag_path(this_cpu());
    const std::vector<float> chain_series = scaled_to_unit(paired.values);
    const SeriesChain series_chain = compute_series_chain(ws, chain_series);
    if (!opt.work.empty()) write_series_work_files(work, chain_series, series_chain);

    // The tiles.
    TileRun run;
    run.field = &field;
    run.series = &paired.values;
    run.transforms = &paired.field;
    run.series_chain = &series_chain;
    run.test = test;
    run.path = ws.path;
    run.work = opt.work.empty() ? nullptr : &work;
    run.jobs = opt.jobs;
    run.progress = !opt.quiet && ::isatty(2);
    run.phase = opt.test == TestKind::phase ? &phase : nullptr;
    MapTest result;
    run_tiles(run, map, result);

    // The test over the whole map, and the outputs finished.
    check_interrupt();
    if (run.phase) finish_phase_test(phase, result.p);
    find_fdr_threshold(result, opt.q);
    write_fdr_mask(map, field, result);
    std::vector<std::string> notes;
    if (!opt.picture.empty()) {
        const TestedFacts facts = tested_facts(opt, field, paired);
        notes = draw_result_picture(picture, map, field, facts, result, opt);
    }
    std::vector<float> dof = opt.quiet ? std::vector<float>{} : read_map_floats(map, field, map.dof);
    if (run.phase) put_phase_attributes(map, phase);
    // The warnings for the map and the summary; the phase test's own is printed
    // with its other lines.
    const std::string warning = annual_cycle_warning(paired, result.counts.annual_cycle);
    const std::string floor =
        run.phase ? floor_warning(phase, result.counts.tested, result.p_fdr, opt.q) : std::string();
    add_map_warning(map, warning.empty() || floor.empty() ? warning + floor : warning + "; " + floor);
    close_map(map, result);
    check_interrupt();

    // Every output is complete: they take their names together.
    OutputFile* outputs[] = {&map.file, &picture};
    commit_output_files(outputs, opt.picture.empty() ? 1 : 2);
    if (!opt.work.empty()) commit_work_directory(work);

    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!warning.empty()) std::fprintf(stderr, "neffmap: warning: %s\n", warning.c_str());
    if (!opt.quiet) print_summary(field, paired, result, std::move(dof), test, warning, seconds, run.phase);
    if (!opt.quiet) print_renamed_grid(field, map.grid, opt.out);
    return notes;
}
