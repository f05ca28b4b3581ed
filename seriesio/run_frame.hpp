// The console dialogue and the run frame every program goes through: ask for file
// names, open them, and end either normally (status 0) or on the one fatal path.
#pragma once

#include <string>

#include "series_file.hpp"

// Writes " <prompt>\n" to standard output, flushes it, and reads one line from
// standard input: its first `width` characters, trailing blanks removed. End of
// standard input before any character of the answer is fatal.
std::string ask_file_name(const char* prompt, int width);

// Opens (creating if absent, never truncating) the named file for reading and
// writing, or for reading only where permissions or a read-only file system forbid
// writing. A file already open in this run, by whatever path, is fatal.
SeriesFile& open_series_file(const std::string& name);

// The fatal path: one line on standard error naming the file and the cause, then a
// non-zero exit status. Output already handed to the system stays where it is.
[[noreturn]] void fatal(const char* file, const char* cause);
[[noreturn]] void fatal_errno(const char* file, int err);

// Normal end: flushes every output (a write that fails here is still fatal) and
// exits with status 0.
[[noreturn]] void finish_run();

inline constexpr int FATAL_EXIT_STATUS = 2;
