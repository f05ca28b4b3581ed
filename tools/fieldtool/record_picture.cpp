#include "record_picture.hpp"

#include <netcdf.h>

#include "colour_bar.hpp"
#include "netcdf_output.hpp"
#include "netcdf_picture.hpp"
#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"

namespace {

// The template's grid must be the record's. Its coordinates label the edges
// (and bring coastlines to a latitude/longitude grid); row 0 goes on top when
// the row coordinate falls from first to last, as in a grid stored north to
// south. Its name and units go into the title, its long_name and units under
// the bar.
struct LikeGrid {
    GridCoordinates coordinates;
    std::string name, units, long_name;
};

void take_like_grid(const RecordPictureOptions& opt, const RecordHeader& h, MapPicture& pic, LikeGrid& g)
{
    const TimeVariable tv = open_time_variable(opt.like_path, opt.like_var);
    check_like_grid(tv, opt.like_path, opt.like_var, h);
    set_grid_axes(pic, tv, opt.like_path, g.coordinates);
    g.name = opt.like_var;
    g.units = text_attribute(tv.ncid, tv.varid, "units");
    g.long_name = text_attribute(tv.ncid, tv.varid, "long_name");
}

} // namespace

PictureFormat check_record_picture(const std::string& out_path, const RecordPictureOptions& opt)
{
    const PictureFormat format = picture_format_of(out_path);
    // --range was checked as it was read: finite, LO below HI.
    check_picture_size(format, opt.size, out_path);
    return format;
}

std::vector<std::string> write_record_picture(const std::string& record_path, const std::string& out_path,
                                              const RecordPictureOptions& opt)
{
    const PictureFormat format = check_record_picture(out_path, opt);
    const std::string inputs[] = {record_path, opt.like_path};
    refuse_output_over_inputs(out_path, inputs, 2);
    RecordInput in;
    std::vector<float> values(MAX_POINTS);
    RecordHeader h;
    open_record_input(in, record_path);
    read_pair_number(in, opt.record, h, values.data());
    if (h.w2 <= 0 || h.w3 <= 0 || int64_t(h.w2) * h.w3 != h.w4)
        fail(record_path, "record pair " + std::to_string(opt.record) + " has W2 × W3 = " + std::to_string(h.w2) +
                              " × " + std::to_string(h.w3) + ", not its W4 = " + std::to_string(h.w4) +
                              " values, so it holds no grid to draw");

    MapPicture pic;
    pic.values = values.data();
    pic.columns = h.w2;
    pic.rows = h.w3;
    pic.row0_on_top = opt.flip;
    LikeGrid like;
    if (!opt.like_path.empty()) take_like_grid(opt, h, pic, like);

    pic.scale = opt.diverging ? ColourScale::diverging : ColourScale::sequential;
    if (opt.fixed_range) {
        pic.fixed_range = true;
        pic.lo = opt.lo;
        pic.hi = opt.hi;
    } else if (opt.diverging) {
        const ColourRange range = tenths_range(values.data(), h.w4);
        pic.fixed_range = true;
        pic.lo = range.lo;
        pic.hi = range.hi;
    }

    // nstar's result is an effective sample size whatever grid it lies on.
    const bool neff = h.w1 == NEFF_RECORD_TAG;
    std::string title = record_path.substr(record_path.rfind('/') + 1) + ", record " + std::to_string(opt.record);
    if (neff) {
        title += ": effective sample size";
        pic.bar_name = "effective sample size";
    } else if (!like.name.empty()) {
        title += ": " + with_units(like.name, like.units);
        pic.bar_name = like.long_name.empty() ? like.name : like.long_name;
        pic.bar_units = like.units;
    }
    pic.title = opt.title_given ? opt.title : title;
    pic.size = opt.size;
    pic.coastlines = opt.coastlines;

    OutputFile out;
    begin_output_file(out, out_path);
    const std::vector<std::string> notes = write_picture(out, pic, format);
    commit_output_file(out);
    return notes;
}
