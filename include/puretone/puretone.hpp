// puretone for C++20: the C API, with spans, vectors and exceptions.
//
// Bad input throws std::invalid_argument (the frequency, a null buffer) or
// std::out_of_range (a start, count or window out of range), carrying the
// library's message.
#pragma once

// std::span needs C++20; from C or older C++, puretone/puretone.h serves.
#if !defined(__cplusplus) || __cplusplus < 202002L
#error "puretone/puretone.hpp needs C++20 (-std=c++20); from C or C++ before 20, include puretone/puretone.h"
#endif

#include <puretone/puretone.h>

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace puretone {

inline void throw_if_error(int code)
{
    if (code == PURETONE_OK)
        return;
    if (code == PURETONE_ERROR_FREQUENCY || code == PURETONE_ERROR_NULL)
        throw std::invalid_argument(puretone_strerror(code));
    throw std::out_of_range(puretone_strerror(code));
}

// Fills `out` with samples start .. start + out.size() - 1.
inline void samples(double frequency, std::int64_t start, std::span<std::int16_t> out)
{
    if (out.size() > static_cast<std::size_t>(INT64_MAX))
        throw std::out_of_range(puretone_strerror(PURETONE_ERROR_WINDOW));
    throw_if_error(puretone_samples(frequency, start, static_cast<std::int64_t>(out.size()), out.data()));
}

// Samples start .. start + count - 1, in a new vector.
inline std::vector<std::int16_t> samples(double frequency, std::int64_t start, std::int64_t count)
{
    // Checked before allocating, so a bad count never reaches the vector:
    // the buffer is checked last, so only a valid request gets that far.
    if (const int code = puretone_samples(frequency, start, count, nullptr); code != PURETONE_ERROR_NULL)
        throw_if_error(code);
    std::vector<std::int16_t> out(static_cast<std::size_t>(count));
    samples(frequency, start, std::span(out));
    return out;
}

inline std::array<unsigned char, 44> wav_header(std::int64_t sample_count)
{
    std::array<unsigned char, 44> header;
    throw_if_error(puretone_wav_header(sample_count, header.data()));
    return header;
}

inline const char* version() { return puretone_version(); }

}  // namespace puretone
