#include "netcdf_picture.hpp"

namespace {

AxisKind axis_kind(Geography g)
{
    return g == Geography::latitude ? AxisKind::latitude : g == Geography::longitude ? AxisKind::longitude
                                                                                       : AxisKind::plain;
}

} // namespace

void set_grid_axes(MapPicture& pic, const TimeVariable& tv, const std::string& path, GridCoordinates& c)
{
    c.rows.resize(size_t(tv.rows));
    c.columns.resize(size_t(tv.columns));
    if (tv.rank >= 3) {
        const int dim = tv.dimids[tv.rank - 2];
        pic.row0_on_top = coordinate_decreases(tv.ncid, dim, path);
        if (read_coordinate(tv.ncid, dim, path, c.rows.data(), c.rows.size()))
            pic.row_axis = {c.rows.data(), axis_kind(coordinate_geography(tv.ncid, dim))};
    }
    if (tv.rank >= 2) {
        const int dim = tv.dimids[tv.rank - 1];
        if (read_coordinate(tv.ncid, dim, path, c.columns.data(), c.columns.size()))
            pic.column_axis = {c.columns.data(), axis_kind(coordinate_geography(tv.ncid, dim))};
    }
}

std::vector<std::string> write_picture(OutputFile& out, const MapPicture& pic, PictureFormat format)
{
    const RenderedPicture drawn = render_map(pic, format, out.path);
    write_output_file(out, drawn.bytes.data(), drawn.bytes.size());
    std::vector<std::string> notes;
    for (const std::string& note : drawn.notes) notes.push_back(out.path + ": note: " + note);
    return notes;
}
