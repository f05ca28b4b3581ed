// The console dialogue and the run frame every program goes through: ask for file
// names, open them, and end either normally (status 0) or on the one fatal path.
//
// The dialogue, the opening and the normal end throw RunError like the record
// functions (below, "fatal" says that the run then ends on the fatal path); a
// program's main catches it and hands it to fatal():
//
//     int main()
//     {
//         try {
//             ...
//             finish_run();
//         } catch (const RunError& e) {
//             fatal(e);
//         } catch (const std::bad_alloc&) {
//             fatal_out_of_memory();
//         }
//     }
#pragma once

#include <string>

#include "run_error.hpp"
#include "series_file.hpp"

// Writes " <prompt>\n" to standard output, flushes it, and reads one line from
// standard input; a carriage return ending it and trailing blanks are dropped.
// End of standard input before any character of the answer is fatal, and so is an
// answer with anything but blanks beyond `width` characters. Closed standard
// descriptors are first filled with /dev/null, so no file opened later takes one.
std::string ask_file_name(const char* prompt, int width);

// Opens an existing file for reading only. An absent file is fatal, as is a file
// already open in this run, by whatever path.
SeriesFile& open_input(const std::string& name);

// Opens (creating if absent, never truncating) the named file for writing only.
// An existing file that may not be written is held open all the same, and the
// refusal is fatal only when the run first writes to it. A file already open in
// this run is fatal.
SeriesFile& open_output(const std::string& name);


// The fatal path: one line on standard error naming the file and the cause, then a
// non-zero exit status. Output already handed to the system stays where it is,
// and output still buffered for the run's files is handed over first.
[[noreturn]] void fatal(const char* file, const char* cause);
[[noreturn]] void fatal_errno(const char* file, int err);
[[noreturn]] void fatal(const RunError& e);
// For std::bad_alloc: working storage that cannot be reserved.
[[noreturn]] void fatal_out_of_memory();

// Normal end: flushes every output (a write that fails here is still fatal) and
// exits with status 0.
[[noreturn]] void finish_run();

inline constexpr int FATAL_EXIT_STATUS = 2;
