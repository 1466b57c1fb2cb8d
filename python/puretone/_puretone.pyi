from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

# (rate, sample format, level kind, level, channels): puretone_format's fields.
Format = Tuple[int, int, int, float, int]

def check(format: Format, frequency: float, start: int, count: int) -> Optional[Tuple[int, str]]: ...
def fill(format: Format, frequency: float, start: int, out: npt.NDArray[np.generic]) -> None: ...
def wav_header(format: Format, frame_count: int) -> bytes: ...
def longest_frames(format: Format) -> int: ...
