// The whole of one neffmap run after its command line is read, in this order:
// check options and outputs → open inputs → series → tiles (read → chain →
// per-point statistics → write) → test over the map (FDR) → finish outputs →
// commit → summary.
#pragma once

#include "run_options.hpp"

// Returns once OUT (and the picture and work files) are in place. Throws
// RunError (or std::bad_alloc, or Interrupted) otherwise, after every temporary
// file of the run is gone and every existing output is as it was.
void run_neffmap(const RunOptions& opt);
