// Escapes what a message must not print raw. A path may hold any byte but
// '\0' and '/'-separators; a newline in it would split the one-line message,
// and an escape sequence would act on the user's terminal.
#include "printable.hpp"

#include "printable_table.hpp"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace puretone {
namespace {

void append_hex(std::string& out, unsigned char byte)
{
    const char* digits = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0xF];
}

// The length of the valid UTF-8 sequence that starts text[at], or 0 when it
// is not one: no overlong forms, no surrogates, nothing beyond U+10FFFF.
std::size_t utf8_length(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[at + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // E0 80..9F would be overlong
        high = lead == 0xED ? 0x9F : 0xBF;  // ED A0..BF are surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;   // F0 80..8F would be overlong
        high = lead == 0xF4 ? 0x8F : 0xBF;  // F4 90.. is beyond U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (byte(k) < 0x80 || byte(k) > 0xBF)
            return 0;
    return length;
}

// The code point of a valid sequence of 2 to 4 bytes.
char32_t code_point(std::string_view text, std::size_t at, std::size_t length)
{
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[at + k])); };
    char32_t point = byte(0) & (0x7F >> length);  // the lead byte's payload
    for (std::size_t k = 1; k < length; ++k)
        point = point << 6 | (byte(k) & 0x3F);
    return point;
}

// Valid, but not a graphic character of its own, so that two different
// names would print alike, or the text would turn around (U+202E shows
// "wav.exe" for "exe.vaw"): the table's ranges, by binary search.
bool hides_text(char32_t c)
{
    const auto after = std::upper_bound(std::begin(escaped_code_points), std::end(escaped_code_points), c,
                                        [](char32_t point, const code_point_range& range) { return point < range.first; });
    return after != std::begin(escaped_code_points) && c <= std::prev(after)->last;
}

// \u{XXXX}, with five or six digits where the code point needs them.
void append_code_point(std::string& out, char32_t c)
{
    const char* digits = "0123456789ABCDEF";
    out += "\\u{";
    const int top = c > 0xFFFFF ? 20 : c > 0xFFFF ? 16 : 12;
    for (int shift = top; shift >= 0; shift -= 4)
        out += digits[(c >> shift) & 0xF];
    out += '}';
}

}  // namespace

std::string printable(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        // A space shows as one only between other characters; at either end
        // it would vanish into the quotes around the text.
        if (c == ' ' && (at == 0 || at + 1 == text.size())) {
            append_code_point(out, c);
            ++at;
            continue;
        }
        if (c >= 0x20 && c < 0x7F) {  // printable ASCII
            if (c == '\\')
                out += '\\';
            out += static_cast<char>(c);
            ++at;
            continue;
        }
        if (c == '\n' || c == '\t' || c == '\r') {
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\r";
            ++at;
            continue;
        }
        const std::size_t length = c >= 0x80 ? utf8_length(text, at) : 0;
        // U+0080..U+009F, the C1 controls, are C2 80..C2 9F: valid, but a
        // terminal acts on them (C2 9B is the CSI of an escape sequence).
        const bool c1_control = length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (length == 0 || c1_control) {
            append_hex(out, c);
            ++at;
            continue;
        }
        if (const char32_t point = code_point(text, at, length); hides_text(point)) {
            append_code_point(out, point);
            at += length;
            continue;
        }
        out.append(text.substr(at, length));
        at += length;
    }
    return out;
}

}  // namespace puretone
