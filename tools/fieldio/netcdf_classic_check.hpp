// A look at a classic NetCDF file (CDF-1, CDF-2 or CDF-5) before libnetcdf opens
// it. libnetcdf reads the part of a cut-short file that is not there as zeros,
// and nc_open itself crashes on some damaged headers (a dimension or variable
// count larger than the file could hold), so both are refused here first.
#pragma once

#include <cstdint>
#include <string>

// Throws RunError, naming the file, when path is a classic NetCDF file whose header is
// damaged or whose variables' data run past the end of the file. Anything else
// (a netCDF-4 file, a file that is not NetCDF, a pipe) passes untouched and is
// left to libnetcdf.
void check_classic_netcdf(const std::string& path);

// The bytes a classic file's data need, from its first `bytes` bytes (the whole
// header at least): the end of the variable that ends last. Counts are checked
// against file_bytes, the length of the whole file. `why` (160 bytes or more)
// receives the reason for `damaged`; `incomplete` asks for more of the file.
enum class ClassicHeader { ok, damaged, incomplete };
ClassicHeader classic_data_end(const unsigned char* start, uint64_t bytes, uint64_t file_bytes, uint64_t& end,
                               char* why);
