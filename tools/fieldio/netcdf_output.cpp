#include "netcdf_output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netcdf.h>
#include <string>
#include <vector>

#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_error.hpp"

namespace {

// The template's coordinate variable for a dimension: a 1-D variable of the
// dimension's name over that dimension, or -1.
int template_coordinate(int ncid, int dimid, const char* name)
{
    int varid, ndims, dim;
    if (nc_inq_varid(ncid, name, &varid) != NC_NOERR) return -1;
    if (nc_inq_varndims(ncid, varid, &ndims) != NC_NOERR || ndims != 1) return -1;
    if (nc_inq_vardimid(ncid, varid, &dim) != NC_NOERR || dim != dimid) return -1;
    return varid;
}

void copy_attributes(int from_nc, int from_var, int to_nc, int to_var, const std::string& out_path)
{
    int natts = 0;
    nc_check(nc_inq_varnatts(from_nc, from_var, &natts), out_path, "reading template attributes");
    for (int a = 0; a < natts; ++a) {
        char name[NC_MAX_NAME + 1];
        nc_check(nc_inq_attname(from_nc, from_var, a, name), out_path, "reading template attributes");
        nc_check(nc_copy_att(from_nc, from_var, name, to_nc, to_var), out_path, "copying an attribute");
    }
}

// The template must hold the record's grid as the record describes it: W3 rows
// of W2 columns, W4 points in all.
TimeVariable open_like(const NetcdfOutputOptions& opt, const RecordHeader& h)
{
    TimeVariable tv = open_time_variable(opt.like_path, opt.like_var);
    if (tv.rank < 2)
        fail(opt.like_path, "variable \"" + opt.like_var + "\" has only a time dimension, so there is no grid to copy");
    check_like_grid(tv, opt.like_path, opt.like_var, h);
    return tv;
}

} // namespace

void check_like_grid(const TimeVariable& tv, const std::string& like_path, const std::string& like_var,
                     const RecordHeader& h)
{
    if (tv.points != h.w4)
        fail(like_path, "the grid of \"" + like_var + "\" (" + dimension_list(tv) + ") has " +
                            std::to_string(tv.points) + " points, the record has " + std::to_string(h.w4));
    if (tv.columns != h.w2 || tv.rows != h.w3)
        fail(like_path, "the grid of \"" + like_var + "\" (" + dimension_list(tv) + ") is not the record's " +
                            std::to_string(h.w3) + " rows × " + std::to_string(h.w2) + " columns");
}

NetcdfWriter::~NetcdfWriter()
{
    // nc_close, not nc_abort: after a refused write (libnetcdf 4.9.0, HDF5 1.10)
    // nc_abort crashes, while nc_close only reports the failure again. The
    // OutputFile removes the file either way.
    if (ncid >= 0) nc_close(ncid);
}

void create_netcdf(NetcdfWriter& nc, const OutputFile& out)
{
    nc_write_check(nc_create(out.temp.c_str(), NC_CLOBBER | NC_NETCDF4, &nc.ncid), out.path, "cannot create");
}

void close_netcdf(NetcdfWriter& nc, const OutputFile& out)
{
    const int id = nc.ncid;
    nc.ncid = -1;
    nc_write_check(nc_close(id), out.path, "closing");
}

void define_grid_like(const TimeVariable& tv, const std::string& like_path, int out, const std::string& out_path,
                      OutputGrid& g, const std::vector<std::string>& taken)
{
    g.rank = tv.rank - 1;
    const auto in_use = [&](const std::string& n, int upto) {
        for (const std::string& t : taken)
            if (t == n) return true;
        for (int e = 1; e < tv.rank; ++e)
            if (n == tv.dim_names[e]) return true;
        for (int e = 0; e < upto; ++e)
            if (n == g.names[e]) return true;
        return false;
    };
    for (int d = 0; d < g.rank; ++d) {
        const char* name = tv.dim_names[d + 1];
        g.names[d] = name;
        bool clashes = false;
        for (const std::string& t : taken) clashes = clashes || t == name;
        if (clashes) {
            g.names[d] = std::string(name) + "_coord";
            for (int k = 2; in_use(g.names[d], d); ++k) g.names[d] = std::string(name) + "_coord" + std::to_string(k);
        }
        nc_check(nc_def_dim(out, g.names[d].c_str(), tv.sizes[d + 1], &g.dimids[d]), out_path, "defining a dimension");
        g.coord_from[d] = template_coordinate(tv.ncid, tv.dimids[d + 1], name);
        g.coord_to[d] = -1;
        if (g.coord_from[d] < 0) continue;
        nc_type t;
        nc_check(nc_inq_vartype(tv.ncid, g.coord_from[d], &t), like_path, name);
        if (t == NC_STRING) {
            std::fprintf(stderr, "%s: %s: note: coordinate \"%s\" holds strings and is not copied\n",
                         program_invocation_short_name, like_path.c_str(), name);
            g.coord_from[d] = -1;
            continue;
        }
        nc_check(nc_def_var(out, g.names[d].c_str(), t, 1, &g.dimids[d], &g.coord_to[d]), out_path,
                 "defining a coordinate");
        copy_attributes(tv.ncid, g.coord_from[d], out, g.coord_to[d], out_path);
    }
}

void copy_grid_coordinates(const TimeVariable& tv, const std::string& like_path, const OutputGrid& g, int out,
                           const std::string& out_path)
{
    for (int d = 0; d < g.rank; ++d) {
        if (g.coord_from[d] < 0) continue;
        nc_type t;
        size_t size;
        nc_check(nc_inq_vartype(tv.ncid, g.coord_from[d], &t), out_path, "copying a coordinate");
        nc_check(nc_inq_type(tv.ncid, t, nullptr, &size), out_path, "copying a coordinate");
        std::vector<unsigned char> buf(size * (tv.sizes[d + 1] ? tv.sizes[d + 1] : 1));
        nc_check(nc_get_var(tv.ncid, g.coord_from[d], buf.data()), like_path, "reading a coordinate");
        nc_write_check(nc_put_var(out, g.coord_to[d], buf.data()), out_path, "writing a coordinate");
    }
}

void write_result_netcdf(const std::string& record_path, const std::string& nc_path, const NetcdfOutputOptions& opt)
{
    const std::string inputs[] = {record_path, opt.like_path};
    refuse_output_over_inputs(nc_path, inputs, 2);
    RecordInput in;
    std::vector<float> values(MAX_POINTS);
    RecordHeader h;
    open_record_input(in, record_path);
    read_pair_number(in, opt.record, h, values.data());
    if (h.w4 == 0) fail(record_path, "the record pair holds no values");

    TimeVariable tv;
    if (!opt.like_path.empty()) tv = open_like(opt, h);
    // Written under a temporary name and renamed when complete, so a failure on
    // the way (a bad variable name, say) leaves the output as it was.
    OutputFile file;
    begin_output_file(file, nc_path);
    NetcdfWriter nc;
    create_netcdf(nc, file);
    const int out = nc.ncid;
    OutputGrid g;
    const bool neff = h.w1 == NEFF_RECORD_TAG;
    const std::string name = !opt.name.empty() ? opt.name : neff ? "neff" : "value";
    if (!opt.like_path.empty()) {
        define_grid_like(tv, opt.like_path, out, nc_path, g, {name});
    } else if (h.w2 > 0 && h.w3 > 0 && int64_t(h.w2) * h.w3 == h.w4) {
        g.rank = 2;
        nc_check(nc_def_dim(out, "y", size_t(h.w3), &g.dimids[0]), nc_path, "defining a dimension");
        nc_check(nc_def_dim(out, "x", size_t(h.w2), &g.dimids[1]), nc_path, "defining a dimension");
    } else {
        g.rank = 1;
        nc_check(nc_def_dim(out, "point", size_t(h.w4), &g.dimids[0]), nc_path, "defining a dimension");
    }

    int var;
    nc_check(nc_def_var(out, name.c_str(), NC_FLOAT, g.rank, g.dimids, &var), nc_path, "defining the variable");
    const float fill = NC_FILL_FLOAT;
    nc_check(nc_put_att_float(out, var, "_FillValue", NC_FLOAT, 1, &fill), nc_path, "writing _FillValue");
    if (neff) {
        const char* long_name = "effective sample size";
        nc_check(nc_put_att_text(out, var, "long_name", std::strlen(long_name), long_name), nc_path, "long_name");
    }
    const int words[4] = {h.w1, h.w2, h.w3, h.w4};
    nc_check(nc_put_att_int(out, var, "record_header", NC_INT, 4, words), nc_path, "writing record_header");
    const std::string source = "fieldtool to-netcdf, record pair " + std::to_string(opt.record) + " of " + record_path;
    nc_check(nc_put_att_text(out, NC_GLOBAL, "source", source.size(), source.c_str()), nc_path, "writing source");
    nc_write_check(nc_enddef(out), nc_path, "ending definitions");

    if (!opt.like_path.empty()) copy_grid_coordinates(tv, opt.like_path, g, out, nc_path);
    for (int32_t p = 0; p < h.w4; ++p)
        if (values[size_t(p)] == MISSING_VALUE) values[size_t(p)] = fill;
    nc_write_check(nc_put_var_float(out, var, values.data()), nc_path, "writing the values");
    close_netcdf(nc, file);
    commit_output_file(file);
}
