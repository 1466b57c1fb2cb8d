// puretone for C++20: the C API, with spans, vectors and exceptions.
//
// Bad input throws std::invalid_argument (the frequency, a null buffer, a
// format description) or std::out_of_range (a start, count, window, angle or
// frame count out of range), carrying the library's message; a sample the
// library could not settle (PURETONE_ERROR_UNSETTLED, never seen) throws
// std::runtime_error.
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
#include <type_traits>
#include <vector>

namespace puretone {

inline void throw_if_error(int code)
{
    if (code == PURETONE_OK)
        return;
    if (code == PURETONE_ERROR_FREQUENCY || code == PURETONE_ERROR_NULL || code == PURETONE_ERROR_DESCRIPTION
        || code == PURETONE_ERROR_RATE || code == PURETONE_ERROR_FORMAT || code == PURETONE_ERROR_LEVEL
        || code == PURETONE_ERROR_CHANNELS || code == PURETONE_ERROR_TONE || code == PURETONE_ERROR_SUM
        || code == PURETONE_ERROR_FADE || code == PURETONE_ERROR_SWEEP)
        throw std::invalid_argument(puretone_strerror(code));
    if (code == PURETONE_ERROR_UNSETTLED)
        throw std::runtime_error(puretone_strerror(code));
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

// A format: the default (44100 Hz, s16, full level, mono) with any of
// these changed.
inline puretone_format format(std::uint32_t rate = 44100, int sample_format = PURETONE_FORMAT_S16,
                              int level_kind = PURETONE_LEVEL_FULL, double level = 0.0, std::uint32_t channels = 1)
{
    puretone_format description = PURETONE_FORMAT_INIT;
    description.rate = rate;
    description.sample_format = sample_format;
    description.level_kind = level_kind;
    description.level = level;
    description.channels = channels;
    return description;
}

// Fills `out` with frames start .. start + out.size() / channels - 1 of the
// tone in `description`, interleaved: Sample is std::int16_t for s16,
// std::int32_t for s24 and s32, float for f32 (else std::invalid_argument).
// out.size() must be a whole number of frames.
// The frames `out` holds in `description`, once its type and size are
// checked against it.
template <class Sample>
inline std::int64_t frames_of(const puretone_format& description, std::span<Sample> out)
{
    constexpr int width = std::is_same_v<Sample, std::int16_t> ? 0 : std::is_same_v<Sample, float> ? 3 : 1;
    const int kind = description.sample_format;
    const bool matches = (width == 0 && kind == PURETONE_FORMAT_S16) || (width == 3 && kind == PURETONE_FORMAT_F32)
        || (width == 1 && (kind == PURETONE_FORMAT_S24 || kind == PURETONE_FORMAT_S32));
    if (const int length = puretone_header_length(&description); length < 0)
        throw_if_error(length);  // a bad description's own message
    if (!matches || out.size() % description.channels != 0)
        throw std::invalid_argument("the buffer's type or size does not match the format");
    return static_cast<std::int64_t>(out.size() / description.channels);
}

template <class Sample>
inline void frames(const puretone_format& description, double frequency, std::int64_t start, std::span<Sample> out)
{
    throw_if_error(puretone_frames(&description, frequency, start, frames_of(description, out), out.data()));
}

// The same for a signal (puretone_signal_frames): its tones, phases and fades.
template <class Sample>
inline void signal_frames(const puretone_format& description, const puretone_signal& signal, std::int64_t start,
                          std::span<Sample> out)
{
    throw_if_error(puretone_signal_frames(&description, &signal, start, frames_of(description, out), out.data()));
}

// A signal of one sweep (see puretone.h) of `length` frames asked for,
// with these fades.
inline puretone_signal sweep(int kind, double f1, double f2, std::int64_t length, std::int64_t fade_in = 0,
                             std::int64_t fade_out = 0)
{
    puretone_signal signal = PURETONE_SIGNAL_INIT;
    signal.length = length;
    signal.fade_in = fade_in;
    signal.fade_out = fade_out;
    signal.sweep = kind;
    signal.sweep_from = f1;
    signal.sweep_to = f2;
    return signal;
}

// The signal's frames: its length, or a synchronized sweep's own.
inline std::int64_t signal_length(const puretone_format& description, const puretone_signal& signal)
{
    const std::int64_t length = puretone_signal_length(&description, &signal);
    throw_if_error(length < 0 ? static_cast<int>(length) : PURETONE_OK);
    return length;
}

// Fills `out` with frames start .. start + out.size() - 1 of the inverse
// filter of the sweep in `signal` (puretone_inverse_frames): mono f32.
inline void inverse_frames(const puretone_format& description, const puretone_signal& signal, std::int64_t start,
                           std::span<float> out)
{
    if (out.size() > static_cast<std::size_t>(INT64_MAX))
        throw std::out_of_range(puretone_strerror(PURETONE_ERROR_WINDOW));
    throw_if_error(puretone_inverse_frames(&description, &signal, start, static_cast<std::int64_t>(out.size()),
                                           out.data()));
}

// The header of a file of frame_count frames in `description`.
inline std::vector<unsigned char> header(const puretone_format& description, std::int64_t frame_count)
{
    const int length = puretone_header_length(&description);
    throw_if_error(length < 0 ? length : PURETONE_OK);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(length));
    throw_if_error(puretone_header(&description, frame_count, bytes.data()));
    return bytes;
}

inline const char* version() { return puretone_version(); }

}  // namespace puretone
