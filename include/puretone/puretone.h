/* puretone: exact sine tones, the same bits on every platform.
 *
 * Frame i (from 0) of the tone at f Hz and rate R Hz:
 *     t = ((i / R) * f * 2) * pi      each step in double, rounded to nearest,
 *                                     in that order; pi = 3.141592653589793
 *     s = RN(sin t)                   the correctly rounded sine
 *   s16, s24, s32: full scale F = 2^(bits-1) - 1 (32767, 8388607, 2147483647);
 *     the peak P is F at full level, the integer nearest F * a for a ratio a
 *     (0 <= a <= 1, ties away from zero), or the integer nearest
 *     F * 10^(d/20) for d dBFS (d <= 0), each computed exactly; the sample
 *     is trunc(RN(P * s)).
 *   f32: P is 1 at full level, a for a ratio, or RN(10^(d/20)) correctly
 *     rounded; the sample is RN32(RN(P * s)), RN32 rounding to float.
 *   Every one of the C channels of a frame holds the same sample.
 * With R = 44100, s16 and full level, sample i is
 *     trunc(32767 * RN(sin(((i / 44100.0) * frequency * 2) * pi)))
 * as puretone_samples gives it. The program puretone writes these very
 * samples, little-endian, after the header puretone_header gives.
 *
 * Every call that can fail returns 0 (or the length or count it is for) or a
 * negative PURETONE_ERROR_* code, which puretone_strerror names. On an error nothing is written, but
 * for PURETONE_ERROR_UNSETTLED: the correctly rounded sine (or a level's peak) is found by a Ziv loop whose
 * every answer is proven by its own error bound, and should its top precision, 512 bits, leave one open
 * (no known case does), the call returns that code rather than a guess, with the buffer partly written. The calls keep no
 * state between them and are safe to make from any number of threads; they
 * never print, exit or abort.
 */
#ifndef PURETONE_PURETONE_H
#define PURETONE_PURETONE_H

#include <stdint.h>

#define PURETONE_VERSION_MAJOR 0
#define PURETONE_VERSION_MINOR 7
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
    PURETONE_ERROR_SAMPLE_COUNT = -6, /* a header's sizes would not fit 32 bits */
    PURETONE_ERROR_DESCRIPTION = -7,  /* NULL, or a size this library cannot read */
    PURETONE_ERROR_RATE = -8,         /* rate outside 1 .. 768000 */
    PURETONE_ERROR_FORMAT = -9,       /* not a PURETONE_FORMAT_* */
    PURETONE_ERROR_LEVEL = -10,       /* not a PURETONE_LEVEL_*, or its value out of range */
    PURETONE_ERROR_CHANNELS = -11,    /* channels outside 1 .. 8 */
    PURETONE_ERROR_ANGLE = -12,       /* an angle beyond the domain of the exact reduction */
    PURETONE_ERROR_FRAME_COUNT = -13, /* a file's sizes would not fit RIFF's 32 bits */
    PURETONE_ERROR_UNSETTLED = -14,   /* a sine or peak left open at 512 bits: never seen; the buffer is unusable */
    PURETONE_ERROR_TONE = -15,        /* a tone's count, phase or channels out of range */
    PURETONE_ERROR_SUM = -16,         /* a channel's levels sum above 1 */
    PURETONE_ERROR_FADE = -17,        /* a fade longer than the signal, or a fade-out with no length */
    PURETONE_ERROR_SWEEP = -18        /* a sweep's kind or frequencies out of range, or it has no length */
};

/* Sample formats, and what puretone_frames writes for each. */
enum {
    PURETONE_FORMAT_S16 = 0, /* int16_t */
    PURETONE_FORMAT_S24 = 1, /* int32_t holding the 24-bit value, sign-extended */
    PURETONE_FORMAT_S32 = 2, /* int32_t */
    PURETONE_FORMAT_F32 = 3  /* float, in [-1, 1] */
};

/* How the level is given. */
enum {
    PURETONE_LEVEL_FULL = 0,  /* full scale; `level` is ignored */
    PURETONE_LEVEL_RATIO = 1, /* a ratio of full scale, 0 <= level <= 1 */
    PURETONE_LEVEL_DBFS = 2   /* dBFS, finite, level <= 0 */
};

/* A tone's format. `size` is sizeof(puretone_format) as the caller was
 * built: later versions may append fields, and a library reads only the
 * fields it knows, refusing a description whose unknown fields are not all
 * zero (so zero must mean "as before" for every field added). Start from
 * PURETONE_FORMAT_INIT, the default: 44100 Hz, s16, full level, mono. */
typedef struct puretone_format {
    uint32_t size;          /* sizeof(puretone_format) */
    uint32_t rate;          /* frames per second, 1 .. 768000 */
    int32_t sample_format;  /* PURETONE_FORMAT_* */
    int32_t level_kind;     /* PURETONE_LEVEL_* */
    double level;           /* the ratio or the dBFS value */
    uint32_t channels;      /* 1 .. 8 */
    uint32_t reserved;      /* 0 */
} puretone_format;

#define PURETONE_FORMAT_INIT \
    { sizeof(puretone_format), 44100, PURETONE_FORMAT_S16, PURETONE_LEVEL_FULL, 0.0, 1, 0 }

/* A signal: tones summed per channel, with fades, beside the format.
 *
 * Tone k has a frequency f_k, an amplitude a_k and a phase p_k in cycles.
 * For frame i at rate R, every operation in double, rounded to nearest, in
 * this order:
 *     c = (i / R) * f_k;  c = c + p_k only where p_k != 0;  t_k = (c * 2) * pi
 *     s_k = RN(sin t_k)                       correctly rounded
 *     y = RN(a_1 * s_1), then y = RN(y + RN(a_k * s_k)) for the channel's
 *         further tones, in the order given; +0 in a channel with no tone
 *   A fade-in of N frames multiplies y, for i < N, by g = RN(u * u), with
 *     u = RN(sin(RN(RN(RN(i / N) * 0.5) * pi))): the first frame's gain is 0.
 *   A fade-out of M frames over a signal of L frames does the same with
 *     j = L - 1 - i for i, and M for N, where j < M: the last frame's gain
 *     is 0. Where both cover a frame, the fade-in's gain is applied first.
 *   The sample is then the format's rounding of y, as for a tone (P the
 *     format's peak): trunc(RN(P * y)), or RN32(RN(P * y)) for f32.
 * One tone of level full, phase 0, in every channel, with no fade, is the
 * tone of puretone_frames, byte for byte.
 *
 * A tone's amplitude: 1 for PURETONE_LEVEL_FULL; the ratio for
 * PURETONE_LEVEL_RATIO, from -1 to 1 (negative inverts the tone; -0 is +0);
 * RN(10^(d/20)), correctly rounded, for PURETONE_LEVEL_DBFS with d <= 0.
 * In every channel the |a_k| summed in order, in double, must be at most
 * 1 (PURETONE_ERROR_SUM): that sum bounds |y|, so no sample clips. */
typedef struct puretone_tone {
    double frequency;   /* hertz: finite, |frequency| <= 2^31 */
    double level;       /* as level_kind says */
    double phase;       /* p, in cycles: finite, |phase| <= 2^31 */
    int32_t level_kind; /* PURETONE_LEVEL_* */
    uint32_t channels;  /* bit c - 1 for channel c; 0 for every channel */
} puretone_tone;

#define PURETONE_TONES_MAX 16

/* Sweeps: a signal may hold one sweep in place of tones, in every channel.
 * f1 and f2 are its start and end frequencies, R the rate, N its frames,
 * T = N / R; frame i is at t = i / R exactly, and its phase phi(t) is a
 * real number, with no rounding in it (pi the real pi):
 *   exponential:  L = T / ln(f2 / f1), phi(t) = 2 pi f1 L (e^(t/L) - 1)
 *   synchronized: L = round(f1 T / ln(f2 / f1)) / f1 (ties away from
 *     zero), the same phi; then the length is the one that ends at f2:
 *     N = round(R L ln(f2 / f1)) frames (ties to even), which
 *     puretone_signal_length gives; T above is the length asked for.
 *   linear:       phi(t) = 2 pi (f1 t + (f2 - f1) t^2 / (2 T))
 * s = RN(sin phi(t)), correctly rounded, then as for tones: the fades'
 * gains, and the format's rounding with its peak P (the format's level).
 * Exponential and synchronized need 0 < f1 < f2, and f2 / f1 <= 2^40;
 * linear needs f1 != f2, either may be negative. Every |f| is at most R / 2:
 * above it the samples would alias to another sweep, so it is refused.
 * A synchronized sweep needs f1 L >= 1 (round(...) >= 1) and below 2^53.
 *
 * The inverse filter (exponential and synchronized) has N frames: frame j
 * is K e^(-j / (R L)) x(N - 1 - j), x(i) the sweep's sin phi times its
 * fades' gains before any rounding, and
 *   K = 4 f2 / (R^2 L)
 * which makes the sweep, convolved with it, flat at 0 dB: the sweep's
 * spectrum has magnitude (1/2) sqrt(L / f) R (stationary phase, per unit of
 * frequency, in samples), the filter's (f / f2) times that times K, and
 * their product K R^2 L / (4 f2) = 1. Each is RN32 of the exact real value.
 */
enum {
    PURETONE_SWEEP_NONE = 0,
    PURETONE_SWEEP_EXPONENTIAL = 1,
    PURETONE_SWEEP_SYNCHRONIZED = 2,
    PURETONE_SWEEP_LINEAR = 3
};

/* `size` and `tone_size` as the caller was built (sizeof each): later
 * versions may append fields, as to puretone_format, and zero must mean
 * "as before". `length` is the signal's frames, L: 0 for none, when the
 * frames may run to 2^31 and no fade-out is allowed; else windows must end
 * within it. Fades are in frames, 0 for none, each at most L where L is
 * given. Start from PURETONE_SIGNAL_INIT. */
typedef struct puretone_signal {
    uint32_t size;              /* sizeof(puretone_signal) */
    uint32_t tone_size;         /* sizeof(puretone_tone) */
    const puretone_tone* tones; /* tone_count of them */
    uint32_t tone_count;        /* 0 .. PURETONE_TONES_MAX */
    uint32_t reserved;          /* 0 */
    int64_t length;             /* L, 0 .. 2^31, or 0 for none */
    int64_t fade_in;            /* N frames, >= 0 */
    int64_t fade_out;           /* M frames, >= 0; needs a length */
    /* From 0.7; a caller built against 0.6 passes the smaller size. */
    int32_t sweep;              /* PURETONE_SWEEP_*: with tone_count 0 and a length */
    uint32_t reserved2;         /* 0 */
    double sweep_from;          /* f1, hertz */
    double sweep_to;            /* f2, hertz */
} puretone_signal;

#define PURETONE_SIGNAL_INIT \
    { sizeof(puretone_signal), sizeof(puretone_tone), 0, 0, 0, 0, 0, 0, 0, 0, 0.0, 0.0 }

/* The longest header puretone_header writes. */
#define PURETONE_HEADER_MAX 80

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

/* Frames start .. start + count - 1 of the tone at `frequency` Hz in
 * `format`, interleaved, into out[0 .. count * channels - 1], whose type is
 * the format's (int16_t, int32_t or float). The checks run in this order:
 * the description, rate, sample format, level, channels; then as for
 * puretone_samples the frequency, start, count and window; then the angle
 * of the window's last frame, which must lie within the domain the exact
 * reduction is proven for (|t| <= 8.8e14: every window at 44100 Hz and
 * above does), else PURETONE_ERROR_ANGLE; the buffer last (NULL only when
 * count is 0). A window far into a tone costs what one at its start costs. */
PURETONE_API int puretone_frames(const puretone_format* format, double frequency, int64_t start, int64_t count,
                                 void* out);

/* Frames start .. start + count - 1 of `signal` in `format`, interleaved,
 * as puretone_frames writes a tone's (whose header puretone_header gives).
 * The checks, in this order: the format; the signal's description
 * (PURETONE_ERROR_DESCRIPTION), tone count (PURETONE_ERROR_TONE) and
 * tones, each's frequency, level, phase and channels (PURETONE_ERROR_TONE
 * for a channel beyond the format's); the sums; the fades; start, count
 * and window (ending within the length where one is given); every tone's
 * angle at the window's ends (PURETONE_ERROR_ANGLE); the buffer last. */
PURETONE_API int puretone_signal_frames(const puretone_format* format, const puretone_signal* signal, int64_t start,
                                        int64_t count, void* out);

/* The frames of `signal` in `format`: its length, but for a synchronized
 * sweep the length that ends at f2 (above); or a negative code, checked as
 * puretone_signal_frames checks the description. */
PURETONE_API int64_t puretone_signal_length(const puretone_format* format, const puretone_signal* signal);

/* Frames start .. start + count - 1 of the inverse filter of the sweep in
 * `signal` (above), mono, at the format's rate, into out[0 .. count - 1]:
 * the format's sample format, level and channels are not used. Checked as
 * puretone_signal_frames checks, and PURETONE_ERROR_SWEEP where the signal
 * holds no exponential or synchronized sweep. */
PURETONE_API int puretone_inverse_frames(const puretone_format* format, const puretone_signal* signal, int64_t start,
                                         int64_t count, float* out);

/* The length of the RIFF/WAVE header of `format` (44, 58, 68 or 80 bytes),
 * or a negative code for a bad description. */
PURETONE_API int puretone_header_length(const puretone_format* format);

/* The RIFF/WAVE header of a file of frame_count frames in `format`, into
 * header[0 .. puretone_header_length(format) - 1]: s16 with 1 or 2 channels
 * the 44-byte PCM header; f32 with 1 or 2 channels IEEE float with a fact
 * chunk; all else WAVE_FORMAT_EXTENSIBLE (with a fact chunk for f32). The
 * file is the header, the frames little-endian (s24 in 3 bytes), and one
 * zero byte when the frames' size is odd. frame_count must be 0 .. 2^31
 * and the file's RIFF size fit 32 bits (PURETONE_ERROR_FRAME_COUNT);
 * puretone_longest_frames gives the most. */
PURETONE_API int puretone_header(const puretone_format* format, int64_t frame_count, unsigned char* header);

/* The most frames a file in `format` may hold, or a negative code. */
PURETONE_API int64_t puretone_longest_frames(const puretone_format* format);

/* The bytes of one frame as puretone_frames writes it (2 a sample for s16,
 * 4 for the rest, times the channels), or a negative code. */
PURETONE_API int puretone_frame_bytes(const puretone_format* format);

/* The bytes of one frame in the file's data (2, 3, 4 or 4 a sample, s24
 * packed in 3, times the channels), or a negative code. */
PURETONE_API int puretone_file_frame_bytes(const puretone_format* format);

/* A one-line message for any code, known or not; never NULL. */
PURETONE_API const char* puretone_strerror(int code);

/* The library's version, "MAJOR.MINOR.PATCH", as puretone --version prints it. */
PURETONE_API const char* puretone_version(void);

#ifdef __cplusplus
}
#endif

#endif /* PURETONE_PURETONE_H */
