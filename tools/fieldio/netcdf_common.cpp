#include "netcdf_common.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "netcdf4_probe.hpp"
#include "netcdf_classic_check.hpp"
#include "run_error.hpp"

void nc_check(int status, const std::string& path, const char* doing)
{
    if (status == NC_NOERR) return;
    fail(path, std::string(doing) + ": " + nc_strerror(status));
}

void nc_write_check(int status, const std::string& path, const char* doing)
{
    if (status == NC_NOERR) return;
    // The library passes the write's errno through untouched.
    const int err = errno;
    if (err == ENOSPC || err == EFBIG || err == EDQUOT || err == EIO || err == EROFS) fail(path, std::strerror(err));
    nc_check(status, path, doing);
}

TimeVariable::TimeVariable(TimeVariable&& other) noexcept { *this = std::move(other); }

TimeVariable& TimeVariable::operator=(TimeVariable&& other) noexcept
{
    if (this == &other) return *this;
    if (ncid >= 0) nc_close(ncid);
    ncid = std::exchange(other.ncid, -1);
    varid = other.varid;
    type = other.type;
    rank = other.rank;
    std::memcpy(dimids, other.dimids, sizeof dimids);
    std::memcpy(sizes, other.sizes, sizeof sizes);
    std::memcpy(dim_names, other.dim_names, sizeof dim_names);
    points = other.points;
    columns = other.columns;
    rows = other.rows;
    return *this;
}

TimeVariable::~TimeVariable()
{
    if (ncid >= 0) nc_close(ncid);
}

bool is_numeric(nc_type t)
{
    switch (t) {
    case NC_BYTE: case NC_UBYTE: case NC_SHORT: case NC_USHORT: case NC_INT: case NC_UINT:
    case NC_INT64: case NC_UINT64: case NC_FLOAT: case NC_DOUBLE:
        return true;
    default:
        return false;
    }
}

std::string text_attribute(int ncid, int varid, const char* name)
{
    nc_type t;
    size_t len;
    if (nc_inq_att(ncid, varid, name, &t, &len) != NC_NOERR || t != NC_CHAR || len > 4096) return "";
    std::string s(len, '\0');
    if (nc_get_att_text(ncid, varid, name, s.data()) != NC_NOERR) return "";
    return s.substr(0, s.find('\0'));
}

int coordinate_variable(int ncid, int dimid)
{
    char name[NC_MAX_NAME + 1];
    int varid, ndims, dims[NC_MAX_VAR_DIMS];
    if (nc_inq_dimname(ncid, dimid, name) != NC_NOERR) return -1;
    if (nc_inq_varid(ncid, name, &varid) != NC_NOERR) return -1;
    if (nc_inq_varndims(ncid, varid, &ndims) != NC_NOERR || ndims != 1) return -1;
    if (nc_inq_vardimid(ncid, varid, dims) != NC_NOERR || dims[0] != dimid) return -1;
    return varid;
}

namespace {

int32_t clamped_size(size_t n) { return n > size_t(INT32_MAX) ? INT32_MAX : int32_t(n); }

bool is_time_dimension(int ncid, int dimid, const char* name)
{
    int nunlim = 0, unlim[NC_MAX_DIMS];
    if (nc_inq_unlimdims(ncid, &nunlim, unlim) == NC_NOERR)
        for (int i = 0; i < nunlim; ++i)
            if (unlim[i] == dimid) return true;
    if (std::strcmp(name, "time") == 0 || std::strcmp(name, "t") == 0) return true;
    const int cv = coordinate_variable(ncid, dimid);
    if (cv < 0) return false;
    const std::string axis = text_attribute(ncid, cv, "axis");
    return axis == "T" || axis == "t" || text_attribute(ncid, cv, "units").find(" since ") != std::string::npos;
}

} // namespace

TimeVariable open_time_variable(const std::string& path_text, const std::string& var_text)
{
    const char* path = path_text.c_str();
    const char* var = var_text.c_str();
    TimeVariable tv;
    check_classic_netcdf(path_text);
    probe_netcdf4_input(path_text, var_text);
    nc_check(nc_open(path, NC_NOWRITE, &tv.ncid), path, "cannot open as NetCDF");
    if (nc_inq_varid(tv.ncid, var, &tv.varid) != NC_NOERR) {
        std::string names;
        int nvars = 0;
        nc_inq_nvars(tv.ncid, &nvars);
        for (int v = 0; v < nvars && v < 40; ++v) {
            char n[NC_MAX_NAME + 1];
            if (nc_inq_varname(tv.ncid, v, n) != NC_NOERR) continue;
            names += names.empty() ? "" : ", ";
            names += n;
        }
        fail(path, "no variable named \"" + std::string(var) + "\" (variables: " + names + ")");
    }
    nc_check(nc_inq_vartype(tv.ncid, tv.varid, &tv.type), path, var);
    if (!is_numeric(tv.type)) {
        fail(path, "variable \"" + std::string(var) + "\" does not hold numbers");
    }
    nc_check(nc_inq_varndims(tv.ncid, tv.varid, &tv.rank), path, var);
    if (tv.rank < 1 || tv.rank > NC_MAX_RANK) {
        fail(path, "variable \"" + std::string(var) + "\" has " + std::to_string(tv.rank) +
                       " dimensions; it needs time first, then up to " + std::to_string(NC_MAX_RANK - 1) +
                       " grid dimensions");
    }
    nc_check(nc_inq_vardimid(tv.ncid, tv.varid, tv.dimids), path, var);
    for (int d = 0; d < tv.rank; ++d) {
        nc_check(nc_inq_dim(tv.ncid, tv.dimids[d], tv.dim_names[d], &tv.sizes[d]), path, var);
        if (d > 0) {
            // Sizes are capped before they are multiplied, so the product cannot overflow.
            const int64_t s = tv.sizes[d] > size_t(1) << 30 ? int64_t(1) << 30 : int64_t(tv.sizes[d]);
            tv.points = tv.points > (int64_t(1) << 31) ? tv.points : tv.points * s;
        }
    }
    if (!is_time_dimension(tv.ncid, tv.dimids[0], tv.dim_names[0])) {
        fail(path, "variable \"" + std::string(var) + "\" has dimensions (" + dimension_list(tv) +
                       "), and the first, \"" + tv.dim_names[0] +
                       "\", is not time (not unlimited, not named time, no time units or axis T); "
                       "the variable must have time as its first dimension");
    }
    if (tv.rank >= 2) tv.columns = clamped_size(tv.sizes[tv.rank - 1]);
    if (tv.rank >= 3) tv.rows = clamped_size(tv.sizes[tv.rank - 2]);
    return tv;
}

std::string dimension_list(const TimeVariable& tv)
{
    std::string s;
    for (int d = 0; d < tv.rank; ++d) {
        if (d) s += ", ";
        s += tv.dim_names[d];
        s += ' ';
        s += std::to_string(tv.sizes[d]);
    }
    return s;
}

bool coordinate_decreases(int ncid, int dimid, const std::string& path)
{
    const int cv = coordinate_variable(ncid, dimid);
    if (cv < 0) return false;
    nc_type t;
    nc_check(nc_inq_vartype(ncid, cv, &t), path, "coordinate variable");
    if (!is_numeric(t)) return false;
    size_t n;
    nc_check(nc_inq_dimlen(ncid, dimid, &n), path, "coordinate dimension");
    if (n < 2) return false;
    double first, last;
    const size_t i0 = 0, i1 = n - 1;
    nc_check(nc_get_var1_double(ncid, cv, &i0, &first), path, "reading a coordinate");
    nc_check(nc_get_var1_double(ncid, cv, &i1, &last), path, "reading a coordinate");
    return last < first;
}

bool read_coordinate(int ncid, int dimid, const std::string& path, double* out, size_t n)
{
    const int cv = coordinate_variable(ncid, dimid);
    if (cv < 0) return false;
    nc_type t;
    size_t len;
    nc_check(nc_inq_vartype(ncid, cv, &t), path, "coordinate variable");
    nc_check(nc_inq_dimlen(ncid, dimid, &len), path, "coordinate dimension");
    if (!is_numeric(t) || len != n) return false;
    nc_check(nc_get_var_double(ncid, cv, out), path, "reading a coordinate");
    return true;
}

Geography coordinate_geography(int ncid, int dimid)
{
    const int cv = coordinate_variable(ncid, dimid);
    if (cv < 0) return Geography::other;
    const std::string standard = text_attribute(ncid, cv, "standard_name");
    if (standard == "latitude") return Geography::latitude;
    if (standard == "longitude") return Geography::longitude;
    // CF spells degrees north as degrees_north, degree_north, degree_N, degrees_N,
    // degreeN or degreesN; east likewise.
    const std::string units = text_attribute(ncid, cv, "units");
    const size_t after = units.find_first_not_of("degres");
    if (units.rfind("degree", 0) != 0 || after == std::string::npos) return Geography::other;
    const std::string rest = units.substr(after);
    if (rest == "_north" || rest == "_N" || rest == "N") return Geography::latitude;
    if (rest == "_east" || rest == "_E" || rest == "E") return Geography::longitude;
    return Geography::other;
}
