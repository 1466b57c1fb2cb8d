"""The Python module against the program's files and the C library.

Run by CTest with PYTHONPATH at the built package, PURETONE_BINARY the
program and PURETONE_LIBRARY the shared library (absent for a static one).
"""
import ctypes
import decimal
import fractions
import inspect
import os
import pydoc
import signal
import subprocess
import sys
import threading
import time
import wave

import numpy as np
import pytest

import puretone

PROGRAM = os.environ["PURETONE_BINARY"]


def program_file(tmp_path, frequency, seconds, options={}):
    path = tmp_path / "tone.wav"
    flags = [f"--{name}={value}" for name, value in options.items()]
    subprocess.run([PROGRAM, *flags, str(path), str(frequency), str(seconds)], check=True)
    return path.read_bytes()


def module_file(frames, options={}):
    """The WAV file of these frames: header, little-endian frames (s24 in the
    low 3 bytes of each int32), a pad byte when their size is odd."""
    data = frames.astype(frames.dtype.newbyteorder("<")).tobytes()
    if options.get("format") == "s24":
        data = b"".join(data[k : k + 3] for k in range(0, len(data), 4))
    return puretone.wav_header(frames.shape[0], **options) + data + b"\0" * (len(data) % 2)


@pytest.mark.parametrize(
    "frequency, seconds, options",
    [
        (440, 2, {}), (11025, 1, {}), (-3675, 1, {}), (1000003, 1, {}), (2147483647, 1, {}), (-2147483648, 1, {}),
        (0, 1, {}), (440, 0, {}),
        (1000, 1, {"rate": 48000, "format": "s24", "level": "-18dB", "channels": 2}),
        (1000, 1, {"rate": 96000, "format": "f32", "level": 0.5}),
        (3999, 1, {"rate": 8000, "format": "s32", "channels": 3}),
        (-440, 1, {"rate": 48000, "level": 0.3, "channels": 2}),
        (440, 1, {"rate": 1, "format": "s24"}),  # 3 bytes of frames: a pad byte
        (440, 1, {"rate": 22050, "format": "f32", "level": "-20.5dBFS", "channels": 8}),
    ],
)
def test_tone_and_header_are_the_program_file(tmp_path, frequency, seconds, options):
    tone = puretone.tone(frequency, seconds, **options)
    assert tone.shape[0] == seconds * options.get("rate", 44100)
    assert module_file(tone, options) == program_file(tmp_path, frequency, seconds, options)


@pytest.mark.parametrize(
    "kwargs, flags",
    [
        ({"frequency": None, "tones": [(60, 0.8), (7000, 0.2)]}, ["--tone", "60:0.8", "--tone", "7000:0.2"]),
        ({"frequency": None, "channels": 2, "tones": [puretone.Tone(1000, channels=1), (1000, 1, 90, [2])]},
         ["-c", "2", "--tone", "1=1000", "--tone", "2=1000:1:90"]),
        ({"frequency": None, "channels": 3, "format": "s24", "tones": [(997.5, "-6dB", -45, (1, 3)), (500, -0.4)]},
         ["-c", "3", "--format", "s24", "--tone", "1,3=997.5:-6dB:-45", "--tone", "500:-0.4"]),
        ({"frequency": 1000, "rate": 48000, "format": "f32", "fade_in": 0.005, "fade_out": 0.01},
         ["-r", "48000", "--format", "f32", "--fade-in", "5ms", "--fade-out", "0.01"]),
        ({"frequency": 440, "phase": 90, "level": "-3dB"}, ["--phase", "90", "--level", "-3dB"]),
    ],
)
def test_signals_are_the_program_file(tmp_path, kwargs, flags):
    made = puretone.tone(seconds=0.25, **kwargs)
    options = {name: kwargs[name] for name in ("rate", "format", "level", "channels") if name in kwargs}
    path = tmp_path / "signal.wav"
    extra = [] if kwargs["frequency"] is None else [str(kwargs["frequency"])]
    subprocess.run([PROGRAM, *flags, "--length", "250ms", str(path), *extra], check=True)
    assert module_file(made, options) == path.read_bytes()
    # A window of samples() with the signal's length is its slice.
    window = dict(kwargs, fade_in=round(kwargs.get("fade_in", 0) * made.shape[0] * 4),
                  fade_out=round(kwargs.get("fade_out", 0) * made.shape[0] * 4))
    np.testing.assert_array_equal(puretone.samples(count=700, start=1000, length=made.shape[0], **window),
                                  made[1000:1700])


def test_a_fraction_level_is_exact():
    # 32767 / 65534 is exactly 1/2, which rounds away to a peak of 1; the
    # nearest double to 1/65534 would give a peak of 0.
    exact = puretone.samples(11025, 50, level=fractions.Fraction(1, 65534))
    np.testing.assert_array_equal(exact, puretone.samples(11025, 50, level=1 / 32767))
    assert exact.any()
    assert puretone.samples(1000, 50, level=decimal.Decimal("0.5")).tobytes() == puretone.samples(1000, 50, level=0.5).tobytes()


@pytest.mark.parametrize(
    "rate, format, channels",
    [(48000, "s16", 2), (8000, "s16", 1), (48000, "s24", 2), (44100, "s32", 1), (96000, "f32", 1), (44100, "s16", 3)],
)
def test_pythons_wave_reads_the_pcm_files(tmp_path, rate, format, channels):
    options = {"rate": rate, "format": format, "channels": channels}
    frames = puretone.samples(1000, 100, **options)
    path = tmp_path / "tone.wav"
    path.write_bytes(module_file(frames, options))
    # The 44-byte PCM header of s16 in 1 or 2 channels; all else is
    # WAVE_FORMAT_EXTENSIBLE, which wave reads from Python 3.12, for PCM.
    pcm = format == "s16" and channels <= 2
    if not (pcm or (sys.version_info >= (3, 12) and format != "f32")):
        with pytest.raises(wave.Error):
            wave.open(str(path), "rb")
        return
    with wave.open(str(path), "rb") as reader:
        assert (reader.getframerate(), reader.getnchannels(), reader.getnframes()) == (rate, channels, 100)
        width = reader.getsampwidth()
        data = reader.readframes(100)
    wide = np.frombuffer(data, np.uint8).reshape(-1, width)
    values = np.pad(wide, ((0, 0), (4 - width, 0))).view("<i4").ravel() >> (8 * (4 - width))
    np.testing.assert_array_equal(values, frames.ravel())


@pytest.mark.parametrize(
    "format, channels, dtype, peak, sin_pi",
    [("s16", 1, np.int16, 32767, 0), ("s24", 2, np.int32, 8388607, 0), ("s32", 8, np.int32, 2147483647, 0),
     ("f32", 1, np.float32, 1, np.float32(1.2246467991473532e-16)), ("f32", 3, np.float32, 1, np.float32(1.2246467991473532e-16))],
)
def test_dtype_shape_and_full_scale_of_each_format(format, channels, dtype, peak, sin_pi):
    # At 4 frames a second, 1 Hz: sin 0, sin pi/2 = 1, RN(sin pi) ~ 1.2e-16, -1.
    frames = puretone.samples(1, 4, rate=4, format=format, channels=channels)
    assert frames.dtype == dtype and frames.shape == ((4,) if channels == 1 else (4, channels))
    expected = np.array([[0], [peak], [sin_pi], [-peak]], dtype=dtype)
    np.testing.assert_array_equal(frames.reshape(4, -1), np.repeat(expected, channels, 1))
    out = np.full(frames.shape, 7, dtype=dtype)
    assert puretone.samples(1, 4, rate=4, format=format, channels=channels, out=out) is out
    np.testing.assert_array_equal(out, frames)


@pytest.mark.parametrize(
    "seconds, rate, frames",
    [
        (1 / 3, 48000, 16000),  # the float is a little under 1/3: nearest, not floor
        (0.25, 2, 0), (0.75, 2, 2),  # ties to even
        (fractions.Fraction(1, 3), 3, 1), (decimal.Decimal("0.1"), 44100, 4410), (1.5, 44100, 66150),
        (np.float32(0.5), 8000, 4000), (np.int64(2), 48000, 96000), (1e-300, 768000, 0),
    ],
)
def test_tone_has_the_nearest_whole_number_of_frames(seconds, rate, frames):
    assert puretone.tone(440, seconds, rate=rate).shape == (frames,)


@pytest.mark.parametrize(
    "string, same",
    [("full", 1.0), ("1", 1), ("0.5", 0.5), ("5e-1", 0.5), ("-6dB", 10 ** (-6 / 20)),
     ("-6dBFS", "-6dB"), ("-0dB", "full"), ("0", 0.0), ("-0", 0.0), (-0.0, 0.0)],
)
def test_a_level_string_is_the_programs(tmp_path, string, same):
    made = puretone.samples(1000, 64, rate=48000, format="f32", level=string)
    np.testing.assert_array_equal(made, puretone.samples(1000, 64, rate=48000, format="f32", level=same))
    assert puretone.samples(1000, 64, format="s24", level=string).tobytes() == (
        puretone.samples(1000, 64, format="s24", level=same).tobytes())


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
        (lambda: puretone.wav_header(2147483630), r"sample_count=2147483630: .*\(at most 2147483629 frames"),
        (lambda: puretone.wav_header(2**30, format="s32", channels=8), r"\(at most 134217726 frames"),
        (lambda: puretone.samples(440, 3, out=np.zeros(4, dtype=np.int16)), "shape"),
        (lambda: puretone.samples(440, 3, out=np.zeros(6, dtype=np.int16)[::2]), "contiguous"),
        (lambda: puretone.samples(440, 3, channels=2, out=np.zeros(3, dtype=np.int16)), r"shape \(3, 2\)"),
        (lambda: puretone.samples(440, 3, out=np.frombuffer(bytearray(7), np.int16, 3, 1)), "aligned"),
        (lambda: puretone.samples(440, 1, rate=0), "^rate=0: the rate"),
        (lambda: puretone.samples(440, 1, rate=768001), "^rate=768001: "),
        (lambda: puretone.samples(440, 1, rate=-48000), "^rate=-48000: "),
        (lambda: puretone.tone(440, 1, rate=2**40), "^rate=1099511627776: "),
        (lambda: puretone.wav_header(1, rate=0), "^rate=0: "),
        (lambda: puretone.samples(440, 1, format="s8"), "^format='s8': "),
        (lambda: puretone.samples(440, 1, format="S16"), "^format='S16': "),
        (lambda: puretone.samples(440, 1, level=1.5), "^level=1.5: the level"),
        (lambda: puretone.samples(440, 1, level=-0.25), "^level=-0.25: "),
        (lambda: puretone.samples(440, 1, level=float("nan")), "^level=nan: "),
        (lambda: puretone.samples(440, 1, level="+1dB"), r"^level='\+1dB' is not valid"),
        (lambda: puretone.samples(440, 1, level="1.5"), "^level='1.5' is not valid"),
        (lambda: puretone.samples(440, 1, level="loud"), "^level='loud' is not valid"),
        (lambda: puretone.samples(440, 1, level=" 0.5"), "^level=' 0.5' is not valid"),
        (lambda: puretone.samples(440, 1, level="0.5\0"), "is not valid"),
        (lambda: puretone.samples(440, 1, level="-infdB"), "is not valid"),
        (lambda: puretone.samples(440, 1, level="½"), "is not valid"),
        (lambda: puretone.samples(440, 1, level="0x1p-1"), "is not valid"),  # decimal numbers only
        (lambda: puretone.samples(440, 1, level="1e-400"), "is not valid"),  # nonzero, yet 0 as a double
        (lambda: puretone.samples(None, 1, tones=[(1000,), (500,)]), "sum above 1"),
        (lambda: puretone.samples(None, 1, tones=[(1000, "-6dB"), (500, "-6dB")]), "sum above 1"),
        (lambda: puretone.samples(None, 1, channels=2, tones=[(1000, 1, 0, 3)]), "channels beyond"),
        (lambda: puretone.samples(None, 1, tones=[(1000, "0x1p-1")]), r"tones\[0\].level='0x1p-1' is not valid"),
        (lambda: puretone.samples(None, 1, tones=[(1000, 1.5)]), "a tone's"),
        (lambda: puretone.samples(1000, 1, tones=[(1000,)]), "cannot both"),
        (lambda: puretone.samples(None, 1, tones=[(1000,)], phase=90), "phase= is the frequency's"),
        (lambda: puretone.samples(1000, 10, fade_in=11, length=10), "fade"),
        (lambda: puretone.tone(1000, 1, fade_out=1.5), "fade"),
        (lambda: puretone.tone(1000, 1, fade_in=2), "fade"),  # the tone's own length
        (lambda: puretone.samples(1000, 1, phase=1e-322), "phase=1e-322"),
        (lambda: puretone.samples(None, 1, tones=[(1000, fractions.Fraction(10**400))]), r"tones\[0\].level="),
        (lambda: puretone.samples(1000, 1, level=decimal.Decimal("sNaN")), "level=Decimal"),
        (lambda: puretone.wav_header(1, level="-18"), "^level='-18' is not valid"),
        (lambda: puretone.samples(440, 1, channels=0), "^channels=0: the channel"),
        (lambda: puretone.samples(440, 1, channels=9), "^channels=9: "),
        (lambda: puretone.samples(2**31, 1, 2**31 - 1, rate=1), r"start=2147483647, rate=1: an angle"),
        (lambda: puretone.tone(440, -0.5), r"^frequency=440, seconds=-0.5: "),
        (lambda: puretone.tone(440, float("inf")), "^seconds=inf: the duration is not a finite"),
        (lambda: puretone.tone(440, decimal.Decimal("NaN")), "seconds=Decimal"),
        (lambda: puretone.tone(440, 1e300), "past index"),
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
        lambda: puretone.tone(440, "1.5"),
        lambda: puretone.tone(440, 1.5j),
        lambda: puretone.samples(440, 1, rate=48000.0),
        lambda: puretone.samples(440, 1, channels=np.float64(2)),
        lambda: puretone.samples(440, 1, format=16),
        lambda: puretone.samples(440, 1, format=b"s16"),
        lambda: puretone.samples(440, 1, level=b"full"),
        lambda: puretone.samples(440, 1, level=True),
        lambda: puretone.samples(440, 1, level=0.5j),
        lambda: puretone.wav_header(44, format=None),
        lambda: puretone.samples(440, 2, format="s24", out=np.zeros(2, dtype=np.int16)),
        lambda: puretone.samples(440, 2, format="f32", out=np.zeros(2, dtype=np.float64)),
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
        lambda raising: puretone.samples(440, 1, rate=raising),
        lambda raising: puretone.samples(440, 1, level=raising),
        lambda raising: puretone.tone(440, 1, channels=raising),
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
        (puretone.samples, "(frequency: Optional[SupportsFloat], count: SupportsIndex, start: SupportsIndex = 0, *, "
                           "rate: SupportsIndex = 44100, format: str = 's16', level: Union[SupportsFloat, str] = 1.0, "
                           "channels: SupportsIndex = 1, out:"),
        (puretone.tone, "(frequency: Optional[SupportsFloat] = 440, seconds: Union[SupportsFloat, SupportsIndex] = 10, *, "
                        "rate: SupportsIndex = 44100, format: str = 's16'"),
        (puretone.wav_header, "(sample_count: SupportsIndex, *, rate: SupportsIndex = 44100, format: str = 's16', "
                              "level: Union[SupportsFloat, str] = 1.0, channels: SupportsIndex = 1) -> bytes"),
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


@pytest.mark.parametrize(
    "kwargs, flags",
    [
        ({"f1": 20, "f2": 20000, "rate": 48000, "fade_in": 960, "fade_out": 960}, ["--sweep", "20:20000", "--fade", "20ms"]),
        ({"f1": 20, "f2": 20000, "kind": "sync", "rate": 48000, "format": "s24", "channels": 2},
         ["--sweep", "20:20000:sync", "--format", "s24", "-c", "2"]),
        ({"f1": 8000, "f2": -100.5, "kind": "linear", "rate": 44100, "format": "f32", "level": "-6dB"},
         ["--sweep", "8000:-100.5:linear", "--format", "f32", "--level", "-6dB"]),
    ],
)
def test_sweeps_and_their_inverse_are_the_program_files(tmp_path, kwargs, flags):
    rate = kwargs["rate"]
    made = puretone.sweep(count=rate // 2, **kwargs)
    options = {name: kwargs[name] for name in ("rate", "format", "level", "channels") if name in kwargs}
    path, inverse = tmp_path / "sweep.wav", tmp_path / "inverse.wav"
    extra = ["--inverse", str(inverse)] if kwargs.get("kind", "exp") != "linear" else []
    subprocess.run([PROGRAM, *flags, "-r", str(rate), "--frames", str(rate // 2), *extra, str(path)], check=True,
                   capture_output=True)
    assert module_file(made, options) == path.read_bytes()
    if extra:
        asked = {name: kwargs[name] for name in ("f1", "f2", "kind", "rate", "fade_in", "fade_out") if name in kwargs}
        filter = puretone.inverse_filter(count=rate // 2, **asked)
        assert filter.dtype == np.float32 and filter.shape == (made.shape[0],)
        assert module_file(filter, {"rate": rate, "format": "f32"}) == inverse.read_bytes()
        np.testing.assert_array_equal(puretone.inverse_filter(count=300, start=1000, length=rate // 2, **asked),
                                      filter[1000:1300])


def test_a_sweep_convolved_with_its_inverse_is_flat_and_sync_harmonics_land_where_predicted():
    rate, f1, f2, n = 48000, 20.0, 20000.0, 5 * 48000
    fade = rate // 50  # 20 ms
    x = puretone.sweep(f1, f2, n, rate=rate, format="f32", fade_in=fade, fade_out=fade).astype(np.float64)
    h = puretone.inverse_filter(f1, f2, n, rate=rate, fade_in=fade, fade_out=fade).astype(np.float64)
    size = 1 << 19
    impulse = np.fft.irfft(np.fft.rfft(x, size) * np.fft.rfft(h, size), size)
    assert np.argmax(np.abs(impulse)) == n - 1
    window = impulse[n - 1 - (1 << 14) : n - 1 + (1 << 14)]
    response = np.abs(np.fft.rfft(window))
    frequencies = np.fft.rfftfreq(window.size, 1 / rate)
    band = (frequencies >= 5 * f1) & (frequencies <= f2 / 4)
    decibels = 20 * np.log10(response[band])
    assert np.max(np.abs(decibels)) < 0.1
    # Synchronized: a squared term's second harmonic answers L ln 2 before
    # the main impulse.
    length = puretone.sweep_length(f1, f2, n, kind="sync", rate=rate)
    x = puretone.sweep(f1, f2, n, kind="sync", rate=rate, format="f32").astype(np.float64)
    h = puretone.inverse_filter(f1, f2, n, kind="sync", rate=rate).astype(np.float64)
    y = x + 0.1 * x * x
    impulse = np.fft.irfft(np.fft.rfft(y, size) * np.fft.rfft(h, size), size)
    whole_cycles = round(f1 * (n / rate) / np.log(f2 / f1))
    lag = (whole_cycles / f1) * np.log(2) * rate
    around = int(round(length - 1 - lag))
    near = np.abs(impulse[around - 200 : around + 200])
    assert abs(np.argmax(near) - 200) <= 2
    assert np.argmax(np.abs(impulse)) == length - 1


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: puretone.sweep(0, 20000, 100), "f1=0"),
        (lambda: puretone.sweep(20, 20000, 100, kind="log"), "kind='log'"),
        (lambda: puretone.sweep(20, 30000, 100), "sweep"),
        (lambda: puretone.inverse_filter(20, 2000, 100, kind="linear"), "inverse"),
    ],
)
def test_bad_sweeps_raise_value_error(call, message):
    with pytest.raises(ValueError, match=message):
        call()
