// A first look at a netCDF-4 (HDF5) input in a child process with a time limit.
// libhdf5 crashes on some damaged files (a bit flipped in a datatype message)
// and loops for ever on others (in a global heap): neither may end a run by a
// signal or leave it waiting. The child opens the file, reads its header
// (every dimension, variable, type and attribute) and the first and last steps
// of the variable the run will read, with the coordinates of its dimensions;
// the parent waits at most the time limit. The rest of the file is read by the
// run itself: damage there is not caught here.
#pragma once

#include <string>

// Throws RunError naming the file when the child crashes or is still at work
// when the time is up (it is then killed). Classic files, other files and
// anything that is not a regular file pass untouched, and so does any error
// netCDF reports in the child: the run's own reading reports it.
void probe_netcdf4_input(const std::string& path, const std::string& var);

// The time limit in seconds: FIELDNEFF_OPEN_TIMEOUT when it holds a positive
// number, else 30.
double netcdf4_probe_seconds();
