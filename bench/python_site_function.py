#!/usr/bin/env python3
"""The cost of a Python trigger function (qal3.add_function) against the
built-in it imitates: one trigger replayed with qal3.evaluate over 10,000
events x 1,000 float32 samples, with

- the built-in MAX over the whole spectrum;
- PYMAX, a Python function giving samples.max() (numpy);
- PYCONST, a Python function giving 1.0: the cost of the call alone.

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_site_function.py [--events N]

BUILD is a build with the Python module (Release for the figures in
bench/README.md). Prints, for each, the median CPU time of the calling
thread per replay (the Python function runs in that thread), the time per
event, the ratio to the built-in, and the peak of the memory the replay
allocates (tracemalloc, which numpy reports to) besides the recording.
"""
import argparse
import statistics
import time
import tracemalloc

import numpy as np

import qal3

SAMPLES, REPEATS = 1000, 5


def recording(events):
    # The numbers of bench/python_replay.py: ((i * 1000 + j) % 97) * 0.1.
    k = np.arange(events * SAMPLES, dtype=np.int64) % 97
    return (k.astype(np.float32) * np.float32(0.1)).reshape(events, SAMPLES)


def measure(function, samples):
    trigger = qal3.Trigger(channel="BEAM/Current", function=function, fparam=[0.0, -1.0, 1.0],
                           operation="GT", upper=9.0)
    qal3.evaluate(trigger, samples[:100])  # warm up
    times = []
    for _ in range(REPEATS):
        t0 = time.thread_time()
        fired, value = qal3.evaluate(trigger, samples)
        times.append((time.thread_time() - t0) * 1e3)
    tracemalloc.start()
    qal3.evaluate(trigger, samples)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return statistics.median(times), peak, value


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--events", type=int, default=10000)
    args = parser.parse_args()
    samples = recording(args.events)
    qal3.add_function("PYMAX", lambda s, params, start, inc: s.max(), help="numpy's max of the spectrum")
    qal3.add_function("PYCONST", lambda s, params, start, inc: 1.0, help="1.0")
    base_ms, base_peak, base_value = measure("MAX", samples)
    print(f"{args.events} events x {SAMPLES} samples, median of {REPEATS} (CPU time of the thread)")
    print(f"{'function':10} {'ms/replay':>10} {'us/event':>9} {'/ MAX':>7} {'peak KiB':>9}")
    for name in ("MAX", "PYMAX", "PYCONST"):
        ms, peak, value = (base_ms, base_peak, base_value) if name == "MAX" else measure(name, samples)
        if name == "PYMAX":
            np.testing.assert_array_equal(value, base_value)
        print(f"{name:10} {ms:10.1f} {ms * 1e3 / args.events:9.2f} {ms / base_ms:7.1f} {peak / 1024:9.0f}")


if __name__ == "__main__":
    main()
