#include "result_picture.hpp"

#include <cstdio>
#include <cstdlib>
#include <netcdf.h>

#include "colour_bar.hpp"
#include "map_picture.hpp"
#include "netcdf_picture.hpp"
#include "run_error.hpp"

namespace {

const char* variable_name(PictureVariable v)
{
    switch (v) {
    case PictureVariable::neff: return "neff";
    case PictureVariable::neff_lag1: return "neff_lag1";
    case PictureVariable::p: return "p";
    case PictureVariable::slope: return "slope";
    default: return "r";
    }
}

// The map's variable of that name.
int map_variable(const MapOutput& map, PictureVariable v)
{
    switch (v) {
    case PictureVariable::neff: return map.neff;
    case PictureVariable::neff_lag1: return map.lag1;
    case PictureVariable::p: return map.p;
    case PictureVariable::slope: return map.slope;
    default: return map.r;
    }
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

std::string steps_text(int64_t first, int32_t steps)
{
    return std::to_string(first) + "\u2013" + std::to_string(first + steps - 1);
}

std::string neff_text(NeffMethod m)
{
    switch (m) {
    case NeffMethod::chain: return "chain";
    case NeffMethod::lag1: return "lag-1";
    default: return "min(chain, lag-1)";
    }
}

void join(std::string& text, const std::string& part)
{
    if (part.empty()) return;
    if (!text.empty()) text += " \u00b7 ";
    text += part;
}

} // namespace

TestedFacts tested_facts(const RunOptions& opt, const FieldSource& field, const PairedSteps& paired)
{
    const Pairing& p = paired.pairing;
    TestedFacts f;
    f.variable = opt.var;
    f.units = field.units;
    // The series by its file name alone: a long path would only crowd the title.
    f.series = opt.series.substr(opt.series.rfind('/') + 1);
    f.steps = field.steps;
    f.field_first = field.first_step;
    f.series_first = p.series_first + 1;
    f.field_start = p.field_start;
    f.field_end = p.field_end;
    f.series_start = p.series_start;
    f.series_end = p.series_end;
    f.lag = int32_t(opt.pairing.lag);
    f.step_unit = p.kind == StepKind::monthly ? "month" : p.kind == StepKind::yearly ? "year"
                  : p.kind == StepKind::daily ? "day"
                                              : "";
    f.anomalies = opt.anomalies;
    f.detrended = opt.detrend;
    f.method = opt.method;
    f.phase_surrogates = opt.test == TestKind::phase ? opt.surrogates : 0;
    f.alpha = opt.alpha;
    f.q = opt.q;
    return f;
}

PictureTitle picture_title(const TestedFacts& f, const MapTest& result)
{
    PictureTitle t;
    t.title = "Correlation of " + with_units(f.variable, f.units) + " with " + f.series;
    if (!f.field_start.empty()) {
        t.title += ", " + f.field_start + " to " + f.field_end;
        if (!f.series_start.empty()) t.title += " (series " + f.series_start + " to " + f.series_end + ")";
    } else if (f.field_first > 0 && f.field_first == f.series_first) {
        t.title += ", steps " + steps_text(f.field_first, f.steps);
    } else if (f.field_first > 0) {
        t.title += ", field steps " + steps_text(f.field_first, f.steps) + " with series steps " +
                   steps_text(f.series_first, f.steps);
    }
    t.title += ", N = " + std::to_string(f.steps);
    if (f.lag != 0) {
        const int32_t k = std::abs(f.lag);
        const std::string unit = f.step_unit.empty() ? "step" : f.step_unit;
        t.title += std::string(f.lag > 0 ? ", series" : ", field") + " leading by " + std::to_string(k) + " " + unit +
                   (k == 1 ? "" : "s");
    }

    join(t.subtitle, f.anomalies && f.detrended ? "anomalies, detrended" : f.anomalies ? "anomalies"
                     : f.detrended              ? "detrended"
                                                : "");
    join(t.subtitle, f.phase_surrogates > 0 ? "phase test, M = " + std::to_string(f.phase_surrogates)
                                            : "t test, neff = " + neff_text(f.method));
    join(t.subtitle, std::to_string(result.counts.tested) + " points tested: " +
                         std::to_string(result.counts.local) + " with p < " + number(f.alpha) + ", " +
                         std::to_string(result.fdr) + " significant after FDR at q = " + number(f.q));
    return t;
}

bool grid_is_drawable(const FieldSource& field) { return field.tv.rank <= 3; }

std::vector<std::string> draw_result_picture(OutputFile& out, MapOutput& map, const FieldSource& field,
                                             const TestedFacts& facts, const MapTest& result,
                                             const RunOptions& opt)
{
    const TimeVariable& tv = field.tv;
    const int var = map_variable(map, opt.picture_var);
    const std::vector<float> values = read_map_floats(map, field, var);
    const std::vector<unsigned char> dots =
        read_map_mask(map, field, opt.stipple == StippleMask::local ? map.local : map.fdr);

    MapPicture pic;
    pic.values = values.data();
    pic.columns = tv.columns;
    pic.rows = tv.rows;
    pic.stipple = dots.data();
    pic.stipple_legend = opt.stipple == StippleMask::local ? "p < " + number(opt.alpha) : "significant after FDR";

    GridCoordinates coordinates;
    set_grid_axes(pic, tv, field.path, coordinates);

    const PictureVariable v = opt.picture_var;
    pic.scale = picture_scale(v);
    pic.alpha = opt.alpha;
    if (opt.fixed_range) {
        pic.fixed_range = true;
        pic.lo = opt.range.lo;
        pic.hi = opt.range.hi;
    } else if (v == PictureVariable::r) {
        const ColourRange range = tenths_range(values.data(), int64_t(values.size()));
        pic.fixed_range = true;
        pic.lo = range.lo;
        pic.hi = range.hi;
    }

    if (opt.title_given) {
        pic.title = opt.title;
    } else {
        const PictureTitle t = picture_title(facts, result);
        pic.title = t.title;
        pic.subtitle = t.subtitle;
    }
    pic.bar_name = text_attribute(map.nc.ncid, var, "long_name");
    if (pic.bar_name.empty()) pic.bar_name = variable_name(v);
    pic.bar_units = text_attribute(map.nc.ncid, var, "units");
    pic.size = opt.picture_size;
    pic.coastlines = opt.coastlines;

    return write_picture(out, pic, opt.picture_format);
}
