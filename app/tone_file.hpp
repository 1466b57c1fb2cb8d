// The output file, owned from open to close.
#pragma once

#include "wav/wav_header.hpp"

#include <cstdint>

namespace puretone {

// Creates or truncates `path` and writes the header and the samples into it,
// front to back. On failure prints one line on standard error and returns
// false; a regular file that was opened is then removed, so that no file
// remains whose header promises samples it lacks. Devices and pipes stay.
bool write_tone_file(const char* path, const wav_header& header, double frequency,
                     std::int32_t sample_count);

}  // namespace puretone
