from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

# (rate, sample format, level kind, level, channels): puretone_format's fields.
_Format = Tuple[int, int, int, float, int]

def check(format: _Format, frequency: float, start: int, count: int) -> Optional[Tuple[int, str]]: ...
def fill(format: _Format, frequency: float, start: int, out: npt.NDArray[np.generic]) -> None: ...
def wav_header(format: _Format, frame_count: int) -> bytes: ...
def longest_frames(format: _Format) -> int: ...
