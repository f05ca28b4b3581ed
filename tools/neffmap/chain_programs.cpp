#include "chain_programs.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

#include "run_frame.hpp"

namespace {

bool executable(const std::string& path) { return ::access(path.c_str(), X_OK) == 0; }

// The programs run in the tiles' directories, so a relative name would no longer
// lead to them.
std::string absolute(const std::string& path)
{
    std::error_code ec;
    const auto a = std::filesystem::absolute(path, ec);
    return ec ? path : a.string();
}

bool all_in(const std::string& dir, ChainPrograms& p, bool build_tree)
{
    for (int i = 0; i < 3; ++i) {
        const std::string name = PROGRAM_NAMES[i];
        p.path[i] = build_tree ? dir + "/" + name + "/" + name : dir + "/" + name;
        if (!executable(p.path[i])) return false;
    }
    return true;
}

std::string own_directory()
{
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "";
    exe[n] = '\0';
    std::string s = exe;
    return s.substr(0, s.rfind('/'));
}

bool on_path(const char* name, std::string& found)
{
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs = path;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        if (executable(dir + "/" + name)) {
            found = absolute(dir + "/" + name);
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

void find_programs(const std::string& dir, ChainPrograms& programs)
{
    if (!dir.empty()) {
        for (int i = 0; i < 3; ++i) {
            programs.path[i] = absolute(dir + "/" + PROGRAM_NAMES[i]);
            if (!executable(programs.path[i])) {
                const std::string cause = std::string("--programs: there is no executable ") + PROGRAM_NAMES[i] + " here";
                fatal(dir.c_str(), cause.c_str());
            }
        }
        return;
    }
    const std::string own = own_directory();
    if (!own.empty()) {
        if (all_in(own, programs, false)) return;
        // build/<preset>/tools/neffmap/neffmap beside build/<preset>/lagscan/lagscan
        const std::string top = own + "/../..";
        if (own.size() > 15 && own.compare(own.size() - 14, 14, "/tools/neffmap") == 0 && all_in(top, programs, true))
            return;
    }
    for (int i = 0; i < 3; ++i)
        if (!on_path(PROGRAM_NAMES[i], programs.path[i]))
            fatal(PROGRAM_NAMES[i], "not found beside neffmap, in its build tree or on PATH; "
                                    "install the suite or name the directory with --programs DIR");
}

pid_t start_program(const ChainPrograms& programs, Program program, const std::string& cwd,
                    const std::string& answers, const char* messages)
{
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0) fatal_errno(PROGRAM_NAMES[program], errno);
    // posix_spawn rather than fork: the child does not copy this process's page
    // tables, which hold a whole tile.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, messages, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    char* const argv[] = {const_cast<char*>(PROGRAM_NAMES[program]), nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, programs.path[program].c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    ::close(in[0]);
    if (err != 0) {
        ::close(in[1]);
        const std::string cause = "cannot start " + programs.path[program] + " in " + cwd + ": " + std::strerror(err);
        fatal(PROGRAM_NAMES[program], cause.c_str());
    }
    // A few short lines fit the pipe's buffer, so this never waits on the child.
    size_t done = 0;
    while (done < answers.size()) {
        const ssize_t n = ::write(in[1], answers.data() + done, answers.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the child has gone; its status tells why
        done += size_t(n);
    }
    ::close(in[1]);
    return pid;
}

std::string program_failure(int wait_status, const std::string& messages_path)
{
    if (WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0) return "";
    std::string why = WIFEXITED(wait_status) ? "exit status " + std::to_string(WEXITSTATUS(wait_status))
                                             : "ended by signal " + std::to_string(WTERMSIG(wait_status));
    if (FILE* f = std::fopen(messages_path.c_str(), "r")) {
        char line[512];
        if (std::fgets(line, sizeof line, f)) {
            std::string text = line;
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            if (!text.empty()) why += ": " + text;
        }
        std::fclose(f);
    }
    return why;
}
