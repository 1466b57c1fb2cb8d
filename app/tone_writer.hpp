// A whole tone into an open descriptor: the header, then the samples, front
// to back in one pass and fixed memory.
#pragma once

#include <cstdint>

namespace puretone {

struct tone_spec {
    double frequency;
    std::int32_t sample_count;  // 0 to 2147449500
    int threads;                // threads that may make samples, 1 or more
    bool threads_requested;     // asked for, so used even for a short tone
};

// Writes the 44 header bytes and the samples, two bytes each, low byte
// first, at the descriptor's position. Samples are made on tone.threads
// threads, this one among them, but for a short tone whose thread count
// was not asked for: its threads would cost more to start than they save. A descriptor left
// non-blocking is waited on, not given up. 0, or the errno of the first
// failure, once every worker has stopped.
int write_tone(int fd, const tone_spec& tone);

}  // namespace puretone
