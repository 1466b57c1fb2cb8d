// The public C API over the sample stream and the header records: checks
// every argument before anything is written, then delegates. The only
// symbols the library exports are defined here.
#include "puretone/puretone.h"

#include "lib/angle_reduction.hpp"
#include "lib/float_environment.hpp"
#include "lib/signal_format.hpp"
#include "lib/inverse_filter.hpp"
#include "lib/signal_stream.hpp"
#include "lib/sine_stream.hpp"
#include "lib/tone_format.hpp"
#include "lib/wav_header.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>

namespace {

constexpr std::int64_t index_end = std::int64_t{1} << 31;  // one past the last index; N fits int32
// The most samples whose RIFF size, 36 + 2N, fits in 32 bits.
constexpr std::int64_t most_header_samples = (0xFFFFFFFFLL - 36) / 2;

// The checks of puretone_samples, in its order, for frames.
int check_window(double frequency, std::int64_t start, std::int64_t count)
{
    // 2^31: the largest magnitude the reduction's domain is proven for, with
    // every index below 2^31 at 44100 Hz (angles below 6.6e14).
    if (!std::isfinite(frequency) || std::fabs(frequency) > 2147483648.0)
        return PURETONE_ERROR_FREQUENCY;
    if (start < 0)
        return PURETONE_ERROR_START;
    if (count < 0)
        return PURETONE_ERROR_COUNT;
    if (start > index_end - count)
        return PURETONE_ERROR_WINDOW;
    return PURETONE_OK;
}

// Frame k's sample, made at out[k], copied to every channel of frame k:
// from the last frame down, so that frame k's copies (at k * C and above)
// never overwrite a sample not yet spread (below k).
// PURETONE_ERROR_UNSETTLED where the accurate path left a sine open.
template <class Sample>
int fill_frames(const puretone::tone_format& format, double frequency, std::int64_t start, std::int64_t count,
                Sample* out)
{
    const auto frames = static_cast<std::size_t>(count);
    if (!puretone::tone_samples<Sample>(static_cast<std::int32_t>(start),
                                        {static_cast<double>(format.rate), frequency, format.peak},
                                        std::span(out, frames)))
        return PURETONE_ERROR_UNSETTLED;
    const std::size_t channels = format.channels;
    if (channels == 1)
        return PURETONE_OK;
    for (std::size_t k = frames; k-- > 0;) {
        const Sample sample = out[k];
        for (std::size_t c = 0; c < channels; ++c)
            out[k * channels + c] = sample;
    }
    return PURETONE_OK;
}

// The last checks of a call that fills frames, the buffer's, then fill(p)
// with `out` as the format's sample type: int16_t, int32_t (s24, s32) or
// float.
template <class Fill>
int with_samples(const puretone::tone_format& format, int64_t count, void* out, Fill fill)
{
    if (out == nullptr && count > 0)
        return PURETONE_ERROR_NULL;
    if (count == 0)
        return PURETONE_OK;
    switch (format.type) {
    case puretone::sample_type::s16:
        return fill(static_cast<std::int16_t*>(out));
    case puretone::sample_type::s24:
    case puretone::sample_type::s32:
        return fill(static_cast<std::int32_t*>(out));
    case puretone::sample_type::f32:
        return fill(static_cast<float*>(out));
    }
    return PURETONE_ERROR_FORMAT;  // read_format admits only the four
}

// The calls below, as they run inside the default floating-point
// environment: the exported functions enter it, whatever the caller set,
// and hand the caller's back (the checks, the level's peak and the angle
// check use doubles too). Not inlined, so that their operations on
// doubles stay inside.
[[gnu::noinline]] int unguarded_samples(double frequency, int64_t start, int64_t count, int16_t* out)
{
    if (const int code = check_window(frequency, start, count))
        return code;
    if (out == nullptr && count > 0)
        return PURETONE_ERROR_NULL;
    if (count > 0
        && !puretone::sine_samples(static_cast<std::int32_t>(start), frequency,
                                   std::span(out, static_cast<std::size_t>(count))))
        return PURETONE_ERROR_UNSETTLED;
    return PURETONE_OK;
}

[[gnu::noinline]] int unguarded_frames(const puretone_format* description, double frequency, int64_t start, int64_t count, void* out)
{
    puretone::tone_format format;
    if (const int code = puretone::read_format(description, format))
        return code;
    if (const int code = check_window(frequency, start, count))
        return code;
    // |t| grows with the index (every step of the angle is monotonic), so
    // the last frame's angle is the window's largest.
    if (count > 0) {
        const double last = puretone::sine_angle(static_cast<std::int32_t>(start + count - 1), frequency, format.rate);
        if (!(std::fabs(last) <= puretone::reduction_domain))
            return PURETONE_ERROR_ANGLE;
    }
    return with_samples(format, count, out,
                        [&](auto* samples) { return fill_frames(format, frequency, start, count, samples); });
}

// Whether every tone's angle at the window's ends lies within the domain:
// c + p is monotonic in the index, and so is each later step, so the ends
// hold the largest |t|.
bool signal_angles_in_domain(const puretone::signal_shape& shape, double rate, int64_t start, int64_t count)
{
    for (std::uint32_t k = 0; k < shape.tone_count; ++k)
        for (const int64_t index : {start, start + count - 1})
            if (!(std::fabs(puretone::signal_angle(index, shape.tones[k], rate)) <= puretone::reduction_domain))
                return false;
    return true;
}

template <class Sample>
int fill_signal(const puretone::tone_format& format, const puretone::signal_shape& shape, int64_t start,
                int64_t count, Sample* out)
{
    // One plain tone takes the tone's own path, whose samples are the same,
    // between its fades: frames start .. middle_start - 1 and middle_end ..
    // end - 1 take the signal's, so that a fade costs nothing outside its
    // frames.
    const int64_t end = start + count;
    int64_t middle_start = end, middle_end = end;
    if (puretone::is_plain_tone(shape, format)) {
        middle_start = std::clamp<int64_t>(shape.fade_in, start, end);
        middle_end = std::max(middle_start, shape.fade_out > 0 ? std::clamp<int64_t>(shape.length - shape.fade_out, start, end) : end);
    }
    const auto frame = [&](int64_t index) { return out + (index - start) * format.channels; };
    bool settled = true;
    if (middle_start > start)
        settled = puretone::signal_frames(start, middle_start - start, shape, format, out);
    if (middle_end > middle_start)
        if (const int code = fill_frames(format, shape.tones[0].frequency, middle_start, middle_end - middle_start,
                                         frame(middle_start)))
            return code;
    if (end > middle_end)
        settled = puretone::signal_frames(middle_end, end - middle_end, shape, format, frame(middle_end)) && settled;
    return settled ? PURETONE_OK : PURETONE_ERROR_UNSETTLED;
}

// The format and the signal's description, checked in that order.
int read_request(const puretone_format* description, const puretone_signal* signal, puretone::tone_format& format,
                 puretone::signal_shape& shape)
{
    if (const int code = puretone::read_format(description, format))
        return code;
    return puretone::read_signal(signal, format, shape);
}

// start, count and the window, which ends within the signal's length where
// it has one.
int check_signal_window(const puretone::signal_shape& shape, int64_t start, int64_t count)
{
    if (start < 0)
        return PURETONE_ERROR_START;
    if (count < 0)
        return PURETONE_ERROR_COUNT;
    if (start > (shape.length > 0 ? shape.length : index_end) - count)
        return PURETONE_ERROR_WINDOW;
    return PURETONE_OK;
}

[[gnu::noinline]] int unguarded_signal_frames(const puretone_format* description, const puretone_signal* signal,
                                              int64_t start, int64_t count, void* out)
{
    puretone::tone_format format;
    puretone::signal_shape shape;
    if (const int code = read_request(description, signal, format, shape))
        return code;
    if (const int code = check_signal_window(shape, start, count))
        return code;
    if (count > 0 && !signal_angles_in_domain(shape, format.rate, start, count))
        return PURETONE_ERROR_ANGLE;
    return with_samples(format, count, out,
                        [&](auto* samples) { return fill_signal(format, shape, start, count, samples); });
}

[[gnu::noinline]] int64_t unguarded_signal_length(const puretone_format* description, const puretone_signal* signal)
{
    puretone::tone_format format;
    puretone::signal_shape shape;
    if (const int code = read_request(description, signal, format, shape))
        return code;
    return shape.length;
}

[[gnu::noinline]] int unguarded_inverse_frames(const puretone_format* description, const puretone_signal* signal,
                                               int64_t start, int64_t count, float* out)
{
    puretone::tone_format format;
    puretone::signal_shape shape;
    if (const int code = read_request(description, signal, format, shape))
        return code;
    if (!shape.swept || shape.sweep.terms.kind == puretone::sweep_kind::linear)
        return PURETONE_ERROR_SWEEP;
    if (const int code = check_signal_window(shape, start, count))
        return code;
    if (out == nullptr && count > 0)
        return PURETONE_ERROR_NULL;
    if (count == 0)
        return PURETONE_OK;
    return puretone::inverse_frames(start, count, shape, out) ? PURETONE_OK : PURETONE_ERROR_UNSETTLED;
}

[[gnu::noinline]] int unguarded_header_length(const puretone_format* description)
{
    puretone::tone_format format;
    if (const int code = puretone::read_format(description, format))
        return code;
    return static_cast<int>(puretone::header_length(format));
}

[[gnu::noinline]] int64_t unguarded_longest_frames(const puretone_format* description)
{
    puretone::tone_format format;
    if (const int code = puretone::read_format(description, format))
        return code;
    return puretone::longest_frames(format);
}

// Bytes of a frame in memory or in the file.
[[gnu::noinline]] int unguarded_frame_bytes(const puretone_format* description, bool in_file)
{
    puretone::tone_format format;
    if (const int code = puretone::read_format(description, format))
        return code;
    if (in_file)
        return static_cast<int>(puretone::frame_bytes(format));
    const int sample = format.type == puretone::sample_type::s16 ? 2 : 4;  // int16_t, or int32_t and float
    return sample * static_cast<int>(format.channels);
}

[[gnu::noinline]] int unguarded_header(const puretone_format* description, int64_t frame_count, unsigned char* header)
{
    puretone::tone_format format;
    if (const int code = puretone::read_format(description, format))
        return code;
    if (frame_count < 0 || frame_count > puretone::longest_frames(format))
        return PURETONE_ERROR_FRAME_COUNT;
    if (header == nullptr)
        return PURETONE_ERROR_NULL;
    puretone::build_header(format, frame_count, header);
    return PURETONE_OK;
}

}  // namespace

extern "C" {

int puretone_samples(double frequency, int64_t start, int64_t count, int16_t* out)
{
    return puretone::in_default_environment([&] { return unguarded_samples(frequency, start, count, out); });
}

int puretone_frames(const puretone_format* description, double frequency, int64_t start, int64_t count, void* out)
{
    return puretone::in_default_environment(
        [&] { return unguarded_frames(description, frequency, start, count, out); });
}

int puretone_signal_frames(const puretone_format* description, const puretone_signal* signal, int64_t start,
                           int64_t count, void* out)
{
    return puretone::in_default_environment(
        [&] { return unguarded_signal_frames(description, signal, start, count, out); });
}

int64_t puretone_signal_length(const puretone_format* description, const puretone_signal* signal)
{
    return puretone::in_default_environment([&] { return unguarded_signal_length(description, signal); });
}

int puretone_inverse_frames(const puretone_format* description, const puretone_signal* signal, int64_t start,
                            int64_t count, float* out)
{
    return puretone::in_default_environment(
        [&] { return unguarded_inverse_frames(description, signal, start, count, out); });
}

int puretone_header_length(const puretone_format* description)
{
    return puretone::in_default_environment([&] { return unguarded_header_length(description); });
}

int64_t puretone_longest_frames(const puretone_format* description)
{
    return puretone::in_default_environment([&] { return unguarded_longest_frames(description); });
}

int puretone_frame_bytes(const puretone_format* description)
{
    return puretone::in_default_environment([&] { return unguarded_frame_bytes(description, false); });
}

int puretone_file_frame_bytes(const puretone_format* description)
{
    return puretone::in_default_environment([&] { return unguarded_frame_bytes(description, true); });
}

int puretone_header(const puretone_format* description, int64_t frame_count, unsigned char* header)
{
    return puretone::in_default_environment([&] { return unguarded_header(description, frame_count, header); });
}

int puretone_wav_header(int64_t sample_count, unsigned char header[44])
{
    if (sample_count < 0 || sample_count > most_header_samples)
        return PURETONE_ERROR_SAMPLE_COUNT;
    if (header == nullptr)
        return PURETONE_ERROR_NULL;
    const puretone::wav_header records = puretone::build_wav_header(static_cast<std::int32_t>(sample_count));
    std::memcpy(header, records.riff.data(), 12);
    std::memcpy(header + 12, records.fmt.data(), 24);
    std::memcpy(header + 36, records.data.data(), 8);
    return PURETONE_OK;
}

const char* puretone_strerror(int code)
{
    switch (code) {
    case PURETONE_OK:
        return "success";
    case PURETONE_ERROR_FREQUENCY:
        return "the frequency is not a finite number from -2147483648 to 2147483648 Hz";
    case PURETONE_ERROR_START:
        return "the start index is negative";
    case PURETONE_ERROR_COUNT:
        return "the sample count is negative";
    case PURETONE_ERROR_WINDOW:
        return "the samples reach past index 2147483647, or past the signal's length";
    case PURETONE_ERROR_NULL:
        return "the buffer is NULL";
    case PURETONE_ERROR_SAMPLE_COUNT:
        return "the sample count is outside 0 to 2147483629, whose sizes fit a WAV header";
    case PURETONE_ERROR_DESCRIPTION:
        return "the format description is NULL, or of a size or with fields this library does not know";
    case PURETONE_ERROR_RATE:
        return "the rate is outside 1 to 768000 Hz";
    case PURETONE_ERROR_FORMAT:
        return "the sample format is not s16, s24, s32 or f32";
    case PURETONE_ERROR_LEVEL:
        return "the level is not full, a ratio from 0 to 1, or a finite dBFS value of at most 0";
    case PURETONE_ERROR_CHANNELS:
        return "the channel count is outside 1 to 8";
    case PURETONE_ERROR_ANGLE:
        return "an angle of the window is beyond 8.8e14, where the exact reduction ends (a higher rate, a lower "
               "frequency or an earlier window fits)";
    case PURETONE_ERROR_FRAME_COUNT:
        return "the frame count is negative, or the file's sizes would not fit RIFF's 32 bits (for a signal: its "
               "length is outside 0 to 2^31)";
    case PURETONE_ERROR_UNSETTLED:
        return "a sine or a level's peak was still open at 512 bits, which no known case needs; the buffer is "
               "partly written and must not be used: please report the frequency, the format and the window";
    case PURETONE_ERROR_TONE:
        return "more than 16 tones, or a tone's phase not finite within 2^31 cycles, or its channels beyond the "
               "format's";
    case PURETONE_ERROR_SUM:
        return "a channel's tone levels sum above 1, so its samples could clip";
    case PURETONE_ERROR_SWEEP:
        return "a sweep's kind or frequencies are out of range (exponential and synchronized need 0 < f1 < f2 and "
               "f2 / f1 <= 2^40, linear f1 != f2, and every frequency at most half the rate), it has tones beside "
               "it or no length, or it has no inverse filter";
    case PURETONE_ERROR_FADE:
        return "a fade is negative or longer than the signal, or a fade-out has no length to end with";
    default:
        return "unknown puretone error code";
    }
}

const char* puretone_version(void)
{
    return PURETONE_VERSION;
}

}  // extern "C"
