// NetCDF outputs: one record pair of a result as a NetCDF variable (fieldtool
// to-netcdf), and what every NetCDF output of the tools shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "netcdf_common.hpp"
#include "output_file.hpp"
#include "series_file.hpp"

// An ordinary netCDF-4 file created by netCDF-C on an output's temporary path
// (so other tools can later open it for writing too). A file that goes before
// close_netcdf is closed as it is; the OutputFile then removes it.
struct NetcdfWriter {
    int ncid = -1;

    NetcdfWriter() = default;
    NetcdfWriter(const NetcdfWriter&) = delete;
    NetcdfWriter& operator=(const NetcdfWriter&) = delete;
    ~NetcdfWriter();
};
void create_netcdf(NetcdfWriter& nc, const OutputFile& out);
void close_netcdf(NetcdfWriter& nc, const OutputFile& out);

struct NetcdfOutputOptions {
    int32_t record = 1;     // which record pair, 1-based
    std::string like_path;  // template file and variable, or empty
    std::string like_var;
    std::string name;       // variable name, or empty for the default
};

// Points holding MISSING_VALUE are written as the variable's _FillValue
// (netCDF's default float fill, NC_FILL_FLOAT); NaN and infinities stay as they are.
void write_result_netcdf(const std::string& record_path, const std::string& nc_path, const NetcdfOutputOptions& opt);

// The grid dimensions after time of a time-first variable, and their coordinate
// variables with every attribute, defined in an output in define mode; the
// coordinates' values are copied once the output has left define mode. A
// dimension named like one of the output's own variables (`taken`: a pressure
// level "p" in a map that has its p-values as "p") is renamed NAME_coord
// (NAME_coord2, ... when that is in use too), with its coordinate variable, so
// that the output's variables keep their names in every file.
// Refuses a template variable whose grid is not the record's: W4 points in W3
// rows of W2 columns.
void check_like_grid(const TimeVariable& tv, const std::string& like_path, const std::string& like_var,
                     const RecordHeader& h);

struct OutputGrid {
    int rank = 0;
    int dimids[NC_MAX_RANK] = {};
    int coord_from[NC_MAX_RANK] = {}; // template coordinate variable, or -1
    int coord_to[NC_MAX_RANK] = {};
    std::string names[NC_MAX_RANK];   // each dimension's name in the output (renamed where it differs)
};
void define_grid_like(const TimeVariable& tv, const std::string& like_path, int out, const std::string& out_path,
                      OutputGrid& g, const std::vector<std::string>& taken = {});
void copy_grid_coordinates(const TimeVariable& tv, const std::string& like_path, const OutputGrid& g, int out,
                           const std::string& out_path);
