// A second file written beside the first: the inverse filter beside its
// sweep. It is written whole, and takes its name, in a child process, just
// before the first file takes its own (tone_plan.before_commit). Where it
// fails, the first is taken back too, so neither old file is lost.
//
// Signals: the run holds the ones it catches from before the fork to its
// end. The child, whose own are free, takes back its file on any of them
// and ends, as any run does; it also ends so if this process dies first
// (PR_SET_PDEATHSIG). This process, waiting, takes a signal that comes in
// turn, passes it on to the child, and then: where the child had already
// put its file in place, takes its own name too (a signal at the very end,
// as for one file: the run succeeds); else ends by that signal, taking
// back its own file. So the two files take their names together or not at
// all, but for a failure of the first's own rename or link just after the
// second's (no case is known), or a SIGKILL between the two.
#pragma once

#include "tone_writer.hpp"

namespace puretone {

struct companion_file {
    const char* path;
    tone_plan tone;
};

// Writes `context` (a companion_file) in a child process: true where the
// child wrote it whole, with the caught signals then held until the
// process ends. Its failure is reported by the child, in one line; one of
// the fork or the wait itself, here.
bool write_companion(const void* context);

}  // namespace puretone
