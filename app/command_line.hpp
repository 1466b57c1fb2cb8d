// The command line: [options] <wav file> [<frequency> [sec]]. Options come
// first, up to the first argument that is not one ("-" is a path, standard
// output) or up to "--"; everything after is positional, so a negative
// frequency is never taken for an option.
#pragma once

#include <puretone/puretone.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace puretone {

// What to write: the format, the tones (the positional frequency's, or
// those of --tone), the length in frames and the fades.
struct tone_request {
    const char* path;
    puretone_format format;              // default PURETONE_FORMAT_INIT: 44100 Hz, s16, full level, mono
    std::vector<puretone_tone> tones;    // at least one; default 440 Hz, full, phase 0, every channel
    std::int32_t frames;                 // default 10 s
    std::int64_t fade_in, fade_out;      // frames, default 0
    std::int32_t sweep = PURETONE_SWEEP_NONE;  // --sweep's kind, in place of tones
    double sweep_from = 0, sweep_to = 0;       // its f1 and f2
    std::int32_t asked_frames = 0;             // the length asked for, where a synchronized sweep's differs
    const char* inverse_path = nullptr;        // --inverse: the sweep's inverse filter, mono f32
};

// The signal the request describes, pointing into its tones.
puretone_signal signal_of(const tone_request& request);

// At 44100 Hz in 16-bit mono: 48695 * 44100 = 2147449500 samples, whose
// file's sizes fit RIFF's 32 bits; one second more would not.
constexpr std::int32_t longest_seconds = 48695;

// The longest whole seconds of a tone in `format` (checked): the most
// frames puretone_longest_frames allows, divided by the rate.
std::int32_t longest_seconds_of(const puretone_format& format);

// Reads an option's value into `format`: "rate", "format", "level" or
// "channels" (the long option's name). False for a value out of range.
//   rate      a whole number of hertz, 1 to 768000
//   format    s16, s24, s32 or f32
//   level     full; a ratio from 0 to 1; or dBFS of at most 0 followed by
//             dB or dBFS, such as -18dB (decimal numbers, option_values.hpp)
//   channels  1 to 8
bool read_option_value(const char* name, const char* value, puretone_format& format);

// Reads a number as atoi does: leading white space, an optional sign, then the
// digits up to the first other character; 0 when there are none, so "440.9"
// is 440, "880Hz" is 880 and "abc" is 0. Unlike atoi it refuses, with
// nothing, digits whose value lies outside the signed 32-bit range.
std::optional<std::int32_t> leading_integer(const char* text);

// "usage: <argv[0]> <wav file> [<frequency> [sec]]" on standard output, with
// argv[0] escaped like any text in a message. The exit status: 0, or 1 if
// standard output could not take it (with one line on standard error).
int print_usage(int argc, char** argv);

// The flags a new user tries first: --help and -h print the usage line
// and a short help, --version the version, both on standard output, where
// one of them comes among the options before the file, or after the file
// unless "--" came first (there a word is otherwise a number, and --help
// would be 0 Hz). The exit status (1 if standard output could not take the
// text, with one line on standard error), and no file is written; nothing
// where no flag was given, or where an option before the file is unknown,
// which read_command_line then refuses, whatever else stands there.
std::optional<int> answer_flag(int argc, char** argv);

// Reads the options, then the path and up to two numbers (argc >= 2); later
// arguments are ignored. On an unknown option, a missing or bad value, no
// path, a number out of range, or options that contradict each other,
// prints one line on standard error and yields nothing.
std::optional<tone_request> read_command_line(int argc, char** argv);

}  // namespace puretone
