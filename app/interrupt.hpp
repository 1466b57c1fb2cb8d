// Interruptions: a run stopped by a signal takes back what it wrote, then
// ends by that same signal, so the caller sees the usual status (130 for
// Ctrl-C).
#pragma once

#include <sys/stat.h>

namespace puretone {

// Catches every asynchronous signal whose default ends the process: SIGINT,
// SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1, SIGUSR2, SIGPIPE, SIGXCPU,
// SIGVTALRM, SIGPROF, SIGPWR and SIGRTMIN..SIGRTMAX, except those the caller
// set to be ignored (as nohup does). A pipe whose reader left still ends
// the run quietly, by SIGPIPE. SIGXFSZ is ignored, so a write past the
// file-size limit fails with EFBIG and is reported like any other failure.
void catch_interruptions();

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

// The run is complete: nothing is taken back any more, and a signal that
// comes now is ignored, so a finished file is never reported as a failure.
void run_complete();

// Removes or empties what is registered now, and forgets it. Uses only
// async-signal-safe calls, so the handler and the failure path share it.
void take_back();

// Holds the caught signals back while a file that could be left behind is
// created and registered, and while the temporary file is renamed and
// forgotten; never across a call that can block.
void hold_interruptions();
void release_interruptions();

}  // namespace puretone
