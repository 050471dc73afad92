#!/usr/bin/env python3
"""Replay of one trigger over 10,000 events x 1,000 samples from Python
(qal3.evaluate) against the same loop in C++ (bench_replay_loop).

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_replay.py BUILD-BENCH/bench/bench_replay_loop
    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_replay.py --threads

BUILD is a build with the Python module, BUILD-BENCH one with -DQAL3_BUILD_BENCH=ON
(both Release for the figures in bench/README.md). Prints the medians and the
ratios Python / C++. Both sides count the CPU time of the calling thread:
on a shared machine wall-clock times of a 2 ms call and of a 0.5 s
benchmark run are not comparable.

With --threads: replays per second of qal3.evaluate in one thread and in two
threads at once (wall clock, each thread its own replays of MEAN and of SUM,
which emits one library line per event), and their ratio. Run it on an
otherwise idle machine with at least two cores.
"""
import json
import statistics
import subprocess
import sys
import threading
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


def replays_per_second(samples, function, threads, replays=10):
    trigger = qal3.Trigger(channel="BEAM/Current", function=function, fparam=[2.0, 5.0, 1.0],
                           operation="INSIDE", low=2.5, upper=3.5)
    qal3.evaluate(trigger, samples, start=0.0, inc=0.01)  # warm up
    start = threading.Barrier(threads + 1)

    def work():
        start.wait()
        for _ in range(replays):
            qal3.evaluate(trigger, samples, start=0.0, inc=0.01)

    pool = [threading.Thread(target=work) for _ in range(threads)]
    for t in pool:
        t.start()
    start.wait()
    t0 = time.perf_counter()
    for t in pool:
        t.join()
    return threads * replays / (time.perf_counter() - t0)


def scaling():
    samples = recording()
    print(f"{'function':<9} {'1 thread/s':>11} {'2 threads/s':>12} {'ratio':>6}")
    for function in ("MEAN", "SUM"):
        one = statistics.median(replays_per_second(samples, function, 1) for _ in range(5))
        two = statistics.median(replays_per_second(samples, function, 2) for _ in range(5))
        print(f"{function:<9} {one:>11.1f} {two:>12.1f} {two / one:>6.2f}")


def main():
    if sys.argv[1:] == ["--threads"]:
        scaling()
        return
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    py = python_ms(recording())
    cpp = cpp_ms(sys.argv[1])
    print(f"python qal3.evaluate: {py:8.2f} ms")
    for name, ms in cpp.items():
        print(f"C++ {name:<17}: {ms:8.2f} ms   python / C++ = {py / ms:.2f}")


if __name__ == "__main__":
    main()
