// The command line: [options] <wav file> [<frequency> [sec]]. Options come
// first, up to the first argument that is not one ("-" is a path, standard
// output) or up to "--"; everything after is positional, so a negative
// frequency is never taken for an option.
#pragma once

#include <puretone/puretone.h>

#include <cstdint>
#include <optional>

namespace puretone {

struct tone_request {
    const char* path;
    double frequency;       // hertz, always integral; default 440
    std::int32_t seconds;   // 0 .. the format's longest; default 10
    puretone_format format; // default PURETONE_FORMAT_INIT: 44100 Hz, s16, full level, mono
};

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
//   level     full; a ratio from 0 to 1 (a decimal number, read as the
//             nearest double); or dBFS as a number of at most 0 followed
//             by dB or dBFS, such as -18dB
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

// The flags a new user tries first, recognised among the options: --help
// and -h print the usage line and a short help, --version the version, both
// on standard output. The exit status when one of them came before the
// first positional argument (1 if standard output could not take the text,
// with one line on standard error), and no file is written; nothing
// otherwise. After the options every argument is positional: a file really
// named --help is written as ./--help or -- --help.
std::optional<int> answer_flag(int argc, char** argv);

// Reads the options, then the path and up to two numbers (argc >= 2); later
// arguments are ignored. On an unknown option, a missing or bad value, no
// path, or a number out of range, prints one line on standard error and
// yields nothing.
std::optional<tone_request> read_command_line(int argc, char** argv);

}  // namespace puretone
