// Reads the options' values strictly: every character accounted for, and
// durations rounded exactly from their digits, not through a double.
#include "option_values.hpp"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>

// A phase is RN(degrees / 360), rounded once, as the library's formula says:
// on 32-bit x86 the build computes in SSE2, not x87's wider registers.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "FLT_EVAL_METHOD is not 0: a phase would be rounded twice; on 32-bit x86 build with -msse2 -mfpmath=sse"
#endif

namespace puretone {
namespace {

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits from `at`: how many.
std::size_t digits_from(std::string_view text, std::size_t at)
{
    std::size_t end = at;
    while (end < text.size() && is_digit(text[end]))
        ++end;
    return end - at;
}

// A string of decimal digits times a small factor, exactly.
std::string times(std::string_view digits, std::uint32_t factor)
{
    std::string product(digits.size(), '0');
    std::uint64_t carry = 0;
    for (std::size_t k = digits.size(); k-- > 0;) {
        const std::uint64_t value = static_cast<std::uint64_t>(digits[k] - '0') * factor + carry;
        product[k] = static_cast<char>('0' + value % 10);
        carry = value / 10;
    }
    for (; carry > 0; carry /= 10)
        product.insert(product.begin(), static_cast<char>('0' + carry % 10));
    return product;
}

bool ends_with(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace

std::optional<double> decimal_number(std::string_view text)
{
    std::size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        ++at;
    const std::size_t whole = digits_from(text, at);
    at += whole;
    std::size_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        fraction = digits_from(text, at + 1);
        at += 1 + fraction;
    }
    if (whole + fraction == 0)
        return std::nullopt;
    const std::string_view mantissa = text.substr(0, at);
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        std::size_t exponent = at + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-'))
            ++exponent;
        const std::size_t count = digits_from(text, exponent);
        if (count == 0)
            return std::nullopt;
        at = exponent + count;
    }
    if (at != text.size())
        return std::nullopt;
    // The grammar is a subset of strtod's in the C locale, which the program
    // never changes, and strtod rounds to nearest.
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    const bool nonzero = mantissa.find_first_of("123456789") != std::string_view::npos;
    if (!std::isfinite(value) || (value == 0 && nonzero))
        return std::nullopt;
    return value;
}

std::optional<level_value> level_of(std::string_view text)
{
    if (text == "full")
        return level_value{PURETONE_LEVEL_FULL, 0.0};
    for (const std::string_view suffix : {"dBFS", "dB"})
        if (ends_with(text, suffix)) {
            const auto decibels = decimal_number(text.substr(0, text.size() - suffix.size()));
            if (!decibels)
                return std::nullopt;
            return level_value{PURETONE_LEVEL_DBFS, *decibels};
        }
    const auto ratio = decimal_number(text);
    if (!ratio)
        return std::nullopt;
    return level_value{PURETONE_LEVEL_RATIO, *ratio};
}

std::optional<std::int64_t> duration_frames(std::string_view text, std::uint32_t rate)
{
    std::size_t scale = 0;  // decimal places of seconds
    if (ends_with(text, "ms")) {
        text.remove_suffix(2);
        scale = 3;
    } else if (ends_with(text, "s")) {
        text.remove_suffix(1);
    }
    const std::size_t whole = digits_from(text, 0);
    std::size_t fraction = 0;
    if (whole < text.size() && text[whole] == '.')
        fraction = digits_from(text, whole + 1);
    const bool pointed = whole < text.size() && text[whole] == '.';
    if (whole + fraction == 0 || (pointed ? whole + 1 + fraction : whole) != text.size())
        return std::nullopt;
    // digits * 10^-places seconds, times the rate, exactly: the frames are
    // the product's digits before the point; ties (a 5 followed by zeros
    // only) go to the even one.
    std::string digits(text.substr(0, whole));
    if (fraction > 0)
        digits += text.substr(whole + 1, fraction);
    const std::size_t places = fraction + scale;
    std::string product = times(digits, rate);
    if (product.size() <= places)
        product.insert(0, places + 1 - product.size(), '0');
    const std::string_view integer = std::string_view(product).substr(0, product.size() - places);
    const std::string_view rest = std::string_view(product).substr(product.size() - places);
    const std::size_t significant = integer.find_first_not_of('0');
    if (significant != std::string_view::npos && integer.size() - significant > 13)
        return longest_duration;
    std::int64_t frames = 0;
    for (const char digit : integer)
        frames = frames * 10 + (digit - '0');
    if (!rest.empty()) {
        const bool above_half = rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string_view::npos);
        const bool half = rest[0] == '5' && rest.find_first_not_of('0', 1) == std::string_view::npos;
        if (above_half || (half && frames % 2 == 1))
            ++frames;
    }
    return frames < longest_duration ? frames : longest_duration;
}

std::optional<double> phase_of(double degrees)
{
    const double cycles = degrees / 360.0;
    if (cycles == 0 && degrees != 0)
        return std::nullopt;
    return cycles;
}

std::optional<puretone_tone> tone_of(std::string_view text)
{
    puretone_tone tone{0, 0, 0, PURETONE_LEVEL_FULL, 0};
    if (const std::size_t equals = text.find('='); equals != std::string_view::npos) {
        std::string_view list = text.substr(0, equals);
        text.remove_prefix(equals + 1);
        // Items "N" or "N-M", 1 <= N <= M <= 8, separated by commas.
        while (true) {
            const std::size_t comma = list.find(',');
            const std::string_view item = list.substr(0, comma);
            const bool single = item.size() == 1, range = item.size() == 3 && item[1] == '-';
            if (!(single || range) || item[0] < '1' || item[0] > '8' || (range && (item[2] < item[0] || item[2] > '8')))
                return std::nullopt;
            for (char c = item[0]; c <= item.back(); ++c)
                tone.channels |= 1u << (c - '1');
            if (comma == std::string_view::npos)
                break;
            list.remove_prefix(comma + 1);
        }
    }
    const std::size_t first_colon = text.find(':');
    const auto frequency = decimal_number(text.substr(0, first_colon));
    if (!frequency)
        return std::nullopt;
    tone.frequency = *frequency;
    if (first_colon == std::string_view::npos)
        return tone;
    text.remove_prefix(first_colon + 1);
    const std::size_t second_colon = text.find(':');
    const auto level = level_of(text.substr(0, second_colon));
    if (!level)
        return std::nullopt;
    tone.level_kind = level->kind;
    tone.level = level->value;
    if (second_colon == std::string_view::npos)
        return tone;
    const auto degrees = decimal_number(text.substr(second_colon + 1));
    if (!degrees || !phase_of(*degrees))
        return std::nullopt;
    tone.phase = *phase_of(*degrees);
    return tone;
}

}  // namespace puretone
