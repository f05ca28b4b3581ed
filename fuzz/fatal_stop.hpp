// The fuzz build's fatal path. The reader under test must survive every input, so
// instead of ending the process fatal() throws FatalStop back to the fuzz target,
// which checks the diagnostic and goes on with the next input.
#pragma once

struct FatalStop {
    char file[96];
    char cause[160];
};
