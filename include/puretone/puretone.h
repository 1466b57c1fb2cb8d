/* puretone: exact sine tones as 16-bit samples, the same on every platform.
 *
 * Sample i of the tone at `frequency` Hz is
 *     trunc(32767 * RN(sin(((i / 44100.0) * frequency * 2) * pi)))
 * with every step rounded to double in that order, and RN the correctly
 * rounded sine: the same bits on every CPU and C library. The program
 * puretone writes these very samples, little-endian, after a 44-byte header.
 *
 * Every call returns 0 or a negative PURETONE_ERROR_* code, which
 * puretone_strerror names. On an error nothing is written. The calls keep no
 * state between them and are safe to make from any number of threads; they
 * never print, exit or abort.
 */
#ifndef PURETONE_PURETONE_H
#define PURETONE_PURETONE_H

#include <stdint.h>

#define PURETONE_VERSION_MAJOR 0
#define PURETONE_VERSION_MINOR 3
#define PURETONE_VERSION_PATCH 0

#if defined(_WIN32)
#define PURETONE_API
#else
#define PURETONE_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
    PURETONE_OK = 0,
    PURETONE_ERROR_FREQUENCY = -1,    /* not finite, or |frequency| > 2^31 */
    PURETONE_ERROR_START = -2,        /* start < 0 */
    PURETONE_ERROR_COUNT = -3,        /* count < 0 */
    PURETONE_ERROR_WINDOW = -4,       /* start + count > 2^31 */
    PURETONE_ERROR_NULL = -5,         /* a NULL buffer where one is needed */
    PURETONE_ERROR_SAMPLE_COUNT = -6  /* a header's sizes would not fit 32 bits */
};

/* Samples start .. start + count - 1 of the tone at `frequency` Hz into
 * out[0 .. count - 1]. Any finite frequency with |frequency| <= 2^31, whole
 * or not; start >= 0, count >= 0, start + count <= 2^31; out may be NULL
 * only when count is 0. The checks run in that order, the buffer last, so
 * a NULL buffer validates a request without writing. A window far into a
 * tone costs what one at its start costs. */
PURETONE_API int puretone_samples(double frequency, int64_t start, int64_t count, int16_t* out);

/* The 44-byte RIFF/WAVE header of a mono, 16-bit, 44100 Hz file of
 * sample_count samples: 0 <= sample_count <= 2147483629, the most whose
 * RIFF size, 36 + 2 * sample_count, fits 32 bits. */
PURETONE_API int puretone_wav_header(int64_t sample_count, unsigned char header[44]);

/* A one-line message for any code, known or not; never NULL. */
PURETONE_API const char* puretone_strerror(int code);

/* The library's version, "MAJOR.MINOR.PATCH", as puretone --version prints it. */
PURETONE_API const char* puretone_version(void);

#ifdef __cplusplus
}
#endif

#endif /* PURETONE_PURETONE_H */
