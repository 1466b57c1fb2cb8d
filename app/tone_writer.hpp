// A whole tone into an open descriptor: the header, then the samples, front
// to back in one pass and fixed memory.
#pragma once

#include <puretone/puretone.h>

#include <cstdint>

namespace puretone {

struct tone_plan {
    puretone_signal signal;     // its tones, fades and length; checked with the format for every frame
    std::int32_t sample_count;  // frames: 0 to puretone_longest_frames(format)
    int threads;                // threads that make samples, 1 or more; 0: as many as the CPUs allow
    puretone_format format = PURETONE_FORMAT_INIT;
    bool inverse = false;       // the frames of the signal's inverse filter, in `format` (mono f32)
    // Called once the file is whole, before it takes its name (or, written
    // in place, before it is closed): false fails the run, the file taken
    // back as on any failure, with no further message (the call said why).
    bool (*before_commit)(const void* context) = nullptr;
    const void* commit_context = nullptr;
};

// Calls tone.before_commit where there is one: true where there is none.
bool ready_to_commit(const tone_plan& tone);

// Writes the format's header and the frames, each sample low byte first,
// then a zero pad byte where the frames' size is odd (RIFF keeps chunks at
// even offsets), at the descriptor's position. Samples are made on tone.threads
// threads, this one among them. With 0, a long tone gets one a CPU the
// process may use, and a short one none besides this: they would cost
// more to start than they save. A descriptor left
// non-blocking is waited on, not given up. 0, or the errno of the first
// failure, once every worker has stopped.
int write_tone(int fd, const tone_plan& tone);

// The bytes write_tone writes: header, frames, pad byte.
std::int64_t tone_file_size(const tone_plan& tone);

}  // namespace puretone
