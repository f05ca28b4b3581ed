// Stands in for the run frame's fatal path in the fuzz build only.
#include "fatal_stop.hpp"

#include <cstdio>
#include <cstring>

#include "run_frame.hpp"

void fatal(const char* file, const char* cause)
{
    FatalStop stop;
    std::snprintf(stop.file, sizeof stop.file, "%s", file);
    std::snprintf(stop.cause, sizeof stop.cause, "%s", cause);
    throw stop;
}

void fatal_errno(const char* file, int err) { fatal(file, std::strerror(err)); }
