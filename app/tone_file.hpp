// The output file, owned from open to close.
#pragma once

#include "tone_writer.hpp"

namespace puretone {

// Writes the header and the samples to `path`, front to back:
//  - "-", or a path the kernel resolves through a descriptor link of this
//    process: into that open descriptor as it is (so `>>` appends);
//  - a name that holds nothing: into an unnamed file in the directory the
//    kernel resolves for it, linked at the name once whole (where the file
//    system has no unnamed files, created at the name first, as below);
//  - a regular file: into a new temporary file in the directory that holds
//    it, renamed over it once whole; in place, under a lock, where a
//    replacement would lose something or cannot be renamed;
//  - anything else (a device, a FIFO): in place.
// On failure prints one line on standard error and returns false; a file
// being replaced is then untouched, and a file this run created is gone. A
// caught signal takes back the same way, then ends the process.
bool write_tone_file(const char* path, const tone_plan& tone);

}  // namespace puretone
