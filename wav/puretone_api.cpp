// The public C API over the sample stream and the header records: checks
// every argument before anything is written, then delegates. The only
// symbols the library exports are defined here.
#include "puretone/puretone.h"

#include "wav/float_environment.hpp"
#include "wav/sine_stream.hpp"
#include "wav/wav_header.hpp"

#include <cmath>
#include <cstring>
#include <span>

namespace {

constexpr std::int64_t index_end = std::int64_t{1} << 31;  // one past the last index; N fits int32
// The most samples whose RIFF size, 36 + 2N, fits in 32 bits.
constexpr std::int64_t most_header_samples = (0xFFFFFFFFLL - 36) / 2;

}  // namespace

extern "C" {

int puretone_samples(double frequency, int64_t start, int64_t count, int16_t* out)
{
    // 2^31: the largest magnitude the reduction's domain is proven for, with
    // every index below 2^31 (angles below 6.6e14).
    if (!std::isfinite(frequency) || std::fabs(frequency) > 2147483648.0)
        return PURETONE_ERROR_FREQUENCY;
    if (start < 0)
        return PURETONE_ERROR_START;
    if (count < 0)
        return PURETONE_ERROR_COUNT;
    if (start > index_end - count)
        return PURETONE_ERROR_WINDOW;
    if (out == nullptr && count > 0)
        return PURETONE_ERROR_NULL;
    if (count > 0) {
        // The samples are those of round to nearest with no traps, whatever
        // the caller's mode, traps or flags; the caller gets them back.
        const puretone::saved_environment saved = puretone::enter_default_environment();
        puretone::sine_samples(static_cast<std::int32_t>(start), frequency,
                               std::span(out, static_cast<std::size_t>(count)));
        puretone::leave_default_environment(saved);
    }
    return PURETONE_OK;
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
        return "the samples reach past index 2147483647";
    case PURETONE_ERROR_NULL:
        return "the buffer is NULL";
    case PURETONE_ERROR_SAMPLE_COUNT:
        return "the sample count is outside 0 to 2147483629, whose sizes fit a WAV header";
    default:
        return "unknown puretone error code";
    }
}

const char* puretone_version(void)
{
    return PURETONE_VERSION;
}

}  // extern "C"
