from typing import List, Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

# (rate, sample format, level kind, level, channels): puretone_format's fields.
_Format = Tuple[int, int, int, float, int]
# (frequency, level kind, level, phase, channels): puretone_tone's fields.
_Tone = Tuple[float, int, float, float, int]
# (tones, length, fade_in, fade_out, sweep, sweep_from, sweep_to): puretone_signal's fields.
_Signal = Tuple[List[_Tone], int, int, int, int, float, float]

def check(format: _Format, signal: _Signal, start: int, count: int, inverse: bool = ...) -> Optional[Tuple[int, str]]: ...
def fill(format: _Format, signal: _Signal, start: int, out: npt.NDArray[np.generic], inverse: bool = ...) -> None: ...
def signal_length(format: _Format, signal: _Signal) -> int: ...
def wav_header(format: _Format, frame_count: int) -> bytes: ...
def longest_frames(format: _Format) -> int: ...
