"""The Python module against the program's files and the C library.

Run by CTest with PYTHONPATH at the built package, PURETONE_BINARY the
program and PURETONE_LIBRARY the shared library (absent for a static one).
"""
import ctypes
import inspect
import os
import pydoc
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import puretone

PROGRAM = os.environ["PURETONE_BINARY"]


def program_file(tmp_path, frequency, seconds):
    path = tmp_path / "tone.wav"
    subprocess.run([PROGRAM, str(path), str(frequency), str(seconds)], check=True)
    return path.read_bytes()


@pytest.mark.parametrize(
    "frequency, seconds",
    [(440, 2), (11025, 1), (-3675, 1), (1000003, 1), (2147483647, 1), (-2147483648, 1), (0, 1), (440, 0)],
)
def test_tone_and_header_are_the_program_file(tmp_path, frequency, seconds):
    tone = puretone.tone(frequency, seconds)
    assert tone.dtype == np.int16 and tone.shape == (seconds * 44100,)
    made = puretone.wav_header(tone.size) + tone.astype("<i2").tobytes()
    assert made == program_file(tmp_path, frequency, seconds)


@pytest.mark.parametrize(
    "frequency, start, count",
    [(440.5, 0, 1000), (11025, 2147483648 - 4096, 4096), (-2147483648.0, 1999999999, 3000), (0.001, 123456789, 10)],
)
def test_windows_are_the_c_library_samples(frequency, start, count):
    library = os.environ.get("PURETONE_LIBRARY")
    if not library:
        pytest.skip("the library is static: no shared object to load")
    c = ctypes.CDLL(library)
    c.puretone_samples.argtypes = [ctypes.c_double, ctypes.c_int64, ctypes.c_int64, ctypes.c_void_p]
    expected = np.zeros(count, dtype=np.int16)
    assert c.puretone_samples(frequency, start, count, expected.ctypes.data) == 0
    np.testing.assert_array_equal(puretone.samples(frequency, count, start), expected)


def test_a_window_is_the_slice_of_the_whole_tone_and_out_is_filled_in_place():
    whole = puretone.tone(11025, 2)
    assert np.array_equal(puretone.samples(11025, 5000, start=70000), whole[70000:75000])
    out = np.full(5000, 7, dtype=np.int16)
    assert puretone.samples(np.float32(11025), np.uint16(5000), np.int64(70000), out=out) is out
    assert np.array_equal(out, whole[70000:75000])


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: puretone.samples(float("nan"), 1), "frequency"),
        (lambda: puretone.samples(float("-inf"), 1), "frequency"),
        (lambda: puretone.samples(2147483648.5, 1), "frequency"),
        (lambda: puretone.samples(10**400, 1), "frequency"),
        (lambda: puretone.samples(440, 1, -1), "start"),
        (lambda: puretone.samples(440, -1), "count"),
        (lambda: puretone.samples(440, 2, 2147483647), "past index"),
        (lambda: puretone.samples(440, 1, 2**70), "past index"),
        (lambda: puretone.tone(440, 48696), "seconds=48696: "),
        (lambda: puretone.tone(440, -1), "seconds=-1: "),
        (lambda: puretone.tone(440, 2**100), "seconds=1267650600228229401496703205376: "),
        (lambda: puretone.samples(1e300, 1), r"frequency=1e\+300\b"),
        (lambda: puretone.wav_header(2147483630), "sample count"),
        (lambda: puretone.samples(440, 3, out=np.zeros(4, dtype=np.int16)), "shape"),
        (lambda: puretone.samples(440, 3, out=np.zeros(6, dtype=np.int16)[::2]), "contiguous"),
    ],
)
def test_bad_values_raise_value_error_with_the_library_message(call, message):
    with pytest.raises(ValueError, match=message):
        call()


@pytest.mark.parametrize(
    "call",
    [
        lambda: puretone.samples("440", 1),
        lambda: puretone.samples(440, 1.0),
        lambda: puretone.samples(440, 1, np.float64(2)),
        lambda: puretone.tone(440, 1.5),
        lambda: puretone.wav_header("44"),
        lambda: puretone.samples(440, 2, out=np.zeros(2, dtype=np.int32)),
        lambda: puretone.samples(440, 2, out=np.zeros(2, dtype=">i2")),
        lambda: puretone.samples(440, 2, out=[0, 0]),
        lambda: puretone.samples(440, True),
        lambda: puretone.samples(True, 4),
        lambda: puretone.samples(np.True_, 4),
        lambda: puretone.samples(440, 4, np.False_),
        lambda: puretone.samples(np.array("440"), 4),
        lambda: puretone.samples(np.str_("440"), 4),
        lambda: puretone.samples(440, np.array("4")),
        lambda: puretone.samples(440 + 0j, 4),
        lambda: puretone.samples(np.complex128(440), 4),
        lambda: puretone.samples(np.array(440 + 0j), 4),
        lambda: puretone.tone(b"440", 1),
        lambda: puretone.wav_header(True),
    ],
)
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


class Raising:
    """An argument whose own conversion raises."""

    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


@pytest.mark.parametrize(
    "call",
    [
        lambda raising: puretone.samples(440, raising),
        lambda raising: puretone.samples(raising, 4),
        lambda raising: puretone.tone(440, raising),
        lambda raising: puretone.wav_header(raising),
    ],
)
@pytest.mark.parametrize("error", [KeyboardInterrupt, ZeroDivisionError, OverflowError])
def test_an_arguments_own_exception_passes_through_unchanged(call, error):
    with pytest.raises(error) as raised:
        call(Raising(error("from the argument")))
    assert str(raised.value) == "from the argument"


@pytest.mark.parametrize(
    "function, parameters",
    [
        (puretone.samples, "(frequency: SupportsFloat, count: SupportsIndex, start: SupportsIndex = 0, *, out:"),
        (puretone.tone, "(frequency: SupportsFloat = 440, seconds: SupportsIndex = 10)"),
        (puretone.wav_header, "(sample_count: SupportsIndex) -> bytes"),
    ],
)
def test_signatures_and_help_name_the_parameters_and_types(function, parameters):
    def plain(text):
        return text.replace("typing.", "").replace("<class '", "").replace("'>", "")

    assert plain(str(inspect.signature(function))).startswith(parameters)
    assert function.__name__ + plain(parameters) in plain(pydoc.render_doc(function, renderer=pydoc.plaintext))


def test_ctrl_c_interrupts_a_long_call_soon_and_nothing_is_written_after():
    # The child fills 2^27 samples (about half a second or more) into a
    # marked array; SIGINT comes a little after it starts.
    child = subprocess.Popen(
        [sys.executable, "-B", "-c", """
import sys, time, numpy as np, puretone
out = np.full(2**27, 7, dtype=np.int16)
print("started", flush=True)
try:
    puretone.samples(11025, out.size, out=out)
    print("finished", flush=True)
except KeyboardInterrupt:
    print("interrupted", flush=True)
    written = out.size - int(np.count_nonzero(out == 7))
    time.sleep(0.1)
    after = out.size - int(np.count_nonzero(out == 7))
    print(written, after, out.size, flush=True)
"""],
        stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "started\n"
    time.sleep(0.1)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    assert child.stdout.readline() == "interrupted\n"
    latency = time.monotonic() - sent
    written, after, size = map(int, child.stdout.readline().split())
    assert child.wait() == 0
    assert latency < 0.2
    assert 0 < written < size and after == written


def test_a_thread_with_a_64_kib_stack_makes_the_same_samples():
    made = []
    previous = threading.stack_size(65536)
    try:
        thread = threading.Thread(target=lambda: made.append(puretone.samples(11025, 5000, 70000)))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(previous)
    assert np.array_equal(made[0], puretone.samples(11025, 5000, 70000))


def test_version_is_the_program_version():
    printed = subprocess.run([PROGRAM, "--version"], check=True, capture_output=True, text=True).stdout
    assert printed.split()[1] == puretone.__version__
