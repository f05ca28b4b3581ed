#include "series_source.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netcdf.h>
#include <sys/stat.h>

#include "csv_series.hpp"
#include "netcdf4_probe.hpp"
#include "netcdf_classic_check.hpp"
#include "netcdf_common.hpp"
#include "netcdf_input.hpp"
#include "netcdf_time_axis.hpp"
#include "record_access.hpp"
#include "run_error.hpp"
#include "series_file.hpp"

namespace {

// A CSV series is read whole; past this it is not one.
constexpr size_t MAX_TEXT_BYTES = size_t(1) << 30;

bool exists(const std::string& path)
{
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

enum class Content { netcdf, records, text };

// What the file holds, by its first bytes: NetCDF's magic numbers (classic or
// HDF5), a record file's first marker (16, its header's length), or text.
Content content_of(const unsigned char* head, size_t n)
{
    if (n >= 4 && std::memcmp(head, "CDF", 3) == 0 && (head[3] == 1 || head[3] == 2 || head[3] == 5))
        return Content::netcdf;
    if (n >= 8 && std::memcmp(head, "\x89HDF\r\n\x1a\n", 8) == 0) return Content::netcdf;
    if (n >= 4 && head[0] == 16 && head[1] == 0 && head[2] == 0 && head[3] == 0) return Content::records;
    return Content::text;
}

bool marked_missing(const SeriesReadOptions& o, float v)
{
    return o.has_missing_value && v != MISSING_VALUE && v == float(o.missing_value);
}

void check_finite(const SeriesSource& s, float v, size_t step)
{
    if (std::isinf(v))
        fail(s.file, "step " + std::to_string(step + 1) + " holds " + (v > 0 ? "+" : "-") +
                         "infinity, which no correlation can take");
}

// The 1-D numeric variables of the file, for a message.
std::string series_variables(int ncid)
{
    std::string names;
    int nvars = 0;
    nc_inq_nvars(ncid, &nvars);
    for (int v = 0, shown = 0; v < nvars && shown < 20; ++v) {
        char n[NC_MAX_NAME + 1];
        int ndims;
        nc_type t;
        if (nc_inq_var(ncid, v, n, &t, &ndims, nullptr, nullptr) != NC_NOERR || ndims != 1 || t == NC_CHAR) continue;
        names += (shown++ ? ", " : "") + std::string(n);
    }
    return names.empty() ? "none" : names;
}

void read_netcdf_series(const std::string& var, const SeriesReadOptions& o, SeriesSource& s)
{
    s.format = SeriesFormat::netcdf;
    check_classic_netcdf(s.file.c_str());
    // libhdf5 can crash or hang on a damaged file: a child process looks first.
    probe_netcdf4_input(s.file, var);
    TimeVariable tv;
    nc_check(nc_open(s.file.c_str(), NC_NOWRITE, &tv.ncid), s.file, "cannot open as NetCDF");
    if (var.empty())
        fail(s.file, "is a NetCDF file: name the series variable as FILE:VAR (1-D variables: " +
                         series_variables(tv.ncid) + ")");
    if (nc_inq_varid(tv.ncid, var.c_str(), &tv.varid) != NC_NOERR)
        fail(s.file, "no variable named \"" + var.substr(0, 80) + "\" (1-D variables: " + series_variables(tv.ncid) +
                         ")");
    nc_check(nc_inq_vartype(tv.ncid, tv.varid, &tv.type), s.file, var.c_str());
    nc_check(nc_inq_varndims(tv.ncid, tv.varid, &tv.rank), s.file, var.c_str());
    if (!is_numeric(tv.type))
        fail(s.file, "variable \"" + var + "\" does not hold numbers");
    if (tv.rank != 1)
        fail(s.file, "variable \"" + var + "\" has " + std::to_string(tv.rank) +
                         " dimensions; a series has one, along time");
    nc_check(nc_inq_vardimid(tv.ncid, tv.varid, tv.dimids), s.file, var.c_str());
    nc_check(nc_inq_dim(tv.ncid, tv.dimids[0], tv.dim_names[0], &tv.sizes[0]), s.file, var.c_str());
    const Unpacking u = read_unpacking(s.file.c_str(), tv);
    std::vector<double> stored(tv.sizes[0]);
    if (!stored.empty()) nc_check(nc_get_var_double(tv.ncid, tv.varid, stored.data()), s.file, "reading the series");
    s.values.resize(stored.size());
    for (size_t t = 0; t < stored.size(); ++t) {
        const float v = unpack_value(u, stored[t]);
        check_finite(s, v, t);
        s.values[t] = marked_missing(o, v) ? MISSING_VALUE : v;
    }
    s.name = var;
    s.units = text_attribute(tv.ncid, tv.varid, "units");
    s.long_name = text_attribute(tv.ncid, tv.varid, "long_name");
    s.axis = read_netcdf_time_axis(tv.ncid, tv.dimids[0], s.file);
    s.description = "variable \"" + var + "\" of a NetCDF file";
}

void read_record_series(const std::string& selector, const SeriesReadOptions& o, SeriesSource& s)
{
    s.format = SeriesFormat::records;
    if (!selector.empty())
        fail(s.file, "is a record file, which has no columns or variables: give it without \":" +
                         selector.substr(0, 80) + "\"");
    auto in = std::make_unique<RecordInput>();
    std::vector<float> row(MAX_POINTS);
    open_record_input(*in, s.file.c_str());
    RecordHeader h;
    while (read_pair(*in, h, row.data())) {
        if (h.w4 != 1)
            fail(s.file, "record pair " + std::to_string(s.values.size() + 1) + " holds " + std::to_string(h.w4) +
                             " values; a series file holds one point per pair");
        check_finite(s, row[0], s.values.size());
        s.values.push_back(marked_missing(o, row[0]) ? MISSING_VALUE : row[0]);
    }
    close_record_input(*in);
    s.description = "a record file of one point per pair";
}

} // namespace

SeriesArgument split_series_argument(const std::string& argument)
{
    if (exists(argument)) return {argument, ""};
    for (size_t colon = argument.rfind(':'); colon != std::string::npos && colon > 0;
         colon = argument.rfind(':', colon - 1)) {
        const std::string prefix = argument.substr(0, colon);
        if (exists(prefix)) return {prefix, argument.substr(colon + 1)};
    }
    const size_t first = argument.find(':');
    return {argument.substr(0, first), first == std::string::npos ? "" : argument.substr(first + 1)};
}

std::string read_series_text(const std::string& path)
{
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) fail_errno(path, errno);
    std::string text;
    char chunk[65536];
    size_t n;
    // The first bytes decide; a text file is then read to its end.
    while ((n = std::fread(chunk, 1, sizeof chunk, f.get())) > 0) {
        text.append(chunk, n);
        if (content_of(reinterpret_cast<const unsigned char*>(text.data()), text.size()) != Content::text &&
            text.size() >= 8)
            break;
        if (text.size() > MAX_TEXT_BYTES) fail(path, "is larger than 1 GiB: too large for a series");
    }
    if (std::ferror(f.get())) fail_errno(path, errno);
    return text;
}

SeriesSource read_series(const std::string& argument, const SeriesReadOptions& options)
{
    const SeriesArgument a = split_series_argument(argument);
    const std::string text = read_series_text(a.file);
    SeriesSource s;
    s.file = a.file;
    switch (content_of(reinterpret_cast<const unsigned char*>(text.data()), text.size())) {
    case Content::netcdf: read_netcdf_series(a.selector, options, s); break;
    case Content::records: read_record_series(a.selector, options, s); break;
    case Content::text: read_csv_series(text, a.file, a.selector, options, s); break;
    }
    return s;
}
