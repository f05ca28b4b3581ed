#include "netcdf_output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netcdf.h>
#include <netcdf_mem.h>
#include <string>

#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "record_access.hpp"
#include "run_frame.hpp"

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

void copy_attributes(int from_nc, int from_var, int to_nc, int to_var, const char* out_path)
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
void open_like(const NetcdfOutputOptions& opt, const RecordHeader& h, TimeVariable& tv)
{
    open_time_variable(opt.like_path, opt.like_var, tv);
    if (tv.rank < 2) {
        const std::string cause = "variable \"" + std::string(opt.like_var) +
                                  "\" has only a time dimension, so there is no grid to copy";
        fatal(opt.like_path, cause.c_str());
    }
    if (tv.points != h.w4) {
        const std::string cause = "the grid of \"" + std::string(opt.like_var) + "\" (" + dimension_list(tv) +
                                  ") has " + std::to_string(tv.points) + " points, the record has " +
                                  std::to_string(h.w4);
        fatal(opt.like_path, cause.c_str());
    }
    if (tv.columns != h.w2 || tv.rows != h.w3) {
        const std::string cause = "the grid of \"" + std::string(opt.like_var) + "\" (" + dimension_list(tv) +
                                  ") is not the record's " + std::to_string(h.w3) + " rows × " +
                                  std::to_string(h.w2) + " columns";
        fatal(opt.like_path, cause.c_str());
    }
}

} // namespace

void define_grid_like(const TimeVariable& tv, const char* like_path, int out, const char* out_path, OutputGrid& g)
{
    g.rank = tv.rank - 1;
    for (int d = 0; d < g.rank; ++d) {
        const char* name = tv.dim_names[d + 1];
        nc_check(nc_def_dim(out, name, tv.sizes[d + 1], &g.dimids[d]), out_path, "defining a dimension");
        g.coord_from[d] = template_coordinate(tv.ncid, tv.dimids[d + 1], name);
        g.coord_to[d] = -1;
        if (g.coord_from[d] < 0) continue;
        nc_type t;
        nc_check(nc_inq_vartype(tv.ncid, g.coord_from[d], &t), like_path, name);
        if (t == NC_STRING) {
            std::fprintf(stderr, "%s: %s: note: coordinate \"%s\" holds strings and is not copied\n",
                         program_invocation_short_name, like_path, name);
            g.coord_from[d] = -1;
            continue;
        }
        nc_check(nc_def_var(out, name, t, 1, &g.dimids[d], &g.coord_to[d]), out_path, "defining a coordinate");
        copy_attributes(tv.ncid, g.coord_from[d], out, g.coord_to[d], out_path);
    }
}

void copy_grid_coordinates(const TimeVariable& tv, const char* like_path, const OutputGrid& g, int out,
                      const char* out_path)
{
    for (int d = 0; d < g.rank; ++d) {
        if (g.coord_from[d] < 0) continue;
        nc_type t;
        size_t size;
        nc_check(nc_inq_vartype(tv.ncid, g.coord_from[d], &t), out_path, "copying a coordinate");
        nc_check(nc_inq_type(tv.ncid, t, nullptr, &size), out_path, "copying a coordinate");
        void* buf = std::malloc(size * (tv.sizes[d + 1] ? tv.sizes[d + 1] : 1));
        if (!buf) fatal(out_path, "cannot reserve memory for a coordinate");
        nc_check(nc_get_var(tv.ncid, g.coord_from[d], buf), like_path, "reading a coordinate");
        nc_check(nc_put_var(out, g.coord_to[d], buf), out_path, "writing a coordinate");
        std::free(buf);
    }
}

void write_result_netcdf(const char* record_path, const char* nc_path, const NetcdfOutputOptions& opt)
{
    const char* inputs[] = {record_path, opt.like_path};
    refuse_output_over_inputs(nc_path, inputs, 2);
    static RecordInput in;
    static float values[MAX_POINTS];
    RecordHeader h;
    open_record_input(in, record_path);
    read_pair_number(in, opt.record, h, values);
    if (h.w4 == 0) fatal(record_path, "the record pair holds no values");

    static TimeVariable tv;
    if (opt.like_path) open_like(opt, h, tv);
    // The file is built in memory and written by output_file only when complete,
    // so a failure on the way (a bad variable name, say) leaves the output as it was.
    int out;
    nc_check(nc_create_mem(nc_path, NC_NETCDF4, 64 * 1024, &out), nc_path, "cannot create");
    OutputGrid g;
    if (opt.like_path) {
        define_grid_like(tv, opt.like_path, out, nc_path, g);
    } else if (h.w2 > 0 && h.w3 > 0 && int64_t(h.w2) * h.w3 == h.w4) {
        g.rank = 2;
        nc_check(nc_def_dim(out, "y", size_t(h.w3), &g.dimids[0]), nc_path, "defining a dimension");
        nc_check(nc_def_dim(out, "x", size_t(h.w2), &g.dimids[1]), nc_path, "defining a dimension");
    } else {
        g.rank = 1;
        nc_check(nc_def_dim(out, "point", size_t(h.w4), &g.dimids[0]), nc_path, "defining a dimension");
    }

    const bool neff = h.w1 == NEFF_RECORD_TAG;
    const char* name = opt.name ? opt.name : neff ? "neff" : "value";
    int var;
    nc_check(nc_def_var(out, name, NC_FLOAT, g.rank, g.dimids, &var), nc_path, "defining the variable");
    const float fill = NC_FILL_FLOAT;
    nc_check(nc_put_att_float(out, var, "_FillValue", NC_FLOAT, 1, &fill), nc_path, "writing _FillValue");
    if (neff) {
        const char* long_name = "effective sample size";
        nc_check(nc_put_att_text(out, var, "long_name", std::strlen(long_name), long_name), nc_path, "long_name");
    }
    const int words[4] = {h.w1, h.w2, h.w3, h.w4};
    nc_check(nc_put_att_int(out, var, "record_header", NC_INT, 4, words), nc_path, "writing record_header");
    const std::string source = std::string("fieldtool to-netcdf, record pair ") + std::to_string(opt.record) +
                               " of " + record_path;
    nc_check(nc_put_att_text(out, NC_GLOBAL, "source", source.size(), source.c_str()), nc_path, "writing source");
    nc_check(nc_enddef(out), nc_path, "ending definitions");

    if (opt.like_path) copy_grid_coordinates(tv, opt.like_path, g, out, nc_path);
    for (int32_t p = 0; p < h.w4; ++p)
        if (values[p] == MISSING_VALUE) values[p] = fill;
    nc_check(nc_put_var_float(out, var, values), nc_path, "writing the values");
    NC_memio image{};
    nc_check(nc_close_memio(out, &image), nc_path, "closing");
    if (opt.like_path) nc_close(tv.ncid);

    static OutputFile file;
    begin_output_file(file, nc_path);
    write_output_file(file, image.memory, image.size);
    commit_output_file(file);
    std::free(image.memory);
}
