// Reads the options strictly and the positional arguments with atoi's
// leniency, but rejects what atoi would silently get wrong: numbers beyond
// 32 bits, durations whose file would not fit, and angles beyond the exact
// reduction's domain. Nothing is opened before this has passed.
#include "command_line.hpp"

#include "option_values.hpp"
#include "printable.hpp"

#include <puretone/puretone.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <tuple>
#include <vector>

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

// The options that take a value: long name, short form (or none).
struct option_name {
    const char* name;
    const char* short_form;
};
constexpr option_name value_options[] = {
    {"rate", "-r"}, {"format", nullptr}, {"level", nullptr}, {"channels", "-c"}, {"tone", nullptr},
    {"phase", nullptr}, {"length", nullptr}, {"frames", nullptr}, {"fade", nullptr}, {"fade-in", nullptr},
    {"fade-out", nullptr}, {"sweep", nullptr}, {"inverse", nullptr},
};

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
    // the values of the options that take one; none where an option is
    // unknown. Then, unless "--" ended the options, the words after the
    // file.
    std::string_view flag;
    int k = 1;
    bool ended = false;
    for (; k < argc && is_option(argv[k]); ++k) {
        const std::string_view argument = argv[k];
        if (argument == "--") {
            ended = true;
            ++k;
            break;
        }
        if (argument == "--help" || argument == "-h" || argument == "--version") {
            if (flag.empty())
                flag = argument;
        } else if (const auto option = match_value_option(argv[k])) {
            if (option->value == nullptr)
                ++k;
        } else {
            return std::nullopt;  // unknown: refused, wherever a flag stands
        }
    }
    for (int later = k + 1; !ended && flag.empty() && later < argc; ++later) {
        const std::string_view argument = argv[later];
        if (argument == "--help" || argument == "-h" || argument == "--version")
            flag = argument;
    }
    if (flag == "--version") {
        std::printf("puretone %s\n", puretone_version());
    } else if (flag == "--help" || flag == "-h") {
        show_usage(argc, argv);
        std::printf(
            "       %s [options] [--] <wav file> [<frequency> [sec]]\n"
            "Writes a WAV file holding exact sine tones; by default 440 Hz, mono, 16-bit, 44100 Hz, full scale.\n"
            "  <wav file>   the file to write or replace; - for standard output\n"
            "  <frequency>  whole hertz (default 440); negative inverts, 0 is silence\n"
            "  sec          whole seconds, 0 to 48695 at the defaults (default 10)\n"
            "Options, before the file (-- ends them):\n"
            "  -r, --rate HZ        frames per second, 1 to 768000 (default 44100)\n"
            "      --format F       s16, s24, s32 or f32 (default s16)\n"
            "      --level L        full, a ratio from 0 to 1, or dBFS such as -18dB (default full)\n"
            "  -c, --channels N     1 to 8 (default 1)\n"
            "      --tone [CH=]FREQ[:LEVEL[:PHASE]]\n"
            "                       a tone, repeatable, in place of <frequency>: decimal hertz; a level\n"
            "                       relative to --level (a ratio from -1 to 1, negative inverts, or dB);\n"
            "                       a phase in degrees; channels such as 2, 1,3 or 1-6 (default all)\n"
            "      --phase DEG      the start phase of <frequency>'s tone\n"
            "      --length D       the whole signal: 2.5, 2.5s or 250ms, in place of sec\n"
            "      --frames N       the whole signal in frames, in place of sec\n"
            "      --fade D         raised-cosine fades at both ends; --fade-in D, --fade-out D each\n"
            "      --sweep F1:F2[:exp|sync|linear]\n"
            "                       a sine sweep in place of tones (default exp), every |F| at most rate/2\n"
            "      --inverse FILE   also write the exp or sync sweep's inverse filter: mono f32, same rate\n"
            "Tone k in a channel: c = (i / rate) * f_k, c = c + p_k (p_k = RN(DEG / 360), where not 0),\n"
            "t_k = (c * 2) * pi, s_k = RN(sin t_k) correctly rounded, all in double; y = RN(a_1 * s_1),\n"
            "then y = RN(y + RN(a_k * s_k)) in the order given. A fade of N frames multiplies y by\n"
            "g = RN(u * u), u = RN(sin(RN(RN(RN(i / N) * 0.5) * pi))), counted from the end for a fade-out.\n"
            "s16/s24/s32 write trunc(RN(P * y)), P the level's peak (32767, 8388607 or 2147483647 at\n"
            "full); f32 writes RN32(RN(P * y)), P = 1 at full. Each channel's levels sum to at most 1.\n"
            "Examples: --tone 60:0.8 --tone 7000:0.2 (SMPTE), --tone 19000:0.5 --tone 20000:0.5 (CCIF),\n"
            "-c 2 --tone 1=1000 --tone 2=500 (channels), -c 2 --tone 1=1000 --tone 2=1000:1:180 (polarity),\n"
            "--length 250ms --fade 5ms out.wav 1000 (a faded burst).\n"
            "Sweeps, t = i / rate exactly, T the length, phi real: exp phi = 2 pi F1 L (e^(t/L) - 1),\n"
            "L = T / ln(F2/F1); sync the same with L = round(F1 T / ln(F2/F1)) / F1, its length then\n"
            "round(rate L ln(F2/F1)); linear phi = 2 pi (F1 t + (F2 - F1) t^2 / (2T)); s = RN(sin phi).\n"
            "The inverse: frame j = RN32(K e^(-j/(rate L)) x(N-1-j)), K = 4 F2 / (rate^2 L), x the\n"
            "faded sweep before rounding. Measure: play sweep.wav, record, convolve with inverse.wav:\n"
            "--sweep 20:20000 --length 5 --fade 20ms --inverse inverse.wav sweep.wav\n"
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
    // The level. The library checks the range of each kind; -0 is +0.
    const auto level = level_of(text);
    if (!level)
        return false;
    puretone_format trial = format;
    trial.level_kind = level->kind;
    trial.level = level->value == 0 ? 0.0 : level->value;
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

puretone_signal signal_of(const tone_request& request)
{
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.tones = request.tones.data();
    signal.tone_count = static_cast<std::uint32_t>(request.tones.size());
    signal.length = request.frames;
    signal.fade_in = request.fade_in;
    signal.fade_out = request.fade_out;
    if (request.sweep != PURETONE_SWEEP_NONE) {
        signal.tones = nullptr;
        signal.tone_count = 0;
        signal.length = request.asked_frames != 0 ? request.asked_frames : request.frames;
        signal.sweep = request.sweep;
        signal.sweep_from = request.sweep_from;
        signal.sweep_to = request.sweep_to;
    }
    return signal;
}

namespace {

// The options read in a first pass, whose meaning waits on the others: a
// duration on the rate, a tone's channels on --channels.
struct signal_options {
    std::vector<puretone_tone> tones;
    const char* tone_text[PURETONE_TONES_MAX] = {};
    std::optional<double> phase;          // cycles
    const char* phase_text = nullptr;
    const char* length = nullptr;         // --length's text
    const char* frames = nullptr;         // --frames's text
    const char* fade_in = nullptr;
    const char* fade_out = nullptr;
    const char* sweep = nullptr;          // --sweep's text
    const char* inverse = nullptr;        // --inverse's path
};

// --sweep F1:F2[:exp|sync|linear]: the kind and the doubles nearest the
// decimals; nothing for another form.
bool sweep_of(std::string_view text, tone_request& request)
{
    const std::size_t first = text.find(':');
    if (first == std::string_view::npos)
        return false;
    const std::size_t second = text.find(':', first + 1);
    const auto from = decimal_number(text.substr(0, first));
    const auto to = decimal_number(text.substr(first + 1, second == std::string_view::npos ? second : second - first - 1));
    const std::string_view kind = second == std::string_view::npos ? "exp" : text.substr(second + 1);
    if (!from || !to)
        return false;
    request.sweep = kind == "exp"      ? PURETONE_SWEEP_EXPONENTIAL
                    : kind == "sync"   ? PURETONE_SWEEP_SYNCHRONIZED
                    : kind == "linear" ? PURETONE_SWEEP_LINEAR
                                       : PURETONE_SWEEP_NONE;
    request.sweep_from = *from;
    request.sweep_to = *to;
    return request.sweep != PURETONE_SWEEP_NONE;
}

bool refuse(const char* message)
{
    std::fprintf(stderr, "puretone: %s\n", message);
    return false;
}

bool bad_value(const char* name, const char* value, const char* range)
{
    std::fprintf(stderr, "puretone: %s '%s' is not valid (%s)\n", name, printable(value).c_str(), range);
    return false;
}

// Reads one of the signal's options into `options`.
bool read_signal_option(std::string_view name, const char* value, signal_options& options)
{
    if (name == "tone") {
        const auto tone = tone_of(value);
        if (!tone)
            return bad_value("tone", value, "[CHANNELS=]FREQ[:LEVEL[:PHASE]], such as 2=1000:-6dB:90");
        if (options.tones.size() == PURETONE_TONES_MAX)
            return refuse("at most 16 tones");
        options.tone_text[options.tones.size()] = value;
        options.tones.push_back(*tone);
        return true;
    }
    if (name == "phase") {
        const auto degrees = decimal_number(value);
        if (!degrees || !phase_of(*degrees))
            return bad_value("phase", value, "decimal degrees, such as 90");
        options.phase = phase_of(*degrees);
        options.phase_text = value;
        return true;
    }
    const char** slot = name == "sweep"     ? &options.sweep
                        : name == "inverse" ? &options.inverse
                        : name == "length"  ? &options.length
                        : name == "frames" ? &options.frames
                        : name == "fade"   ? &options.fade_in
                        : name == "fade-in" ? &options.fade_in
                                            : &options.fade_out;
    *slot = value;
    if (name == "fade")
        options.fade_out = value;
    return true;
}

// A duration option in frames, at most `longest`.
bool read_duration(const char* name, const char* text, std::uint32_t rate, std::int64_t longest, std::int64_t& frames)
{
    const auto value = duration_frames(text, rate);
    if (!value || *value > longest) {
        const std::string range = "a duration such as 2.5, 2.5s or 250ms, at most " + std::to_string(longest)
                                  + " frames at " + std::to_string(rate) + " Hz";
        return bad_value(name, text, range.c_str());
    }
    frames = *value;
    return true;
}

// The amplitude a tone's level gives, for a message only (the library
// decides, exactly).
double shown_amplitude(const puretone_tone& tone)
{
    if (tone.level_kind == PURETONE_LEVEL_FULL)
        return 1.0;
    if (tone.level_kind == PURETONE_LEVEL_DBFS)
        return std::pow(10.0, tone.level / 20.0);
    return std::fabs(tone.level);
}

// Why the library refused the signal, in the options' words.
void explain_signal_refusal(int code, const tone_request& request, const signal_options& options)
{
    const std::uint32_t channels = request.format.channels;
    if (code == PURETONE_ERROR_SUM) {
        for (std::uint32_t c = 0; c < channels; ++c) {
            double sum = 0;
            for (const puretone_tone& tone : request.tones)
                if (tone.channels == 0 || (tone.channels >> c & 1))
                    sum = sum + shown_amplitude(tone);
            if (sum > 1) {
                char shown[32];
                std::snprintf(shown, sizeof shown, "%.6g", sum);
                if (std::string_view(shown) == "1")
                    std::snprintf(shown, sizeof shown, "%.17g", sum);
                std::fprintf(stderr, "puretone: channel %u's tone levels sum to %s; at most 1, so that no sample clips\n",
                             c + 1, shown);
                return;
            }
        }
    }
    // The first tone the library refuses alone: its frequency, level, phase
    // or channels.
    for (std::size_t k = 0; k < request.tones.size(); ++k) {
        puretone_signal alone = PURETONE_SIGNAL_INIT;
        alone.tones = &request.tones[k];
        alone.tone_count = 1;
        const int own = puretone_signal_frames(&request.format, &alone, 0, 0, nullptr);
        if (own == PURETONE_OK || own == PURETONE_ERROR_ANGLE)
            continue;
        const char* text = options.tone_text[k];
        if (text == nullptr) {  // the positional tone: only --phase can be wrong
            std::fprintf(stderr, "puretone: phase '%s' is out of range (at most 2^31 turns)\n",
                         printable(options.phase_text != nullptr ? options.phase_text : "0").c_str());
        } else if (own == PURETONE_ERROR_TONE && (request.tones[k].channels >> channels) != 0) {
            std::fprintf(stderr, "puretone: tone '%s' names a channel beyond --channels %u\n", printable(text).c_str(),
                         channels);
        } else {
            std::fprintf(stderr, "puretone: tone '%s' is out of range (%s)\n", printable(text).c_str(),
                         puretone_strerror(own));
        }
        return;
    }
    std::fprintf(stderr, "puretone: %s\n", puretone_strerror(code));
}

// Whether two output paths name one file, so that one would overwrite
// the other: standard output twice, or one regular file (existing, by its
// inode, through any link; or not yet, by its directory and name).
// Devices, such as /dev/null, may take both.
bool same_output(const char* first, const char* second)
{
    const std::string_view a = first, b = second;
    if (a == "-" || b == "-")
        return a == b;
    struct stat one{}, other{};
    const bool first_exists = stat(first, &one) == 0, second_exists = stat(second, &other) == 0;
    if (first_exists && second_exists)
        return one.st_dev == other.st_dev && one.st_ino == other.st_ino && S_ISREG(one.st_mode);
    if (first_exists || second_exists)
        return false;
    const auto place = [](std::string_view path) {
        const std::size_t slash = path.rfind('/');
        const std::string directory = slash == std::string_view::npos ? "." : slash == 0 ? "/" : std::string(path.substr(0, slash));
        char* resolved = realpath(directory.c_str(), nullptr);
        std::string where = resolved != nullptr ? std::string(resolved) + '/' + std::string(path.substr(slash + 1)) : "";
        std::free(resolved);
        return where;
    };
    const std::string first_place = place(a);
    return !first_place.empty() && first_place == place(b);
}

// A sweep's request, checked by the library: its kind and frequencies, and
// for a synchronized sweep the length that ends at f2, which may differ
// from the one asked for and must still fit the file.
std::optional<tone_request> sweep_request(tone_request request, std::int64_t longest, const char* text)
{
    if (request.frames == 0) {
        refuse("a sweep needs a length of one frame or more");
        return std::nullopt;
    }
    const puretone_signal asked = signal_of(request);
    const std::int64_t length = puretone_signal_length(&request.format, &asked);
    if (length == PURETONE_ERROR_SWEEP) {
        std::fprintf(stderr, "puretone: sweep '%s' is out of range (%s)\n", printable(text).c_str(),
                     request.sweep == PURETONE_SWEEP_LINEAR
                         ? "linear needs two different frequencies, each at most half the rate"
                         : "it needs 0 < F1 < F2 <= F1 * 2^40, F2 at most half the rate, and for sync a length of "
                           "at least one cycle of F1");
        return std::nullopt;
    }
    if (length < 0) {
        std::fprintf(stderr, "puretone: %s\n", puretone_strerror(static_cast<int>(length)));
        return std::nullopt;
    }
    if (length > longest) {
        std::fprintf(stderr, "puretone: the synchronized sweep ends at F2 after %lld frames, more than the file can hold (%lld)\n",
                     static_cast<long long>(length), static_cast<long long>(longest));
        return std::nullopt;
    }
    if (length != request.frames)
        request.asked_frames = request.frames;
    request.frames = static_cast<std::int32_t>(length);
    const puretone_signal signal = signal_of(request);
    const int code = puretone_signal_frames(&request.format, &signal, 0, length, nullptr);
    if (code != PURETONE_OK && code != PURETONE_ERROR_NULL) {
        std::fprintf(stderr, "puretone: %s\n", puretone_strerror(code));
        return std::nullopt;
    }
    return request;
}

}  // namespace

std::optional<tone_request> read_command_line(int argc, char** argv)
{
    tone_request request{nullptr, PURETONE_FORMAT_INIT, {}, 0, 0, 0};
    signal_options options;
    int k = 1;
    bool ended = false;
    for (; k < argc && is_option(argv[k]); ++k) {
        if (std::string_view(argv[k]) == "--") {
            ++k;
            ended = true;
            break;
        }
        const std::string_view flag = argv[k];
        if (flag == "--help" || flag == "-h" || flag == "--version")
            continue;  // answered before, where every option was known
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
        const std::string_view name = option->name;
        if (name == "rate" || name == "format" || name == "level" || name == "channels") {
            if (!read_option_value(option->name, value, request.format)) {
                bad_value(option->name, value, option_range(option->name));
                return std::nullopt;
            }
        } else if (!read_signal_option(name, value, options)) {
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
    // numbers, as they always were. After "--" nothing is an option.
    for (int later = k + 1; !ended && later < argc; ++later) {
        if (match_value_option(argv[later])) {
            std::fprintf(stderr, "puretone: '%s' comes after the file; options go before it\n",
                         printable(argv[later]).c_str());
            return std::nullopt;
        }
    }
    const int numbers = std::min(argc - k - 1, 2);
    if (numbers >= 1 && !options.tones.empty()) {
        refuse("a frequency after the file and --tone cannot both be given: put every tone in a --tone");
        return std::nullopt;
    }
    if (options.phase && !options.tones.empty()) {
        refuse("--phase sets the phase of the frequency after the file; give each --tone its own phase");
        return std::nullopt;
    }
    if (options.sweep != nullptr) {
        if (!sweep_of(options.sweep, request)) {
            bad_value("sweep", options.sweep, "F1:F2[:exp|sync|linear] in decimal hertz, such as 20:20000");
            return std::nullopt;
        }
        if (numbers >= 1 || !options.tones.empty() || options.phase) {
            refuse("--sweep makes the signal: give no frequency after the file, no --tone and no --phase with it");
            return std::nullopt;
        }
    }
    if (options.inverse != nullptr) {
        if (request.sweep != PURETONE_SWEEP_EXPONENTIAL && request.sweep != PURETONE_SWEEP_SYNCHRONIZED) {
            refuse("--inverse writes the inverse filter of an exponential or synchronized --sweep");
            return std::nullopt;
        }
        request.inverse_path = options.inverse;
        if (same_output(request.inverse_path, request.path)) {
            refuse("--inverse and the sweep name the same file: give each its own");
            return std::nullopt;
        }
    }
    if (options.length != nullptr && options.frames != nullptr) {
        refuse("--length and --frames cannot both be given");
        return std::nullopt;
    }
    if (numbers >= 2 && (options.length != nullptr || options.frames != nullptr)) {
        refuse("a duration after the file cannot be given with --length or --frames");
        return std::nullopt;
    }
    if (options.tones.empty() && request.sweep == PURETONE_SWEEP_NONE) {
        double frequency = 440.0;
        if (numbers >= 1) {
            const auto whole = leading_integer(argv[k + 1]);
            if (!whole) {
                complain("frequency", argv[k + 1], "-2147483648 to 2147483647 Hz");
                return std::nullopt;
            }
            frequency = *whole;
        }
        options.tones.push_back({frequency, 0, options.phase.value_or(0.0), PURETONE_LEVEL_FULL, 0});
    }
    request.tones = options.tones;
    const std::int64_t longest = puretone_longest_frames(&request.format);
    const std::uint32_t rate = request.format.rate;
    std::int64_t frames = std::int64_t{10} * rate;  // 10 s fits every format: the widest holds 174 s
    if (numbers >= 2) {
        const std::int32_t longest_whole = longest_seconds_of(request.format);
        const auto seconds = leading_integer(argv[k + 2]);
        if (!seconds || *seconds < 0 || *seconds > longest_whole) {
            const std::string range = "0 to " + std::to_string(longest_whole) + " seconds";
            complain("duration", argv[k + 2], range.c_str());
            return std::nullopt;
        }
        frames = std::int64_t{*seconds} * rate;
    } else if (options.frames != nullptr) {
        const auto count = strict_integer(options.frames, 0, longest);
        if (!count) {
            const std::string range = "0 to " + std::to_string(longest) + " frames";
            bad_value("frames", options.frames, range.c_str());
            return std::nullopt;
        }
        frames = *count;
    } else if (options.length != nullptr && !read_duration("length", options.length, rate, longest, frames)) {
        return std::nullopt;
    }
    request.frames = static_cast<std::int32_t>(frames);
    for (const auto& [name, text, fade] : {std::tuple{"fade-in", options.fade_in, &request.fade_in},
                                           std::tuple{"fade-out", options.fade_out, &request.fade_out}}) {
        if (text == nullptr)
            continue;
        if (!read_duration(name, text, rate, longest, *fade))
            return std::nullopt;
        if (*fade > frames) {
            std::fprintf(stderr, "puretone: %s '%s' is %lld frames, longer than the signal's %lld\n", name,
                         printable(text).c_str(), static_cast<long long>(*fade), static_cast<long long>(frames));
            return std::nullopt;
        }
    }
    // The library checks the rest: every tone's frequency, level, phase and
    // channels, the sums, and every angle, within the exact domain (a NULL
    // buffer has it check the request alone).
    if (request.sweep != PURETONE_SWEEP_NONE)
        return sweep_request(request, longest, options.sweep);
    const puretone_signal signal = signal_of(request);
    const int code = puretone_signal_frames(&request.format, &signal, 0, frames, nullptr);
    if (code != PURETONE_OK && code != PURETONE_ERROR_NULL) {
        explain_signal_refusal(code, request, options);
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
