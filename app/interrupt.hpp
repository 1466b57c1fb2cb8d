// Interruptions: a run stopped by a signal takes back what it wrote, then
// ends by that same signal, so the caller sees the usual status (130 for
// Ctrl-C).
#pragma once

#include <sys/stat.h>

namespace puretone {

// Catches SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGALRM, SIGUSR1 and SIGUSR2,
// except those the caller set to be ignored (as nohup does). SIGPIPE keeps
// its default: a pipe whose reader left ends the run quietly. SIGXFSZ is
// ignored, so a write past the file-size limit fails with EFBIG and is
// reported like any other failed write.
void catch_interruptions();

// What a signal would take back. The path must stay valid until
// nothing_to_take_back().
//  - A temporary file: removed.
//  - A regular file written in place (`written` is its status, `fd` its
//    descriptor): removed if `path` still names it directly, else emptied,
//    so that no file is left whose header promises samples it lacks.
void take_back_temporary(const char* path);
void take_back_in_place(const char* path, int fd, const struct stat& written);
void nothing_to_take_back();

// Removes or empties what is registered now, and forgets it. Uses only
// async-signal-safe calls, so the handler and the failure path share it.
void take_back();

// Holds the caught signals back while a file is created and registered, so
// that no signal can fall between the two and leave it behind.
void hold_interruptions();
void release_interruptions();

}  // namespace puretone
