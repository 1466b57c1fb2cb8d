"""Exact sine tones as numpy arrays.

The samples of a sine tone, phase zero, as a correctly rounded sine gives
them: the same on every machine, and bit for bit those the puretone program
writes. By default mono, 16-bit, 44100 frames a second, full scale; any rate
from 1 to 768000 Hz, 16-, 24- or 32-bit or float samples, any level and 1 to
8 channels on request, with the program's meaning (`--rate`, `--format`,
`--level`, `--channels`). For frame i (from 0) of a tone at f Hz and rate R:

    t = ((i / R) * f * 2) * pi     in double, rounded to nearest at each step
    s = RN(sin t)                  the correctly rounded sine
    s16, s24, s32: trunc(RN(P * s)), P the level's peak: 32767, 8388607 or
                   2147483647 at full scale, the integer nearest that times
                   the ratio or 10^(dB/20), computed exactly
    f32:           RN32(RN(P * s)), P = 1 at full scale, the ratio, or
                   RN(10^(dB/20))

and each of a frame's channels holds the same sample.

    >>> import puretone
    >>> puretone.samples(440, 4, start=1)
    array([2052, 4097, 6126, 8130], dtype=int16)
    >>> puretone.samples(1000, 2, start=1, rate=48000, format="f32", level="-6dB", channels=2)
    array([[0.06541806, 0.06541806],
           [0.1297168 , 0.1297168 ]], dtype=float32)

Arguments are taken strictly. A count or an index is an integer (an int, a
numpy integer, anything with __index__), a frequency a real number (an int,
a float, a numpy integer or float, anything with __float__ or __index__).
bool, strings and complex numbers, numpy's too, raise TypeError, and a float
is never truncated into a count. Values out of range raise ValueError with
the library's message and the value passed. An exception raised by an
argument's own __index__ or __float__ passes through unchanged. A rate and
a channel count are integers, a format one of the strings "s16", "s24",
"s32" and "f32", and a level a real number (a ratio of full scale, from 0
to 1) or a string as the program reads it: "full", a ratio such as "0.5",
or dBFS of at most 0 such as "-18dB" or "-20.5dBFS" (decimal numbers only).
A Fraction or Decimal level is taken exactly.

Signals, as the program makes them with --tone, --phase and the fades: a
channel sums its tones, each with a level and a phase, in the order given,
and fades multiply the sum by a raised-cosine gain:

    c = (i / R) * f_k;  c = c + p_k where p_k != 0;  t_k = (c * 2) * pi
    y = RN(a_1 * RN(sin t_1)), then y = RN(y + RN(a_k * RN(sin t_k)))
    a fade of N frames: y = RN(g * y), g = RN(u * u),
        u = RN(sin(RN(RN(RN(i / N) * 0.5) * pi))), from the end for a fade-out

with the phase p_k = RN(degrees / 360) in cycles, and the sample the
format's rounding of y as above.

    >>> puretone.samples(None, 3, tones=[(1000, 0.5), puretone.Tone(500, "-6.1dB", 90)], rate=48000)
    array([16234, 18338, 20335], dtype=int16)
"""
import dataclasses
import decimal
import fractions
import math
import numbers
import operator
import re
import collections.abc
import typing
from typing import List, Optional, SupportsFloat, SupportsIndex, Tuple, Union

import numpy as np
import numpy.typing as npt

from . import _puretone

__version__: str = _puretone.__version__
__all__ = ["__version__", "Tone", "inverse_filter", "samples", "sweep", "sweep_length", "tone", "wav_header"]

SAMPLES_PER_SECOND = 44100  # the default rate
_INT64_MIN, _INT64_MAX = -(2**63), 2**63 - 1
_UINT32_MAX = 2**32 - 1

# Each format's index in the C API and the dtype of its samples; s24 values
# lie in -8388607 .. 8388607, in int32.
_FORMATS = {"s16": (0, np.int16), "s24": (1, np.int32), "s32": (2, np.int32), "f32": (3, np.float32)}
_LEVEL_FULL = 0  # the C API's PURETONE_LEVEL_FULL
_LEVEL_RATIO = 1  # the C API's PURETONE_LEVEL_RATIO
_LEVEL_DBFS = 2  # the C API's PURETONE_LEVEL_DBFS
_ERROR_RATE, _ERROR_LEVEL, _ERROR_CHANNELS, _ERROR_ANGLE = -8, -10, -11, -12
_ERROR_TONE, _ERROR_SUM, _ERROR_FADE, _ERROR_SWEEP = -15, -16, -17, -18
_SWEEP_KINDS = {"exp": 1, "sync": 2, "linear": 3}  # the C API's PURETONE_SWEEP_*
_FULL_SCALE = {0: 32767, 1: 8388607, 2: 2147483647}  # each integer format's F
_LEVEL_FORMS = "full, a ratio from 0 to 1, or dBFS of at most 0 such as -18dB"
Samples = npt.NDArray[Union[np.int16, np.int32, np.float32]]


def _refused(value) -> bool:
    """Whether value is a bool, a string or a complex number, numpy's too,
    or a numpy array of anything but integers and floats."""
    if isinstance(value, (bool, np.bool_, str, bytes, np.str_, np.bytes_, np.complexfloating)):
        return True
    if isinstance(value, numbers.Complex) and not isinstance(value, numbers.Real):
        return True
    return isinstance(value, (np.ndarray, np.generic)) and value.dtype.kind not in "iuf"


def _integer(value, name: str) -> int:
    if _refused(value) or not hasattr(type(value), "__index__"):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return operator.index(value)


def _real(value, name: str, what: str = "a real number") -> float:
    kind = type(value)
    if _refused(value) or not (hasattr(kind, "__float__") or hasattr(kind, "__index__")):
        raise TypeError(f"{name} must be {what}, not {kind.__name__}")
    if hasattr(kind, "__float__") and not isinstance(value, numbers.Integral):
        return float(value)
    whole = operator.index(value)
    # An integer beyond the doubles is out of range as an infinity is.
    return float(whole) if abs(whole) < 2**1024 else float("inf") if whole > 0 else float("-inf")


def _int64(value: int) -> int:
    """value, or the end of int64 it lies beyond: the library refuses both."""
    return min(max(value, _INT64_MIN), _INT64_MAX)


def _uint32(value: int) -> int:
    """value, or the end of uint32 it lies beyond: the library refuses both."""
    return min(max(value, 0), _UINT32_MAX)


def _seconds(value) -> Union[int, fractions.Fraction]:
    """A duration exactly as passed: an int, or the Fraction of a float's,
    a Decimal's or a Rational's own value."""
    kind = type(value)
    if _refused(value) or not (hasattr(kind, "__float__") or hasattr(kind, "__index__")):
        raise TypeError(f"seconds must be a real number, not {kind.__name__}")
    if not hasattr(kind, "__float__") or isinstance(value, numbers.Integral):
        return operator.index(value)
    exact = value if isinstance(value, (numbers.Rational, decimal.Decimal)) else float(value)
    if not (exact.is_finite() if isinstance(exact, decimal.Decimal) else math.isfinite(exact)):
        raise ValueError(f"seconds={value!r}: the duration is not a finite number")
    return fractions.Fraction(exact)


# A decimal number as the program reads one: a sign, digits with a point,
# an exponent; no white space, hexadecimal, "inf" or "nan".
_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")


def _decimal_text(text: str) -> Optional[float]:
    """The nearest double to a decimal number, or None for anything else,
    and for a number that rounds to infinity, or nonzero to zero."""
    if not _NUMBER.fullmatch(text):
        return None
    value = float(text)
    nonzero = any(digit in "123456789" for digit in re.split("[eE]", text)[0])
    return value if math.isfinite(value) and (value != 0 or not nonzero) else None


def _level_text(text: str) -> Optional[Tuple[int, float]]:
    """(level kind, level) as the program reads --level, or None: "full",
    then a number with "dBFS" or "dB" after it, then a bare ratio. The range
    is the library's to check."""
    if text == "full":
        return _LEVEL_FULL, 0.0
    for suffix, kind in (("dBFS", _LEVEL_DBFS), ("dB", _LEVEL_DBFS), ("", _LEVEL_RATIO)):
        if text.endswith(suffix):
            value = _decimal_text(text[: len(text) - len(suffix)])
            if value is not None:
                return kind, value
    return None


def _beyond_one(value: Union[fractions.Fraction, decimal.Decimal]) -> bool:
    """Whether an exact level is no ratio from -1 to 1: not finite, or
    beyond (so that no conversion to a double overflows)."""
    if isinstance(value, decimal.Decimal):
        return not value.is_finite() or abs(value) > 1
    return abs(value) > 1


def _exact_ratio(level, format_index: int) -> float:
    """A ratio level whose exact value is not a double (a Fraction, a
    Decimal), as the double whose peak is the exact one: for integer
    formats, the whole number P nearest F * level (ties away from zero) is
    found exactly, and P / F, rounded to a double, gives P again (F times it
    lies within P * 2**-53 of P); for f32, the level rounded once."""
    exact = fractions.Fraction(level)
    if format_index not in _FULL_SCALE or not 0 <= exact <= 1:
        return float(exact)  # the library checks the range
    scale = _FULL_SCALE[format_index]
    peak = math.floor(scale * exact + fractions.Fraction(1, 2))
    return peak / scale


# The C API's format fields, as the extension takes them: (rate, sample
# format, level kind, level, channels).
_Fields = Tuple[int, int, int, float, int]


def _format(rate, format, level, channels) -> Tuple[_Fields, type]:
    """The C API's format fields and the samples' dtype; TypeError or
    ValueError for a value the library cannot take as it is."""
    hz = _integer(rate, "rate")
    if not isinstance(format, str):
        raise TypeError(f"format must be a string, not {type(format).__name__}")
    if format not in _FORMATS:
        raise ValueError(f"format={format!r}: the sample format is not s16, s24, s32 or f32")
    index, dtype = _FORMATS[format]
    if isinstance(level, str):
        # A command line holds ASCII: nothing else reads as a level.
        # As the program does, a string whose level the library refuses (out
        # of range) is no level string at all.
        reading = _level_text(level) if level.isascii() else None
        if reading is None or _puretone.longest_frames((44100, 0) + reading + (1,)) == _ERROR_LEVEL:
            raise ValueError(f"level={level!r} is not valid ({_LEVEL_FORMS})")
        kind, value = reading
    elif isinstance(level, (fractions.Fraction, decimal.Decimal)) and not _refused(level):
        if _beyond_one(level):
            raise ValueError(f"level={level!r} is not valid ({_LEVEL_FORMS})")
        kind, value = _LEVEL_RATIO, _exact_ratio(level, index)
    else:
        kind, value = _LEVEL_RATIO, _real(level, "level", "a real number or a string")
    return (_uint32(hz), index, kind, value, _uint32(_integer(channels, "channels"))), dtype


@dataclasses.dataclass(frozen=True)
class Tone:
    """One tone of a signal, as --tone gives it.

    frequency: hertz, a real number, finite, |frequency| <= 2**31.
    level: relative to the signal's level: a ratio from -1 to 1 (negative
           inverts the tone), or a string as --tone reads it: "full", "0.5",
           "-6dB".
    phase: the start phase in degrees.
    channels: the 1-based channel, or channels, it goes to; None for all.
    Each channel's levels (as ratios) must sum to at most 1.
    """

    frequency: SupportsFloat
    level: Union[SupportsFloat, str] = 1.0
    phase: SupportsFloat = 0.0
    channels: Union[None, SupportsIndex, typing.Iterable[SupportsIndex]] = None


TonesArgument = Optional[typing.Sequence[Union[Tone, Tuple]]]
# A tone as the extension takes it: (frequency, level kind, level, phase in
# cycles, channel mask).
_ToneFields = Tuple[float, int, float, float, int]


def _phase(degrees, name: str) -> float:
    """A phase in degrees as cycles: RN(degrees / 360), as the program does;
    a nonzero one that rounds to 0 cycles is refused, as the program does."""
    value = _real(degrees, name)
    cycles = value / 360.0
    if cycles == 0 and value != 0:
        raise ValueError(f"{name}={degrees!r}: the phase is too small to be a phase ({value} degrees is 0 cycles)")
    return cycles


def _tone_fields(tone, position: int) -> _ToneFields:
    name = f"tones[{position}]"
    if isinstance(tone, tuple):
        if not 1 <= len(tone) <= 4:
            raise TypeError(f"{name} must be a Tone or (frequency[, level[, phase[, channels]]]), not {tone!r}")
        tone = Tone(*tone)
    if not isinstance(tone, Tone):
        raise TypeError(f"{name} must be a Tone or a tuple, not {type(tone).__name__}")
    if isinstance(tone.level, str):
        reading = _level_text(tone.level) if tone.level.isascii() else None
        if reading is None:
            raise ValueError(f"{name}.level={tone.level!r} is not valid (full, a ratio from -1 to 1, or dB)")
        kind, value = reading
    elif isinstance(tone.level, (fractions.Fraction, decimal.Decimal)):
        exact = tone.level
        if _beyond_one(exact):
            raise ValueError(f"{name}.level={exact!r} is not valid (full, a ratio from -1 to 1, or dB)")
        kind, value = _LEVEL_RATIO, float(exact)
    else:
        kind, value = _LEVEL_RATIO, _real(tone.level, f"{name}.level", "a real number or a string")
    mask = 0
    if tone.channels is not None:
        chosen = tone.channels
        listed: List[SupportsIndex] = [chosen] if not isinstance(chosen, collections.abc.Iterable) else list(chosen)
        for channel in listed:
            number = _integer(channel, f"{name}.channels")
            if not 1 <= number <= 8:
                raise ValueError(f"{name}.channels: channel {number} is not from 1 to 8")
            mask |= 1 << (number - 1)
        if mask == 0:
            raise ValueError(f"{name}.channels is empty")
    return (_real(tone.frequency, f"{name}.frequency"), kind, value, _phase(tone.phase, f"{name}.phase"), mask)


def _signal(frequency, tones: TonesArgument, phase, length: int, fade_in: int, fade_out: int):
    """The extension's signal fields: the frequency's one tone, or tones."""
    if tones is None:
        if frequency is None:
            raise TypeError("a frequency or tones= is needed")
        parts = [(_real(frequency, "frequency"), _LEVEL_FULL, 0.0, _phase(phase, "phase"), 0)]
    else:
        if frequency is not None:
            raise ValueError("a frequency and tones= cannot both be given: put every tone in tones=")
        if _real(phase, "phase") != 0:
            raise ValueError("phase= is the frequency's; give each of tones= its own phase")
        if isinstance(tones, (str, bytes)) or not isinstance(tones, collections.abc.Sequence):
            raise TypeError(f"tones must be a sequence of Tone or tuples, not {type(tones).__name__}")
        parts = [_tone_fields(tone, k) for k, tone in enumerate(tones)]
    return (parts, _int64(length), _int64(fade_in), _int64(fade_out), 0, 0.0, 0.0)


def _check(fields: _Fields, signal, start: int, count: int, passed: str, rate, level, channels,
           inverse: bool = False) -> None:
    """ValueError, naming what was passed, unless the library takes the window."""
    refusal = _puretone.check(fields, signal, _int64(start), _int64(count), inverse)
    if refusal is not None:
        code, message = refusal
        named = {_ERROR_RATE: f"rate={operator.index(rate)}", _ERROR_LEVEL: f"level={level!r}",
                 _ERROR_CHANNELS: f"channels={operator.index(channels)}",
                 _ERROR_ANGLE: f"{passed}, rate={fields[0]}"}.get(code, passed)
        if code == _ERROR_LEVEL and any(tone[1] != _LEVEL_FULL for tone in signal[0]):
            named = f"{passed} (a level: the signal's, or a tone's)"
        if code in (_ERROR_TONE, _ERROR_FADE):
            named = f"{passed}, phase or fades"
        raise ValueError(f"{named}: {message}")


def _output(out, count: int, channels: int, dtype: type) -> np.ndarray:
    """out, checked to be what the frames go into as they are."""
    shape = (count,) if channels == 1 else (count, channels)
    if not isinstance(out, np.ndarray):
        raise TypeError(f"out must be a numpy.ndarray, not {type(out).__name__}")
    if out.dtype != np.dtype(dtype) or not out.dtype.isnative:
        raise TypeError(f"out must have dtype {np.dtype(dtype)} in native byte order, not {out.dtype}")
    if out.shape != shape:
        raise ValueError(f"out must have shape {shape}, not {out.shape}")
    if not out.flags.c_contiguous or not out.flags.aligned or not out.flags.writeable:
        raise ValueError("out must be contiguous, aligned and writeable")
    return out


def _frames(fields: _Fields, dtype: type, signal, start: int, count: int, out, inverse: bool = False) -> Samples:
    channels = 1 if inverse else fields[4]
    if out is None:
        array: np.ndarray = np.empty((count,) if channels == 1 else (count, channels), dtype=dtype)
    else:
        array = _output(out, count, channels, dtype)
    _puretone.fill(fields, signal, start, array, inverse)
    return array


def samples(
    frequency: Optional[SupportsFloat],
    count: SupportsIndex,
    start: SupportsIndex = 0,
    *,
    rate: SupportsIndex = SAMPLES_PER_SECOND,
    format: str = "s16",
    level: Union[SupportsFloat, str] = 1.0,
    channels: SupportsIndex = 1,
    out: Optional[Samples] = None,
    tones: TonesArgument = None,
    phase: SupportsFloat = 0,
    fade_in: SupportsIndex = 0,
    fade_out: SupportsIndex = 0,
    length: Optional[SupportsIndex] = None,
) -> Samples:
    """Frames start .. start+count-1 of the tone at `frequency` Hz, or of a signal.

    Bit for bit the frames the program writes at those indices with the
    same options: int16 for "s16", int32 for "s24" (24-bit values) and
    "s32", float32 for "f32"; shape (count,) for one channel and
    (count, channels) for more.

    frequency: a real number, finite, |frequency| <= 2**31 (whole or not);
               None with tones=.
    count, start: integers >= 0, with start + count <= 2**31.
    rate: frames a second, an integer from 1 to 768000.
    format: "s16", "s24", "s32" or "f32".
    level: a ratio of full scale from 0 to 1, as a real number (a Fraction
           or Decimal exactly); or a string as the program reads --level:
           "full", a ratio such as "0.5", or dBFS of at most 0 such as
           "-18dB" or "-20dBFS".
    channels: an integer from 1 to 8.
    out: an array of the dtype and shape above, contiguous, aligned and
         writeable, to fill and return instead of a new one.
    tones: Tone or (frequency[, level[, phase[, channels]]]) tuples, at most
           16, in place of frequency, as --tone gives them; each channel's
           levels sum to at most 1.
    phase: the frequency's start phase in degrees.
    fade_in, fade_out: raised-cosine fades, in frames, at the signal's
           start (frame 0) and its end; at most its length.
    length: the signal's frames, which the fade-out ends with and the window
           must lie within; by default start + count where there is a
           fade-out, else none.

    Raises ValueError for values out of range (or a window whose angles lie
    beyond the exact reduction's domain: low rates, huge frequencies, far
    windows), TypeError for a wrong type. The frames are made with the GIL
    released, in chunks; Ctrl-C between them raises KeyboardInterrupt, and
    out is then filled only in part.
    """
    n = _integer(count, "count")
    first = _integer(start, "start")
    ending = _integer(fade_out, "fade_out")
    # Without a fade-out the signal needs no length: the window is checked
    # against 2**31, as for a tone.
    total = _integer(length, "length") if length is not None else first + n if ending > 0 else 0
    signal = _signal(frequency, tones, phase, total, _integer(fade_in, "fade_in"), ending)
    fields, dtype = _format(rate, format, level, channels)
    shown = f"frequency={frequency!r}" if tones is None else f"tones={tones!r}"
    _check(fields, signal, first, n, f"{shown}, count={n}, start={first}", rate, level, channels)
    return _frames(fields, dtype, signal, first, n, out)


def _frames_of(duration, rate, name: str) -> int:
    """The whole number of frames nearest duration * rate, exactly, ties to even."""
    exact = _seconds(duration)
    if exact < 0:
        raise ValueError(f"{name}={duration!r}: the duration is negative")
    return round(exact * operator.index(rate))


def tone(
    frequency: Optional[SupportsFloat] = 440,
    seconds: Union[SupportsFloat, SupportsIndex] = 10,
    *,
    rate: SupportsIndex = SAMPLES_PER_SECOND,
    format: str = "s16",
    level: Union[SupportsFloat, str] = 1.0,
    channels: SupportsIndex = 1,
    tones: TonesArgument = None,
    phase: SupportsFloat = 0,
    fade_in: Union[SupportsFloat, SupportsIndex] = 0,
    fade_out: Union[SupportsFloat, SupportsIndex] = 0,
) -> Samples:
    """A whole tone or signal from frame 0, as samples() gives it.

    seconds: a real number >= 0 (an int, a float, a Fraction, a Decimal, a
    numpy number). The tone has the whole number of frames nearest to
    seconds * rate, computed exactly from the value passed (a float's own
    binary value), ties to the even one: seconds=1/3 at 48000 Hz gives
    16000 frames, though the float 1/3 is a little less than a third.
    Whole seconds give seconds * rate frames: 48695 s at 44100 Hz fit.
    fade_in, fade_out: in seconds, made frames as seconds is.

    frequency (None with tones=), rate, format, level, channels, tones,
    phase: as for samples().

    Raises ValueError for values out of range, TypeError for a wrong type.
    """
    duration = _seconds(seconds)
    shown = (f"frequency={frequency!r}" if tones is None else f"tones={tones!r}") + \
        f", seconds={duration if isinstance(duration, int) else seconds!r}"
    if duration < 0:
        raise ValueError(f"{shown}: the duration is negative")
    fields, dtype = _format(rate, format, level, channels)
    # An invalid rate gives some count here; the library refuses the rate first.
    count = round(duration * operator.index(rate))
    # The tone's own length, so that a fade longer than it is refused (a
    # count past 2**31 is the window's to refuse).
    signal = _signal(frequency, tones, phase, count if count <= 2**31 else 0, _frames_of(fade_in, rate, "fade_in"),
                     _frames_of(fade_out, rate, "fade_out"))
    _check(fields, signal, 0, count, shown, rate, level, channels)
    return _frames(fields, dtype, signal, 0, count, None)


def _sweep_signal(f1, f2, kind: str, length: int, fade_in: int, fade_out: int):
    """The extension's signal fields for a sweep of `length` frames asked for."""
    if not isinstance(kind, str):
        raise TypeError(f"kind must be a str, not {type(kind).__name__}")
    if kind not in _SWEEP_KINDS:
        raise ValueError(f"kind={kind!r}: 'exp', 'sync' or 'linear'")
    return ([], _int64(length), _int64(fade_in), _int64(fade_out), _SWEEP_KINDS[kind], _real(f1, "f1"),
            _real(f2, "f2"))


def _sweep_window(f1, f2, count, kind, start, length, rate, format, level, channels, fade_in, fade_out,
                  inverse: bool):
    """The checked fields, signal and window of sweep() and inverse_filter()."""
    n = _integer(count, "count")
    first = _integer(start, "start")
    asked = _integer(length, "length") if length is not None else first + n
    fields, dtype = _format(rate, "f32" if inverse else format, level, 1 if inverse else channels)
    signal = _sweep_signal(f1, f2, kind, asked, _integer(fade_in, "fade_in"), _integer(fade_out, "fade_out"))
    shown = f"f1={f1!r}, f2={f2!r}, kind={kind!r}, count={n}, start={first}"
    made = _puretone.signal_length(fields, signal)
    if made < 0:
        _check(fields, signal, first, n, shown, rate, level, channels, inverse)
    if length is None and made >= first:  # a synchronized sweep runs to its own end
        n = made - first
    _check(fields, signal, first, n, shown, rate, level, channels, inverse)
    return fields, dtype, signal, first, n


def sweep(
    f1: SupportsFloat,
    f2: SupportsFloat,
    count: SupportsIndex,
    *,
    kind: str = "exp",
    start: SupportsIndex = 0,
    length: Optional[SupportsIndex] = None,
    rate: SupportsIndex = SAMPLES_PER_SECOND,
    format: str = "s16",
    level: Union[SupportsFloat, str] = 1.0,
    channels: SupportsIndex = 1,
    fade_in: SupportsIndex = 0,
    fade_out: SupportsIndex = 0,
    out: Optional[Samples] = None,
) -> Samples:
    """Frames start .. start+count-1 of a sine sweep from f1 to f2 Hz, exactly.

    Bit for bit what the program writes with --sweep F1:F2:KIND. The phase
    is a real number with no rounding (exp: 2 pi f1 L (e^(t/L) - 1), L = T /
    ln(f2/f1); sync: the same with f1 L whole; linear: 2 pi (f1 t + (f2 -
    f1) t^2 / (2T)), t = i / rate exactly), and each sample the correctly
    rounded sine, then the fades and the format's rounding (see man puretone).

    kind: "exp" (0 < f1 < f2), "sync" (the same, f1 L rounded to a whole
          number, after Novak) or "linear" (f1 != f2, either sign); every
          |f| at most rate / 2.
    length: the sweep's frames asked for, by default start + count. A
          synchronized sweep's own length ends at f2 and may differ
          (sweep_length gives it): without length=, the frames then run from
          start to its end.
    fade_in, fade_out: raised-cosine fades in frames. rate, format, level,
          channels, out: as for samples().

    Raises ValueError for values out of range, TypeError for a wrong type.
    """
    fields, dtype, signal, first, n = _sweep_window(f1, f2, count, kind, start, length, rate, format, level,
                                                    channels, fade_in, fade_out, False)
    return _frames(fields, dtype, signal, first, n, out)


def inverse_filter(
    f1: SupportsFloat,
    f2: SupportsFloat,
    count: SupportsIndex,
    *,
    kind: str = "exp",
    start: SupportsIndex = 0,
    length: Optional[SupportsIndex] = None,
    rate: SupportsIndex = SAMPLES_PER_SECOND,
    fade_in: SupportsIndex = 0,
    fade_out: SupportsIndex = 0,
    out: Optional[Samples] = None,
) -> Samples:
    """Frames of the inverse filter of sweep(f1, f2, count, ...), float32, mono.

    Frame j is RN32 of K e^(-j / (rate L)) x(N - 1 - j), x the sweep's real
    sine times its fades' gains and K = 4 f2 / (rate^2 L): the sweep
    convolved with it is flat at 0 dB, an impulse at frame N - 1. kind
    "exp" or "sync"; the arguments as for sweep().
    """
    fields, dtype, signal, first, n = _sweep_window(f1, f2, count, kind, start, length, rate, "f32", 1.0, 1,
                                                    fade_in, fade_out, True)
    return _frames(fields, dtype, signal, first, n, out, inverse=True)


def sweep_length(f1: SupportsFloat, f2: SupportsFloat, count: SupportsIndex, *, kind: str = "exp",
                 rate: SupportsIndex = SAMPLES_PER_SECOND) -> int:
    """The frames of a sweep asked for with count frames: count, but for a
    synchronized sweep the length that ends at f2."""
    fields, _ = _format(rate, "s16", 1.0, 1)
    signal = _sweep_signal(f1, f2, kind, _integer(count, "count"), 0, 0)
    made = _puretone.signal_length(fields, signal)
    if made < 0:
        _check(fields, signal, 0, 0, f"f1={f1!r}, f2={f2!r}, kind={kind!r}, count={count!r}", rate, 1.0, 1)
    return made


def wav_header(
    sample_count: SupportsIndex,
    *,
    rate: SupportsIndex = SAMPLES_PER_SECOND,
    format: str = "s16",
    level: Union[SupportsFloat, str] = 1.0,
    channels: SupportsIndex = 1,
) -> bytes:
    """The header of a WAV file of sample_count frames, as the program writes it.

    By default the 44-byte header of a mono, 16-bit, 44100 Hz file. s16 with
    1 or 2 channels is the 44-byte PCM header at any rate; f32 with 1 or 2
    channels IEEE float with a fact chunk; all else WAVE_FORMAT_EXTENSIBLE
    (58, 68 or 80 bytes). The file is the header, then the frames
    little-endian (s24 in 3 bytes each), then one zero byte when their size
    is odd. rate, format, level and channels as for samples(); the level
    is checked but does not enter the header.

    sample_count: the number of frames, 0 to the most whose sizes fit the
    RIFF fields (2147483629 by default); the message of a longer one names
    the most.

    Raises ValueError for values out of range, TypeError for a wrong type.
    """
    n = _integer(sample_count, "sample_count")
    fields, _ = _format(rate, format, level, channels)
    _check(fields, _signal(0.0, None, 0, 0, 0, 0), 0, 0, f"sample_count={n}", rate, level, channels)
    try:
        return _puretone.wav_header(fields, _int64(n))
    except ValueError as error:
        longest = _puretone.longest_frames(fields)
        raise ValueError(f"sample_count={n}: {error} (at most {longest} frames in this format)") from None
