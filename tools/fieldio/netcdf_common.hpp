// What from-netcdf, to-netcdf --like and png --like need to know about a variable
// whose first dimension is time: its dimensions, and the checks that go with them.
#pragma once

#include <cstdint>
#include <netcdf.h>
#include <string>

inline constexpr int NC_MAX_RANK = 8;

// Any netCDF error throws RunError naming the file, what was being done and
// netCDF's own text.
void nc_check(int status, const std::string& path, const char* doing);

// The same for a file being written: where the system refused a write (a full
// disk, a file size limit), its cause is named rather than netCDF's.
void nc_write_check(int status, const std::string& path, const char* doing);

// A variable of an open NetCDF file, which it closes when it goes: a run that
// fails on the way leaves no file open.
struct TimeVariable {
    int ncid = -1;
    int varid = -1;
    nc_type type = NC_NAT;
    int rank = 0;
    int dimids[NC_MAX_RANK] = {};
    size_t sizes[NC_MAX_RANK] = {};
    char dim_names[NC_MAX_RANK][NC_MAX_NAME + 1] = {};
    int64_t points = 1; // product of the sizes after the time dimension
    int32_t columns = 1; // size of the last dimension after time (1 if there is none)
    int32_t rows = 1;    // size of the one before it (1 if there is none)

    TimeVariable() = default;
    TimeVariable(TimeVariable&& other) noexcept;
    TimeVariable& operator=(TimeVariable&& other) noexcept;
    TimeVariable(const TimeVariable&) = delete;
    TimeVariable& operator=(const TimeVariable&) = delete;
    ~TimeVariable();
};

// Opens `path` read-only, after check_classic_netcdf, and finds `var`: numeric, of rank 1 … NC_MAX_RANK, whose
// first dimension is time (the unlimited dimension, named time, or with a
// coordinate variable whose units say "since" or whose axis is T). Throws otherwise.
TimeVariable open_time_variable(const std::string& path, const std::string& var);

// "time 12, lat 3, lon 4", for messages.
std::string dimension_list(const TimeVariable& tv);

// Whether a netCDF type holds numbers (the integer and floating types).
bool is_numeric(nc_type t);

// The coordinate variable of dimension dimid (the 1-D variable of the same name
// along it), or -1 when there is none.
int coordinate_variable(int ncid, int dimid);

// A text attribute of a variable (NC_GLOBAL for the file's), up to its first
// NUL; "" when it is absent, not text or longer than 4096 characters.
std::string text_attribute(int ncid, int varid, const char* name);

// Whether the 1-D coordinate variable of dimension `dim` (a variable of the same
// name) runs from larger to smaller values. False when there is none.
bool coordinate_decreases(int ncid, int dimid, const std::string& path);

// The n values of the 1-D coordinate variable of dimension `dim`. False, leaving
// out untouched, when there is none, it is not numeric or its length is not n.
bool read_coordinate(int ncid, int dimid, const std::string& path, double* out, size_t n);

enum class Geography { other, latitude, longitude };

// Whether the coordinate variable of dimension `dim` holds latitudes or
// longitudes, by its units (degrees_north, degrees_east and their variants) or
// standard_name.
Geography coordinate_geography(int ncid, int dimid);
