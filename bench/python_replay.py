#!/usr/bin/env python3
"""Replay of one trigger over 10,000 events x 1,000 samples from Python
(qal3.evaluate) against the same loop in C++ (bench_replay_loop).

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_replay.py BUILD-BENCH/bench/bench_replay_loop

BUILD is a build with the Python module, BUILD-BENCH one with -DQAL3_BUILD_BENCH=ON
(both Release for the figures in bench/README.md). Prints the medians and the
ratios Python / C++. Both sides count the CPU time of the calling thread:
on a shared machine wall-clock times of a 2 ms call and of a 0.5 s
benchmark run are not comparable.
"""
import json
import statistics
import subprocess
import sys
import time

import numpy as np

import qal3

EVENTS, SAMPLES, REPEATS = 10000, 1000, 15


def recording():
    # The numbers bench_replay_loop makes: ((i * 1000 + j) % 97) * 0.1.
    k = np.arange(EVENTS * SAMPLES, dtype=np.int64) % 97
    return (k.astype(np.float32) * np.float32(0.1)).reshape(EVENTS, SAMPLES)


def python_ms(samples):
    trigger = qal3.Trigger(channel="BEAM/Current", function="MEAN", fparam=[2.0, 5.0, 1.0],
                           operation="INSIDE", low=2.5, upper=3.5)
    qal3.evaluate(trigger, samples, start=0.0, inc=0.01)  # warm up
    times = []
    for _ in range(REPEATS):
        t0 = time.thread_time()
        qal3.evaluate(trigger, samples, start=0.0, inc=0.01)
        times.append((time.thread_time() - t0) * 1e3)
    return statistics.median(times)


def cpp_ms(binary):
    out = subprocess.run([binary, "--benchmark_format=json", f"--benchmark_repetitions={REPEATS}",
                          "--benchmark_report_aggregates_only=true"],
                         check=True, capture_output=True, text=True).stdout
    return {b["run_name"]: b["cpu_time"] for b in json.loads(out)["benchmarks"]
            if b.get("aggregate_name") == "median"}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    py = python_ms(recording())
    cpp = cpp_ms(sys.argv[1])
    print(f"python qal3.evaluate: {py:8.2f} ms")
    for name, ms in cpp.items():
        print(f"C++ {name:<17}: {ms:8.2f} ms   python / C++ = {py / ms:.2f}")


if __name__ == "__main__":
    main()
