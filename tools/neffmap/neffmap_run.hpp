// The whole of one neffmap run after its command line is read: checks, the
// series' and tiles' passage through the chain, the outputs and the summary.
#pragma once

#include "run_options.hpp"

// Returns 0 when OUT (and the picture) are in place; every failure is fatal.
int run_neffmap(const RunOptions& opt, const RunPlaces& places);
