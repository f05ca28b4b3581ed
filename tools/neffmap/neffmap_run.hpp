// The whole of one neffmap run after its command line is read, in this order:
// check options and outputs → open inputs → series → tiles (read → chain →
// per-point statistics → write) → test over the map (FDR) → finish outputs →
// commit → summary.
#pragma once

#include <string>
#include <vector>

#include "run_options.hpp"

// Returns once OUT (and the picture and work files) are in place, with the
// notes for the user (one line each, such as coastline data not found) that
// main prints on standard error. Throws RunError (or std::bad_alloc, or
// Interrupted) otherwise, after every temporary file of the run is gone and
// every existing output is as it was.
std::vector<std::string> run_neffmap(const RunOptions& opt);
