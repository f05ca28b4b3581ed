#include "supervised_run.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "run_frame.hpp"

namespace {

volatile sig_atomic_t interrupted = 0;

void on_interrupt(int sig) { interrupted = sig; }

void remove_work(const RunPlaces& places)
{
    std::error_code ec;
    if (!places.keep_work) std::filesystem::remove_all(places.work_dir, ec);
}

} // namespace

pid_t start_worker()
{
    // Programs orphaned by a worker that died become this process's children, so
    // they can be ended and waited for before their directory is removed.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid < 0) fatal_errno("neffmap", errno);
    if (pid == 0) ::setpgid(0, 0);
    else ::setpgid(pid, pid);
    return pid;
}

int supervise(pid_t worker, const RunPlaces& places)
{
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);

    int status = 0;
    while (::waitpid(worker, &status, 0) < 0) {
        if (errno != EINTR) {
            status = -1;
            break;
        }
        if (interrupted) {
            ::kill(-worker, SIGKILL);
        }
    }
    const bool ok = !interrupted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        ::kill(-worker, SIGKILL);
        while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
        }
    }
    remove_work(places);
    if (ok) return 0;
    if (interrupted) {
        std::fprintf(stderr, "neffmap: interrupted; work files removed\n");
        return 128 + interrupted;
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "neffmap: the run ended on signal %d; work files removed\n",
                     WTERMSIG(status));
        return FATAL_EXIT_STATUS;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : FATAL_EXIT_STATUS;
}
