#include "gshhg_reader.hpp"

#include <netcdf.h>

#include "run_error.hpp"

namespace {

void nc_ok(int status, const std::string& path, const char* what)
{
    if (status != NC_NOERR) fail(path, std::string(what) + ": " + nc_strerror(status));
}

// The file stays open only inside read_gshhg; closing it on every way out.
struct OpenFile {
    int id = -1;
    ~OpenFile()
    {
        if (id >= 0) nc_close(id);
    }
};

size_t dimension_of(int nc, const std::string& path, const char* var)
{
    int id, ndims, dim;
    nc_ok(nc_inq_varid(nc, var, &id), path, var);
    nc_ok(nc_inq_varndims(nc, id, &ndims), path, var);
    if (ndims != 1) fail(path, std::string(var) + " is not one-dimensional");
    nc_ok(nc_inq_vardimid(nc, id, &dim), path, var);
    size_t n;
    nc_ok(nc_inq_dimlen(nc, dim, &n), path, var);
    return n;
}

int scalar_int(int nc, const std::string& path, const char* var)
{
    int id, v;
    nc_ok(nc_inq_varid(nc, var, &id), path, var);
    const size_t at = 0;
    nc_ok(nc_get_var1_int(nc, id, &at, &v), path, var);
    return v;
}

template <typename T>
std::vector<T> whole(int nc, const std::string& path, const char* var)
{
    std::vector<T> v(dimension_of(nc, path, var));
    int id;
    nc_ok(nc_inq_varid(nc, var, &id), path, var);
    if (v.empty()) return v;
    int status;
    if constexpr (sizeof(T) == 4) status = nc_get_var_int(nc, id, v.data());
    else if constexpr (sizeof(T) == 2) status = nc_get_var_short(nc, id, v.data());
    else status = nc_get_var_schar(nc, id, v.data());
    nc_ok(status, path, var);
    return v;
}

} // namespace

CoastPoint bin_south_west(const CoastData& coast, int32_t bin)
{
    const int32_t row = bin / coast.bins_per_row, column = bin % coast.bins_per_row;
    return {column * coast.bin_degrees, 90.0 - (row + 1) * coast.bin_degrees};
}

CoastData read_gshhg(const std::string& path)
{
    OpenFile f;
    nc_ok(nc_open(path.c_str(), NC_NOWRITE, &f.id), path, "cannot open");
    const int nc = f.id;

    CoastData coast;
    const int minutes = scalar_int(nc, path, "Bin_size_in_minutes");
    coast.bins_per_row = scalar_int(nc, path, "N_bins_in_360_longitude_range");
    coast.bin_rows = scalar_int(nc, path, "N_bins_in_180_degree_latitude_range");
    if (minutes <= 0 || coast.bins_per_row <= 0 || coast.bin_rows <= 0 ||
        int64_t(minutes) * coast.bins_per_row != 360 * 60 || int64_t(minutes) * coast.bin_rows != 180 * 60)
        fail(path, "bin size and bin counts do not cover the globe");
    coast.bin_degrees = minutes / 60.0;

    const auto first_segment = whole<int>(nc, path, "Id_of_first_segment_in_a_bin");
    const auto segments_in_bin = whole<short>(nc, path, "N_segments_in_a_bin");
    const auto packed = whole<int>(nc, path, "Embedded_npts_levels_exit_entry_for_a_segment");
    const auto first_point = whole<int>(nc, path, "Id_of_first_point_in_a_segment");
    const auto dlon = whole<short>(nc, path, "Relative_longitude_from_SW_corner_of_bin");
    const auto dlat = whole<short>(nc, path, "Relative_latitude_from_SW_corner_of_bin");

    const int64_t bins = int64_t(coast.bins_per_row) * coast.bin_rows;
    if (int64_t(first_segment.size()) != bins || int64_t(segments_in_bin.size()) != bins)
        fail(path, "bin arrays do not have one entry per bin");
    if (first_point.size() != packed.size())
        fail(path, "segment arrays differ in length");
    if (dlat.size() != dlon.size()) fail(path, "point arrays differ in length");

    coast.segments.reserve(packed.size());
    coast.points.reserve(dlon.size());
    const double step = coast.bin_degrees / 65535.0;
    for (int32_t bin = 0; bin < bins; ++bin) {
        const int64_t s0 = first_segment[bin], ns = segments_in_bin[bin];
        if (ns < 0 || s0 < 0 || s0 + ns > int64_t(packed.size())) fail(path, "a bin's segments lie outside the file");
        const CoastPoint corner = bin_south_west(coast, bin);
        for (int64_t s = s0; s < s0 + ns; ++s) {
            const uint32_t bits = uint32_t(packed[s]);
            const int64_t n = bits >> 9, p0 = first_point[s];
            if (p0 < 0 || p0 + n > int64_t(dlon.size())) fail(path, "a segment's points lie outside the file");
            CoastSegment seg;
            seg.bin = bin;
            seg.level = int((bits >> 6) & 7u);
            seg.first_point = int64_t(coast.points.size());
            seg.point_count = n;
            for (int64_t p = p0; p < p0 + n; ++p)
                coast.points.push_back({corner.lon + uint16_t(dlon[p]) * step, corner.lat + uint16_t(dlat[p]) * step});
            coast.segments.push_back(seg);
        }
    }
    return coast;
}
