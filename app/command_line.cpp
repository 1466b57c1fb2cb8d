// Reads the positional arguments with atoi's leniency, but rejects what atoi
// would silently get wrong: numbers beyond 32 bits, and durations whose
// sample count would not fit. Nothing is opened before this has passed.
#include "command_line.hpp"

#include "printable.hpp"

#include <cstdio>

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
