"""Exact sine tones as numpy arrays.

The samples of a full-scale sine tone at 44100 samples a second, phase zero,
as a correctly rounded sine gives them: the same on every machine, and bit
for bit those the puretone program writes.

    >>> import puretone
    >>> puretone.samples(440, 4, start=1)
    array([2052, 4097, 6126, 8130], dtype=int16)
"""
from ._puretone import __version__, samples, tone, wav_header

__all__ = ["__version__", "samples", "tone", "wav_header"]
