// The output file, owned from open to close.
#pragma once

#include "wav/wav_header.hpp"

#include <cstdint>

namespace puretone {

// Writes the header and the samples to `path`, front to back:
//  - "-", /dev/stdout, /dev/fd/N and /proc/self/fd/N: into that open
//    descriptor as it is (so `>>` appends);
//  - a regular file, or none yet: into a new temporary file beside it (after
//    every symbolic link), renamed over it once whole; where no temporary
//    file can be made, in place;
//  - anything else (a device, a FIFO): in place.
// On failure prints one line on standard error and returns false; a file
// being replaced is then untouched, and no partial file remains. A caught
// signal takes back the same way, then ends the process.
bool write_tone_file(const char* path, const wav_header& header, double frequency,
                     std::int32_t sample_count);

}  // namespace puretone
