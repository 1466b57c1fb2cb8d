from typing import Optional, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

__version__: str

def samples(
    frequency: SupportsFloat,
    count: SupportsIndex,
    start: SupportsIndex = 0,
    *,
    out: Optional[npt.NDArray[np.int16]] = None,
) -> npt.NDArray[np.int16]: ...
def tone(frequency: SupportsFloat = 440, seconds: SupportsIndex = 10) -> npt.NDArray[np.int16]: ...
def wav_header(sample_count: SupportsIndex) -> bytes: ...
