// SIGINT, SIGTERM and SIGHUP turned from an immediate end into a request that a
// run answers at its next safe point: it then unwinds, its outputs remove their
// temporary files, and only then does the process end as the signal would have
// ended it. A second such signal ends the process at once, as the default does,
// for a user who will not wait.
#pragma once

// What a run throws when a signal has come; main catches it last.
struct Interrupted {
    int signal = 0;
};

// Installs the handlers (which only note the signal, on whatever thread).
void catch_interrupts();

// Throws Interrupted when one of the signals has come.
void check_interrupt();

// Ends the process by the signal itself, so that the caller (a shell loop, say)
// sees how it ended.
[[noreturn]] void end_on_signal(int signal);
