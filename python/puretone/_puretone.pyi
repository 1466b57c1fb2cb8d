from typing import Optional, Tuple

import numpy as np
import numpy.typing as npt

__version__: str

def check(frequency: float, start: int, count: int) -> Optional[Tuple[int, str]]: ...
def fill(frequency: float, start: int, out: npt.NDArray[np.int16]) -> None: ...
def wav_header(sample_count: int) -> bytes: ...
