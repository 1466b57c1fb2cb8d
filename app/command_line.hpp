// The command line: <wav file> [<frequency> [sec]], purely positional.
#pragma once

#include <cstdint>
#include <optional>

namespace puretone {

struct tone_request {
    const char* path;
    double frequency;      // hertz, always integral; default 440
    std::int32_t seconds;  // 0 .. longest_seconds; default 10
};

// 48695 * 44100 = 2147449500 is the largest sample count that fits in a
// signed 32-bit integer; one second more would not.
constexpr std::int32_t longest_seconds = 48695;

// Reads a number as atoi does: leading white space, an optional sign, then the
// digits up to the first other character; 0 when there are none, so "440.9"
// is 440, "880Hz" is 880 and "abc" is 0. Unlike atoi it refuses, with
// nothing, digits whose value lies outside the signed 32-bit range.
std::optional<std::int32_t> leading_integer(const char* text);

// "usage: <argv[0]> <wav file> [<frequency> [sec]]" on standard output, with
// argv[0] escaped like any text in a message. The exit status: 0, or 1 if
// standard output could not take it (with one line on standard error).
int print_usage(int argc, char** argv);

// The flags a new user tries first, recognised only as argument 1:
// --help and -h print the usage line and a short help, --version the
// version, both on standard output. The exit status when argument 1 was one
// of them (1 if standard output could not take the text, with one line on
// standard error), and no file is written; nothing otherwise. Any other
// argument is a path: a file really named --help is written as ./--help.
std::optional<int> answer_flag(int argc, char** argv);

// Reads arguments 1 to 3 (argc >= 2); later ones are ignored. On a number out
// of range, prints one line on standard error and yields nothing.
std::optional<tone_request> read_command_line(int argc, char** argv);

}  // namespace puretone
