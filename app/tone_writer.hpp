// A whole tone into an open descriptor: the header, then the samples, front
// to back in one pass and fixed memory.
#pragma once

#include <cstdint>

namespace puretone {

// Writes the 44 header bytes and sample_count (0 to 2147449500) samples, two bytes each, low
// byte first, at the descriptor's position. A descriptor left non-blocking
// is waited on, not given up. 0, or the errno of the first failure.
int write_tone(int fd, double frequency, std::int32_t sample_count);

}  // namespace puretone
