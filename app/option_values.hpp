// The grammars of the options' values, each read whole or refused: decimal
// numbers, levels, durations and tones. Nothing here prints; the command
// line says what was wrong.
#pragma once

#include <puretone/puretone.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace puretone {

// A decimal number, read as the nearest double: an optional sign, digits
// with an optional point (at least one digit), an optional exponent (e or
// E, an optional sign, digits). Nothing else: no white space, hex, inf or
// nan. A number that rounds to infinity, or a nonzero one that rounds to
// zero, is refused too. -0 reads as -0; callers that must not see it say so.
std::optional<double> decimal_number(std::string_view text);

// A level: "full", a decimal ratio, or decimal dB followed by "dB" or
// "dBFS" (kind PURETONE_LEVEL_*). The range is the caller's to check.
struct level_value {
    int kind;
    double value;
};
std::optional<level_value> level_of(std::string_view text);

// A duration in whole frames at `rate`: digits with an optional point and
// fraction (at least one digit), then nothing, "s" or "ms"; the frame
// nearest seconds * rate, ties to even, computed exactly from the decimal
// digits. A duration longer than 2^40 frames gives 2^40, for the caller to
// refuse as too long.
std::optional<std::int64_t> duration_frames(std::string_view text, std::uint32_t rate);

constexpr std::int64_t longest_duration = std::int64_t{1} << 40;

// A phase in degrees as cycles, RN(degrees / 360); nothing for a nonzero
// one that rounds to 0 cycles.
std::optional<double> phase_of(double degrees);

// A tone: [CHANNELS=]FREQ[:LEVEL[:PHASE]]. CHANNELS lists 1-based channel
// numbers and ranges from 1 to 8 ("2", "1,3", "1-6"), none for every
// channel; FREQ is decimal hertz; LEVEL is level_of's (a ratio may be
// negative, which inverts the tone); PHASE is decimal degrees D, the phase
// RN(D / 360) in cycles. The ranges of frequency and level are the
// library's to check.
std::optional<puretone_tone> tone_of(std::string_view text);

}  // namespace puretone
