// Escapes what a message must not print raw. A path may hold any byte but
// '\0' and '/'-separators; a newline in it would split the one-line message,
// and an escape sequence would act on the user's terminal.
#include "printable.hpp"

#include <cstddef>

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

// Valid, but they break the line, turn the text around, or show nothing at
// all, so that two different names would print alike: the line and
// paragraph separators; the bidirectional marks, embeddings, overrides and
// isolates (U+202E shows "wav.exe" for "exe.vaw"), the Arabic letter mark
// among them; and the other characters that are invisible by default (the
// soft hyphen, zero-width spaces and joiners, the word joiner and invisible
// operators, fillers, variation selectors, the byte-order mark, the
// interlinear annotation marks, musical formatting and the tags).
bool hides_text(char32_t c)
{
    constexpr struct {
        char32_t first, last;
    } ranges[] = {{0x00AD, 0x00AD}, {0x034F, 0x034F}, {0x061C, 0x061C}, {0x115F, 0x1160}, {0x17B4, 0x17B5},
                  {0x180B, 0x180F}, {0x200B, 0x200F}, {0x2028, 0x202E}, {0x2060, 0x206F}, {0x3164, 0x3164},
                  {0xFE00, 0xFE0F}, {0xFEFF, 0xFEFF}, {0xFFA0, 0xFFA0}, {0xFFF0, 0xFFFB}, {0x1BCA0, 0x1BCA3},
                  {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}};
    for (const auto& range : ranges)
        if (c >= range.first && c <= range.last)
            return true;
    return false;
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
