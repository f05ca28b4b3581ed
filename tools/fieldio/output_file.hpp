// Writing a tool's outputs so that a failed or interrupted run leaves every
// existing path as it was: each output goes to a new temporary file, in the
// output's own directory, which takes the output's name by rename only when every
// output of the run is complete. An OutputFile that is destroyed before its
// commit (a RunError on the way, say) removes its temporary file and nothing else.
//
// Use:
//     refuse_output_over_inputs(out_path, inputs);   // before anything is written
//     OutputFile out;
//     begin_output_file(out, out_path);
//     write_output_file(out, bytes, size);            // or a library writes out.temp
//     commit_output_file(out);                        // or commit_output_files
//
// An output that already exists and is not a regular file (a character device
// such as /dev/null, a FIFO, a terminal) is opened, write-only, when begun; its
// temporary file then lies in $TMPDIR and is copied into it at the commit, and
// it is never removed or replaced. A symbolic link to a regular file is followed:
// the file it names is replaced and the link stays. A directory, a name that does
// not fit the file system, or a name whose directory does not exist, is refused
// with the system's own cause. Every failure throws RunError naming the output as
// the user named it.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

struct OutputFile {
    std::string path;   // as the user named it, for messages
    std::string target; // the file replaced: path, or the regular file its link names
    std::string temp;   // absolute path of the temporary file, empty when there is none
    int fd = -1;        // the temporary file, open for writing while pending
    int device_fd = -1; // a device or FIFO target, open for writing until the commit
    bool device = false; // the target is a device or FIFO, filled from temp at the commit
    bool pending = false;

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();
};

// The file an output path will be written as: the existing file it names (links
// followed), or, while it does not exist, its directory and its base name.
struct FileIdentity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string name; // base name of an output that does not exist yet
};
FileIdentity output_identity(const std::string& path);
bool same_file(const FileIdentity& a, const FileIdentity& b);

// Throws, before anything is created, when out_path names the same file (device
// and inode) as one of the inputs. An absent output or input is no match.
void refuse_output_over_inputs(const std::string& out_path, const std::string* inputs, int count);

// Throws when two outputs of one run would land in the same file.
void refuse_same_output(const std::string& first, const std::string& second);

// Opens the output's temporary file as described above.
void begin_output_file(OutputFile& out, const std::string& path);

// Writes all n bytes to the temporary file.
void write_output_file(OutputFile& out, const void* bytes, size_t n);

// Commits several outputs as one: each temporary file is flushed to the disk and
// devices are filled first, and only when all of that succeeded do the temporary
// files take their names. Nothing is renamed after a failure.
void commit_output_files(OutputFile* const* outs, int count);
inline void commit_output_file(OutputFile& out)
{
    OutputFile* one[] = {&out};
    commit_output_files(one, 1);
}

// Closes the output and removes its temporary file, if it has one.
void abandon_output_file(OutputFile& out);
