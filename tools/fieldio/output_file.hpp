// Writing a tool's output so that a failed run leaves every existing path as it
// was: the bytes go to a new temporary file in the output's own directory, which
// takes the output's name by rename only once everything is written. A run that
// fails removes that temporary file and nothing else.
//
// Use:
//     refuse_output_over_inputs(out_path, inputs, n);  // before anything is written
//     OutputFile out;
//     begin_output_file(out, out_path);
//     write_output_file(out, bytes, size);              // as often as needed
//     commit_output_file(out);
// and end a failed run with output_fatal(file, cause), which abandons every
// output begun and not committed, then takes the fatal path. An OutputFile is
// remembered by its address while pending, so it must stay where it is (a static
// or a variable that outlives the commit) and never be copied.
//
// An output that already exists and is not a regular file (a character device
// such as /dev/null, a FIFO, a terminal) is written in place, write-only, and is
// never removed or replaced. A symbolic link to a regular file is followed: the
// file it names is replaced and the link stays. A directory, or a name whose
// directory does not exist, is refused with the system's own cause.
#pragma once

#include <cstddef>
#include <limits.h>

struct OutputFile {
    char path[PATH_MAX] = {};   // the output as the user named it, for messages
    char target[PATH_MAX] = {}; // the file the output replaces (path, or what its link names)
    char temp[PATH_MAX] = {};   // the temporary file beside target; empty when written in place
    int fd = -1;                // open for writing while the output is pending
    bool pending = false;       // begun, and neither committed nor abandoned
};

// Fatal, before anything is created, when out_path names the same file (device
// and inode) as one of the count inputs. An absent output or input is no match.
void refuse_output_over_inputs(const char* out_path, const char* const* inputs, int count);

// Opens the output for writing as described above. Fatal on failure, naming the
// output and the system's cause. At most OUTPUT_FILES_MAX outputs may be pending.
inline constexpr int OUTPUT_FILES_MAX = 4;
void begin_output_file(OutputFile& out, const char* path);

// Writes all n bytes; a failed write (a full disk, a file size limit) is fatal
// through output_fatal.
void write_output_file(OutputFile& out, const void* bytes, size_t n);

// Closes the output and, for a temporary file, renames it over the target. Any
// failure is fatal through output_fatal, so the target is either the complete
// new output or what it was before.
void commit_output_file(OutputFile& out);

// Closes the output and removes its temporary file, if it has one.
void abandon_output_file(OutputFile& out);

// The tools' fatal path while outputs are pending: abandons each of them, then
// ends the run with one line naming the file and the cause (status 2).
[[noreturn]] void output_fatal(const char* file, const char* cause);
