#!/usr/bin/python3
"""In-memory tones, puretone's module beside numpy's sine, in one run.

    bench/numpy_side_by_side.py [build dir] [seconds] [runs]
    (defaults: build, 600, 11)

Times, alternately, `runs` times each:
  - puretone.samples(440, n), with n = seconds * 44100;
  - the usual numpy recipe for the same tone:
    (np.sin(np.arange(n) / 44100.0 * 440 * 2 * np.pi) * 32767).astype(np.int16)
and prints the median ns a sample of each and their ratio. Runs under
Debian's python3, with the module from <build dir>/python.
"""
import os
import statistics
import sys
import time

build = sys.argv[1] if len(sys.argv) > 1 else "build"
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 600
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 11
sys.path.insert(0, os.path.join(build, "python"))

import numpy as np  # noqa: E402

import puretone  # noqa: E402

n = seconds * 44100


def with_numpy():
    return (np.sin(np.arange(n) / 44100.0 * 440 * 2 * np.pi) * 32767).astype(np.int16)


def with_puretone():
    return puretone.samples(440, n)


times = {with_puretone: [], with_numpy: []}
for _ in range(runs):
    for make in times:  # alternately, so that both see the same machine
        start = time.perf_counter_ns()
        tone = make()
        times[make].append((time.perf_counter_ns() - start) / n)
        del tone

ours, theirs = statistics.median(times[with_puretone]), statistics.median(times[with_numpy])
print(f"{seconds} s at 440 Hz in memory ({n} samples), medians of {runs} runs, numpy {np.__version__}")
print(f"puretone.samples  {ours:6.2f} ns/sample")
print(f"numpy sin recipe  {theirs:6.2f} ns/sample")
print(f"numpy / puretone  {theirs / ours:6.2f}x")
differ = np.count_nonzero(with_puretone() != with_numpy())
print(f"samples where numpy's recipe differs from the exact one: {differ} of {n}")
