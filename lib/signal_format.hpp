// A signal description, checked: the tones with their amplitudes resolved
// and their channels as masks, the fades and the length. Made from the
// public puretone_signal by checking every field, so that nothing
// downstream sees a value out of range, and every sample stays within
// [-1, 1] before the format's peak scales it.
#pragma once

#include "include/puretone/puretone.h"
#include "lib/sweep_phase.hpp"
#include "lib/tone_format.hpp"

#include <cstdint>

namespace puretone {

constexpr std::uint32_t most_tones = PURETONE_TONES_MAX;

struct signal_tone {
    double frequency;        // |f| <= 2^31
    double amplitude;        // a, |a| <= 1; never -0
    double phase;            // p in cycles, |p| <= 2^31
    std::uint32_t channels;  // a mask of the format's channels, never 0
};

struct signal_shape {
    std::uint32_t tone_count;  // 0 .. most_tones
    signal_tone tones[most_tones];
    std::int64_t length;    // L, 1 .. 2^31, or 0 for none
    std::int64_t fade_in;   // N, 0 .. L (or 2^31)
    std::int64_t fade_out;  // M, 0 .. L; 0 where there is no length
    bool swept;             // a sweep in every channel, and no tone
    sweep_plan sweep;       // its terms (the length L) and constants
};

// Checks the description against the (checked) format and fills `shape`:
// PURETONE_OK, or the code of the first field out of range, in the order of
// puretone_signal_frames's contract.
int read_signal(const puretone_signal* description, const tone_format& format, signal_shape& shape);

// Whether the signal is the format's plain tone but for its fades: one
// tone at amplitude 1, phase 0, in every channel. Outside the fades its
// samples are then those of puretone_frames at its frequency: y = RN(1 *
// s) = s, and a gain of 1 leaves it so.
bool is_plain_tone(const signal_shape& shape, const tone_format& format);

}  // namespace puretone
