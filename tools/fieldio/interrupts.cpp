#include "interrupts.hpp"

#include <csignal>
#include <initializer_list>
#include <cstdlib>
#include <unistd.h>

namespace {

// The signal received, or 0: the one thing a handler may safely leave behind.
volatile std::sig_atomic_t received = 0;

void note(int sig) { received = sig; }

} // namespace

void catch_interrupts()
{
    struct sigaction sa {};
    sa.sa_handler = note;
    sigemptyset(&sa.sa_mask);
    // Calls under way go on (no EINTR in the libraries' reads and writes); the
    // handler gives way to the default after one signal.
    sa.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

void check_interrupt()
{
    if (received != 0) throw Interrupted{int(received)};
}

void end_on_signal(int signal)
{
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    std::_Exit(128 + signal);
}
