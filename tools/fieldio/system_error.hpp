// The system's own words for a failed call, as a RunError naming the file.
#pragma once

#include <cstring>
#include <string>
#include <utility>

#include "run_error.hpp"

[[noreturn]] inline void fail_errno(std::string file, int err) { fail(std::move(file), std::strerror(err)); }
