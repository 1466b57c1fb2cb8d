// A second file written beside the first: the inverse filter beside its
// sweep. It is written whole, and takes its name, in a child process, just
// before the first file takes its own (tone_plan.before_commit); where it
// fails, the first is taken back too, so neither old file is lost. The
// child has its own interruptions and take-back: a signal to the process
// group stops both, each taking back its own file.
#pragma once

#include "tone_writer.hpp"

namespace puretone {

struct companion_file {
    const char* path;
    tone_plan tone;
};

// Writes `context` (a companion_file) in a child process: true where the
// child wrote it whole. Its failure is reported by the child, in one line;
// one of the fork itself, here.
bool write_companion(const void* context);

}  // namespace puretone
