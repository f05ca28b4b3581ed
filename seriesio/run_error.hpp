// The one kind of error the suite's library code reports: the file concerned and
// the cause. Library functions throw it and never print or exit; only a
// program's main turns it into the one line "PROGRAM: FILE: cause" on standard
// error and the fatal exit status.
#pragma once

#include <cstring>
#include <string>
#include <utility>

struct RunError {
    std::string file;  // the file (or option, or "standard input") the cause concerns
    std::string cause; // one line, no trailing full stop
};

[[noreturn]] inline void fail(std::string file, std::string cause)
{
    throw RunError{std::move(file), std::move(cause)};
}

// The system's own words for a failed call (its errno value err). Take the
// number before anything else runs, which could change errno.
[[noreturn]] inline void fail_errno(std::string file, int err) { fail(std::move(file), std::strerror(err)); }
