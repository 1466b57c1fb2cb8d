"""Exact sine tones as numpy arrays.

The samples of a full-scale sine tone at 44100 samples a second, phase zero,
as a correctly rounded sine gives them: the same on every machine, and bit
for bit those the puretone program writes.

    >>> import puretone
    >>> puretone.samples(440, 4, start=1)
    array([2052, 4097, 6126, 8130], dtype=int16)

Arguments are taken strictly. A count or an index is an integer (an int, a
numpy integer, anything with __index__), a frequency a real number (an int,
a float, a numpy integer or float, anything with __float__ or __index__).
bool, strings and complex numbers, numpy's too, raise TypeError, and a float
is never truncated into a count. Values out of range raise ValueError with
the library's message and the value passed. An exception raised by an
argument's own __index__ or __float__ passes through unchanged.
"""
import numbers
import operator
from typing import Optional, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

from . import _puretone

__version__: str = _puretone.__version__
__all__ = ["__version__", "samples", "tone", "wav_header"]

SAMPLES_PER_SECOND = 44100
_INT64_MIN, _INT64_MAX = -(2**63), 2**63 - 1


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


def _real(value, name: str) -> float:
    kind = type(value)
    if _refused(value) or not (hasattr(kind, "__float__") or hasattr(kind, "__index__")):
        raise TypeError(f"{name} must be a real number, not {kind.__name__}")
    if hasattr(kind, "__float__") and not isinstance(value, numbers.Integral):
        return float(value)
    whole = operator.index(value)
    # An integer beyond the doubles is out of range as an infinity is.
    return float(whole) if abs(whole) < 2**1024 else float("inf") if whole > 0 else float("-inf")


def _int64(value: int) -> int:
    """value, or the end of int64 it lies beyond: the library refuses both."""
    return min(max(value, _INT64_MIN), _INT64_MAX)


def _check(frequency: float, start: int, count: int, passed: str) -> None:
    """ValueError, naming what was passed, unless the library takes the window."""
    refusal = _puretone.check(frequency, _int64(start), _int64(count))
    if refusal is not None:
        raise ValueError(f"{passed}: {refusal[1]}")


def _output(out, count: int) -> np.ndarray:
    """out, checked to be what the samples go into as they are."""
    if not isinstance(out, np.ndarray):
        raise TypeError(f"out must be a numpy.ndarray, not {type(out).__name__}")
    if out.dtype != np.dtype(np.int16) or not out.dtype.isnative:
        raise TypeError(f"out must have dtype int16 in native byte order, not {out.dtype}")
    if out.shape != (count,):
        raise ValueError(f"out must have shape ({count},), not {out.shape}")
    if not out.flags.c_contiguous or not out.flags.writeable:
        raise ValueError("out must be contiguous and writeable")
    return out


def samples(
    frequency: SupportsFloat,
    count: SupportsIndex,
    start: SupportsIndex = 0,
    *,
    out: Optional[npt.NDArray[np.int16]] = None,
) -> npt.NDArray[np.int16]:
    """Samples start .. start+count-1 of the full-scale tone at `frequency` Hz.

    44100 samples a second, phase zero: int16, shape (count,), bit for bit
    those the program writes at those indices.

    frequency: a real number, finite, |frequency| <= 2**31 (whole or not).
    count, start: integers >= 0, with start + count <= 2**31.
    out: an int16 array of shape (count,), contiguous and writeable, to fill
         and return instead of a new one.

    Raises ValueError for values out of range, TypeError for a wrong type.
    The samples are made with the GIL released, in chunks; Ctrl-C between
    them raises KeyboardInterrupt, and out is then filled only in part.
    """
    hz = _real(frequency, "frequency")
    n = _integer(count, "count")
    first = _integer(start, "start")
    _check(hz, first, n, f"frequency={frequency!r}, count={n}, start={first}")
    array = np.empty(n, dtype=np.int16) if out is None else _output(out, n)
    _puretone.fill(hz, first, array)
    return array


def tone(frequency: SupportsFloat = 440, seconds: SupportsIndex = 10) -> npt.NDArray[np.int16]:
    """A whole tone, as the program writes it: seconds * 44100 int16 samples from index 0.

    frequency: as for samples(). seconds: a whole number from 0 to 48695.

    Raises ValueError for values out of range, TypeError for a wrong type.
    """
    hz = _real(frequency, "frequency")
    whole_seconds = _integer(seconds, "seconds")
    count = whole_seconds * SAMPLES_PER_SECOND
    _check(hz, 0, count, f"frequency={frequency!r}, seconds={whole_seconds}")
    array = np.empty(count, dtype=np.int16)
    _puretone.fill(hz, 0, array)
    return array


def wav_header(sample_count: SupportsIndex) -> bytes:
    """The 44-byte header of a mono, 16-bit, 44100 Hz WAV file of sample_count samples.

    As the program writes it: 0 <= sample_count <= 2147483629 (the most
    whose sizes fit the RIFF fields).

    Raises ValueError for a count out of range, TypeError for a non-integer.
    """
    n = _integer(sample_count, "sample_count")
    try:
        return _puretone.wav_header(_int64(n))
    except ValueError as error:
        raise ValueError(f"sample_count={n}: {error}") from None
