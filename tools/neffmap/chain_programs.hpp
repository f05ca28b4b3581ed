// Finding lagscan, sigcut and nstar, and running one of them through its console
// dialogue as a user would: answers on standard input, in a directory of its own.
#pragma once

#include <string>
#include <sys/types.h>

enum Program { LAGSCAN = 0, SIGCUT = 1, NSTAR = 2 };
inline constexpr const char* PROGRAM_NAMES[3] = {"lagscan", "sigcut", "nstar"};

struct ChainPrograms {
    std::string path[3];
};

// With a directory named, the programs must be there. Otherwise they are taken
// from beside neffmap (an installed suite), then from the build tree when neffmap
// runs from build/.../tools/neffmap, then from PATH. Fatal when one is not found.
void find_programs(const std::string& dir, ChainPrograms& programs);

// Starts `program` in directory `cwd` with `answers` on its standard input, its
// prompts discarded and its standard error going to the file `messages` (in cwd).
pid_t start_program(const ChainPrograms& programs, Program program, const std::string& cwd,
                    const std::string& answers, const char* messages);

// Why a finished program failed: its exit status or signal and the first line it
// wrote to `messages_path`; "" when it ended with status 0.
std::string program_failure(int wait_status, const std::string& messages_path);
