// Reads the positional arguments with atoi's leniency, but rejects what atoi
// would silently get wrong: numbers beyond 32 bits, and durations whose
// sample count would not fit. Nothing is opened before this has passed.
#include "command_line.hpp"

#include "printable.hpp"

#include <puretone/puretone.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace puretone {
namespace {

bool is_c_space(char c)  // isspace in the C locale, without its locale lookup
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void complain(const char* what, const char* text, const char* range)
{
    std::fprintf(stderr, "puretone: %s '%s' is out of range (%s)\n", what, printable(text).c_str(), range);
}

}  // namespace

std::optional<std::int32_t> leading_integer(const char* text)
{
    while (is_c_space(*text))
        ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    // 2^31: the magnitude of the most negative int32, one past the largest positive.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

namespace {

void show_usage(int argc, char** argv)
{
    // argc is 0 only when the caller passed an empty argument vector.
    std::printf("usage: %s <wav file> [<frequency> [sec]]\n", printable(argc > 0 ? argv[0] : "puretone").c_str());
}

// The status once the text is on its way: 1 if standard output failed.
int flushed_status()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return 0;
    std::fprintf(stderr, "puretone: cannot write to standard output: %s\n", std::strerror(errno));
    return 1;
}

}  // namespace

int print_usage(int argc, char** argv)
{
    show_usage(argc, argv);
    return flushed_status();
}

std::optional<int> answer_flag(int argc, char** argv)
{
    const std::string_view flag = argc >= 2 ? argv[1] : "";
    if (flag == "--version") {
        std::printf("puretone %s\n", puretone_version());
    } else if (flag == "--help" || flag == "-h") {
        show_usage(argc, argv);
        std::printf("Writes a mono, 16-bit, 44100 Hz WAV file holding a full-scale sine tone.\n"
                    "  <wav file>   the file to write or replace; - for standard output\n"
                    "  <frequency>  whole hertz (default 440); negative inverts, 0 is silence\n"
                    "  sec          whole seconds, 0 to 48695 (default 10)\n"
                    "Exit status: 0 written, 1 the output could not be written, 2 a number out of range.\n"
                    "More in: man puretone\n");
    } else {
        return std::nullopt;
    }
    return flushed_status();
}

std::optional<tone_request> read_command_line(int argc, char** argv)
{
    tone_request request{argv[1], 440.0, 10};
    if (argc >= 3) {
        const auto frequency = leading_integer(argv[2]);
        if (!frequency) {
            complain("frequency", argv[2], "-2147483648 to 2147483647 Hz");
            return std::nullopt;
        }
        request.frequency = *frequency;
    }
    if (argc >= 4) {
        const auto seconds = leading_integer(argv[3]);
        if (!seconds || *seconds < 0 || *seconds > longest_seconds) {
            complain("duration", argv[3], "0 to 48695 seconds");
            return std::nullopt;
        }
        request.seconds = *seconds;
    }
    return request;
}

}  // namespace puretone
