// Interruptions: a run stopped by a signal takes back what it wrote, then
// ends by that same signal, so the caller sees the usual status (130 for
// Ctrl-C, a core dump for SIGSEGV where cores are kept).
#pragma once

#include <csignal>
#include <sys/stat.h>

namespace puretone {

// Catches every signal whose default ends the process: SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE, SIGXCPU, SIGVTALRM,
// SIGPROF, SIGPWR, SIGIO, SIGSTKFLT, SIGRTMIN..SIGRTMAX, and the crash
// signals SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS and SIGABRT,
// these on an alternate stack, so that even a stack overflow takes back.
// Signals the caller set to be ignored (as nohup does) stay ignored, and
// the caller's blocked signals stay blocked. A pipe whose reader left still
// ends the run quietly, by SIGPIPE. SIGXFSZ is ignored, so a write past the
// file-size limit fails with EFBIG and is reported like any other failure.
void catch_interruptions();

// Removes from `mask` (the one a worker thread starts with) the crash
// signals that `caller_mask` leaves free, so that a fault on a worker takes
// back too, on the worker's stack.
void free_crash_signals(sigset_t& mask, const sigset_t& caller_mask);

// What a signal, or a failure, would take back. Each call registers one
// file; the caller holds the signals around it (hold_interruptions).
//  - remove_on_failure: the file `name` in the directory `directory_fd`,
//    removed if that name still holds the inode `written`. For the
//    temporary file, and for a file this run created. `name` is copied.
//  - empty_on_failure: an existing file written in place through `fd`,
//    emptied (its old contents are gone already), so that no file is left
//    whose header promises samples it lacks.
void remove_on_failure(int directory_fd, const char* name, const struct stat& written);
void empty_on_failure(int fd, const struct stat& written);
// Forgets the file registered last by remove_on_failure.
void forget_last_removable();
// Forgets whatever was registered for the file `written`.
void forget_file(const struct stat& written);

// The run is complete: nothing is taken back any more, and a signal that
// comes now is ignored, so a finished file is never reported as a failure.
void run_complete();

// Removes or empties what is registered now, and forgets it. Uses only
// async-signal-safe calls, so the handler and the failure path share it.
void take_back();

// Holds the caught signals back while a file that could be left behind is
// created and registered, and while the temporary file is linked, renamed
// and forgotten; never across a call that can block. They nest: the
// outermost release restores the mask as it was before the outermost hold.
void hold_interruptions();
void release_interruptions();

// The signals caught above, for a run that waits on them itself while it
// holds them (companion_file.hpp).
sigset_t caught_signals();

}  // namespace puretone
