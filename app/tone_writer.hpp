// A whole tone into an open descriptor: the header, then the samples, front
// to back in one pass and fixed memory.
#pragma once

#include <cstdint>

namespace puretone {

struct tone_plan {
    double frequency;
    std::int32_t sample_count;  // 0 to 2147449500
    int threads;                // threads that make samples, 1 or more; 0: as many as the CPUs allow
};

// Writes the 44 header bytes and the samples, two bytes each, low byte
// first, at the descriptor's position. Samples are made on tone.threads
// threads, this one among them. With 0, a long tone gets one a CPU the
// process may use, and a short one none besides this: they would cost
// more to start than they save. A descriptor left
// non-blocking is waited on, not given up. 0, or the errno of the first
// failure, once every worker has stopped.
int write_tone(int fd, const tone_plan& tone);

}  // namespace puretone
