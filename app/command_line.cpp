// Reads the options strictly and the positional arguments with atoi's
// leniency, but rejects what atoi would silently get wrong: numbers beyond
// 32 bits, durations whose file would not fit, and angles beyond the exact
// reduction's domain. Nothing is opened before this has passed.
#include "command_line.hpp"

#include "printable.hpp"

#include <puretone/puretone.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
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

// A whole number in [low, high] written as digits alone, or nothing.
std::optional<std::int64_t> strict_integer(const char* text, std::int64_t low, std::int64_t high)
{
    std::int64_t value = 0;
    if (*text == '\0')
        return std::nullopt;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9')
            return std::nullopt;
        value = value * 10 + (*text - '0');
        if (value > high)
            return std::nullopt;
    }
    if (value < low)
        return std::nullopt;
    return value;
}

// A decimal number as strtod reads it in the C locale, the whole text, with
// `suffix` after it; nothing else.
std::optional<double> number_with_suffix(std::string_view text, std::string_view suffix)
{
    if (text.size() <= suffix.size() || text.substr(text.size() - suffix.size()) != suffix)
        return std::nullopt;
    const std::string digits(text.substr(0, text.size() - suffix.size()));
    const char first = digits[0];
    if (!(first == '-' || first == '+' || first == '.' || (first >= '0' && first <= '9')))
        return std::nullopt;  // no white space, no "inf" or "nan"
    char* end = nullptr;
    const double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The options that take a value: long name, short form (or none).
struct option_name {
    const char* name;
    const char* short_form;
};
constexpr option_name value_options[] = {{"rate", "-r"}, {"format", nullptr}, {"level", nullptr}, {"channels", "-c"}};

// Which value option `argument` is, and where its value is: "--rate=HZ"
// and "-rHZ" carry it (value points into the argument), "--rate" and "-r"
// take the next argument (value is null). Nothing if it is none of them.
struct option_match {
    const char* name;
    const char* value;
};

std::optional<option_match> match_value_option(const char* argument)
{
    const std::string_view text = argument;
    for (const option_name& option : value_options) {
        const std::string long_form = std::string("--") + option.name;
        if (text == long_form)
            return option_match{option.name, nullptr};
        if (text.rfind(long_form + "=", 0) == 0)
            return option_match{option.name, argument + long_form.size() + 1};
        if (option.short_form != nullptr && text.rfind(option.short_form, 0) == 0)
            return option_match{option.name, text.size() > 2 ? argument + 2 : nullptr};
    }
    return std::nullopt;
}

bool is_option(const char* argument)
{
    return argument[0] == '-' && argument[1] != '\0';  // "-" alone is standard output
}

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
    // The first of --help, -h and --version among the options, skipping
    // the values of the options that take one.
    std::string_view flag;
    for (int k = 1; k < argc && flag.empty() && is_option(argv[k]); ++k) {
        const std::string_view argument = argv[k];
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h" || argument == "--version")
            flag = argument;
        else if (const auto option = match_value_option(argv[k]); option && option->value == nullptr)
            ++k;
    }
    if (flag == "--version") {
        std::printf("puretone %s\n", puretone_version());
    } else if (flag == "--help" || flag == "-h") {
        show_usage(argc, argv);
        std::printf("       %s [options] [--] <wav file> [<frequency> [sec]]\n"
                    "Writes a WAV file holding an exact sine tone; by default mono, 16-bit, 44100 Hz, full scale.\n"
                    "  <wav file>   the file to write or replace; - for standard output\n"
                    "  <frequency>  whole hertz (default 440); negative inverts, 0 is silence\n"
                    "  sec          whole seconds, 0 to 48695 at the defaults (default 10)\n"
                    "Options, before the file (-- ends them):\n"
                    "  -r, --rate HZ        frames per second, 1 to 768000 (default 44100)\n"
                    "      --format F       s16, s24, s32 or f32 (default s16)\n"
                    "      --level L        full, a ratio from 0 to 1, or dBFS such as -18dB (default full)\n"
                    "  -c, --channels N     1 to 8, each the same tone (default 1)\n"
                    "Frame i: t = ((i / rate) * frequency * 2) * pi in double, s = RN(sin t) correctly\n"
                    "rounded; s16/s24/s32 write trunc(RN(P * s)), P the level's peak (32767, 8388607 or\n"
                    "2147483647 at full); f32 writes RN32(RN(P * s)), P = 1 at full.\n"
                    "Exit status: 0 written, 1 the output could not be written, 2 an invalid argument.\n"
                    "More in: man puretone\n",
                    printable(argc > 0 ? argv[0] : "puretone").c_str());
    } else {
        return std::nullopt;
    }
    return flushed_status();
}

std::int32_t longest_seconds_of(const puretone_format& format)
{
    return static_cast<std::int32_t>(puretone_longest_frames(&format) / format.rate);
}

bool read_option_value(const char* name, const char* value, puretone_format& format)
{
    const std::string_view option = name, text = value;
    if (option == "rate") {
        const auto rate = strict_integer(value, 1, 768000);
        if (rate)
            format.rate = static_cast<std::uint32_t>(*rate);
        return rate.has_value();
    }
    if (option == "channels") {
        const auto channels = strict_integer(value, 1, 8);
        if (channels)
            format.channels = static_cast<std::uint32_t>(*channels);
        return channels.has_value();
    }
    if (option == "format") {
        const std::string_view names[] = {"s16", "s24", "s32", "f32"};  // in the order of PURETONE_FORMAT_*
        for (int k = 0; k < 4; ++k)
            if (text == names[k]) {
                format.sample_format = k;
                return true;
            }
        return false;
    }
    // The level. The library checks the range of each kind.
    puretone_format trial = format;
    if (text == "full") {
        trial.level_kind = PURETONE_LEVEL_FULL;
        trial.level = 0.0;
    } else if (const auto decibels = number_with_suffix(text, "dBFS") ? number_with_suffix(text, "dBFS")
                                                                         : number_with_suffix(text, "dB")) {
        trial.level_kind = PURETONE_LEVEL_DBFS;
        trial.level = *decibels;
    } else if (const auto ratio = number_with_suffix(text, "")) {
        trial.level_kind = PURETONE_LEVEL_RATIO;
        trial.level = *ratio;
    } else {
        return false;
    }
    if (puretone_header_length(&trial) == PURETONE_ERROR_LEVEL)
        return false;
    format = trial;
    return true;
}

namespace {

// The range each option's message names.
const char* option_range(std::string_view name)
{
    if (name == "rate")
        return "1 to 768000 Hz";
    if (name == "channels")
        return "1 to 8";
    if (name == "format")
        return "s16, s24, s32 or f32";
    return "full, a ratio from 0 to 1, or dBFS of at most 0 such as -18dB";
}

}  // namespace

std::optional<tone_request> read_command_line(int argc, char** argv)
{
    tone_request request{nullptr, 440.0, 10, PURETONE_FORMAT_INIT};
    int k = 1;
    for (; k < argc && is_option(argv[k]); ++k) {
        if (std::string_view(argv[k]) == "--") {
            ++k;
            break;
        }
        const auto option = match_value_option(argv[k]);
        if (!option) {
            std::fprintf(stderr, "puretone: unknown option '%s' (a file named so: ./%s or -- %s)\n",
                         printable(argv[k]).c_str(), printable(argv[k]).c_str(), printable(argv[k]).c_str());
            return std::nullopt;
        }
        const char* value = option->value;
        if (value == nullptr) {
            if (k + 1 >= argc) {
                std::fprintf(stderr, "puretone: option '%s' needs a value\n", printable(argv[k]).c_str());
                return std::nullopt;
            }
            value = argv[++k];
        }
        if (!read_option_value(option->name, value, request.format)) {
            std::fprintf(stderr, "puretone: %s '%s' is not valid (%s)\n", option->name, printable(value).c_str(),
                         option_range(option->name));
            return std::nullopt;
        }
    }
    if (k >= argc) {
        std::fprintf(stderr, "puretone: no wav file given\n");
        return std::nullopt;
    }
    request.path = argv[k];
    // Options go before the file. An option that takes a value, after it,
    // would otherwise be read as a number, as atoi reads one ("--rate" as
    // 0 Hz, its value as the duration): a silent, wrong tone. A negative
    // frequency is no option: "-440" matches none. Other words stay
    // numbers, as they always were ("--help" there is 0 Hz).
    for (int later = k + 1; later < argc; ++later) {
        if (match_value_option(argv[later])) {
            std::fprintf(stderr, "puretone: '%s' comes after the file; options go before it\n",
                         printable(argv[later]).c_str());
            return std::nullopt;
        }
    }
    const int numbers = argc - k - 1;
    if (numbers >= 1) {
        const auto frequency = leading_integer(argv[k + 1]);
        if (!frequency) {
            complain("frequency", argv[k + 1], "-2147483648 to 2147483647 Hz");
            return std::nullopt;
        }
        request.frequency = *frequency;
    }
    const std::int32_t longest = longest_seconds_of(request.format);
    if (numbers >= 2) {
        const auto seconds = leading_integer(argv[k + 2]);
        if (!seconds || *seconds < 0 || *seconds > longest) {
            const std::string range = "0 to " + std::to_string(longest) + " seconds";
            complain("duration", argv[k + 2], range.c_str());
            return std::nullopt;
        }
        request.seconds = *seconds;
    }  // the default 10 s fits every format: the widest, 8 channels of 32 bits at 768000 Hz, holds 174 s
    // The last frame's angle is the largest: within the exact domain, or
    // refused. A NULL buffer has the library check the request alone.
    const std::int64_t frames = std::int64_t{request.seconds} * request.format.rate;
    if (frames > 0 && puretone_frames(&request.format, request.frequency, frames - 1, 1, nullptr) == PURETONE_ERROR_ANGLE) {
        std::fprintf(stderr, "puretone: %s\n", puretone_strerror(PURETONE_ERROR_ANGLE));
        return std::nullopt;
    }
    // A level whose peak the library could not settle (none is known).
    if (puretone_header_length(&request.format) == PURETONE_ERROR_UNSETTLED) {
        std::fprintf(stderr, "puretone: %s\n", puretone_strerror(PURETONE_ERROR_UNSETTLED));
        return std::nullopt;
    }
    return request;
}

}  // namespace puretone
