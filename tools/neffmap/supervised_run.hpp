// The run's work happens in a child process heading a process group of its own,
// with the chain's programs beneath it. Whatever way the work ends (a fatal error
// in neffmap or in a tile, a crash, an interrupt), the parent ends every process
// of the group and removes the work directory unless it is to be kept. Outputs
// are written through output_file at the very end, which keeps a failed run from
// leaving a partial one.
#pragma once

#include <sys/types.h>

#include "run_options.hpp"

// Like fork: 0 in the worker, the worker's id in the supervisor.
pid_t start_worker();

// Waits for the worker, cleans up, and returns the exit status for neffmap.
int supervise(pid_t worker, const RunPlaces& places);
