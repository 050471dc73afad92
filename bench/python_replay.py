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

With --tool QAL3: the list below over one HDF5 file (h5py writes it), the
tool's `trigger test --recording` against qal3.replay of the same file.

With --list [BENCH_REPLAY_LOOP] [--events N]: a list of 32 triggers over 8
channels x N events (10,000 by default) x 1,000 samples: qal3.replay against
the same 32 replays one by one (qal3.evaluate, and the C++ loop when its
binary is given), the memory the replay takes besides the recording
(tracemalloc peak), the same over a chunked dask array of .npy files in
process and on a local cluster of two worker processes (when dask and
distributed are installed), and two list replays in two threads against one.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tracemalloc

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


CHANNELS, TRIGGERS = 8, 32


def list_triggers():
    """Four triggers per channel, each the C++ loop's MEAN over 2..5."""
    return [qal3.Trigger(channel=f"CH{k % CHANNELS}", function="MEAN", fparam=[2.0, 5.0, 1.0],
                         operation="INSIDE", low=2.5, upper=3.5) for k in range(TRIGGERS)]


def cpu_ms(call, repeats=3):
    times = []
    for _ in range(repeats):
        t0 = time.thread_time()
        call()
        times.append((time.thread_time() - t0) * 1e3)
    return statistics.median(times)


def wall_ms(call, repeats=3):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        call()
        times.append((time.perf_counter() - t0) * 1e3)
    return statistics.median(times)


def peak_mb(call):
    tracemalloc.start()
    call()
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return peak / 2**20


def list_replay(args):
    global EVENTS
    if "--events" in args:
        EVENTS = int(args[args.index("--events") + 1])
        del args[args.index("--events"):args.index("--events") + 2]
    binary = args[0] if args else None
    one = recording()
    rec = {f"CH{c}": one if c == 0 else one.copy() for c in range(CHANNELS)}
    size = sum(a.nbytes for a in rec.values()) / 2**20
    triggers = list_triggers()
    kw = {"start": 0.0, "inc": 0.01}
    print(f"{TRIGGERS} triggers x {CHANNELS} channels x {EVENTS} events x {SAMPLES} samples "
          f"({size:.0f} MiB)")
    listed = cpu_ms(lambda: qal3.replay(triggers, rec, **kw))
    singles = cpu_ms(lambda: [qal3.evaluate(t, rec[t.channel], **kw) for t in triggers])
    print(f"qal3.replay:                 {listed:9.1f} ms")
    print(f"32 x qal3.evaluate:          {singles:9.1f} ms   replay / sum = {listed / singles:.2f}")
    if binary:
        cpp = cpp_ms(binary)["reuse_block"] * EVENTS / 10000 * TRIGGERS
        print(f"32 x C++ loop (reuse_block): {cpp:9.1f} ms   replay / sum = {listed / cpp:.2f}")
    print(f"replay memory besides the recording: {peak_mb(lambda: qal3.replay(triggers, rec, **kw)):.1f} MiB "
          f"(recording {size:.0f} MiB)")
    try:
        import dask.array as da
        import distributed
    except ImportError:
        print("dask or distributed missing: no chunked figures")
    else:
        with tempfile.TemporaryDirectory() as folder:
            # Chunks read from .npy files where they are computed: the task
            # graph names the files, never carries the data.
            for c, a in rec.items():
                da.to_npy_stack(os.path.join(folder, c), da.from_array(a, chunks=(1000, SAMPLES)))
            chunked = {c: da.from_npy_stack(os.path.join(folder, c)) for c in rec}
            local = wall_ms(lambda: qal3.replay(triggers, chunked, **kw), 1)
            print(f"dask chunks of 1000 events, in process: {local:9.1f} ms (wall), "
                  f"memory {peak_mb(lambda: qal3.replay(triggers, chunked, **kw)):.1f} MiB")
            with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                          dashboard_address=None) as cluster, distributed.Client(cluster) as client:
                far = wall_ms(lambda: client.submit(qal3.replay, triggers, chunked, 0.0, 0.01, pure=False).result(), 1)
            print(f"dask chunks, on a local cluster worker:  {far:9.1f} ms (wall)")
    del rec
    same = {f"CH{c}": one for c in range(CHANNELS)}

    def per_second(threads, replays=10):
        def work():
            for _ in range(replays):
                qal3.replay(triggers, same, **kw)
        pool = [threading.Thread(target=work) for _ in range(threads)]
        t0 = time.perf_counter()
        for t in pool:
            t.start()
        for t in pool:
            t.join()
        return threads * replays / (time.perf_counter() - t0)

    one_thread = statistics.median(per_second(1) for _ in range(5))
    two_threads = statistics.median(per_second(2) for _ in range(5))
    print(f"list replays/s: {one_thread:.1f} in one thread, {two_threads:.1f} in two: "
          f"{two_threads / one_thread:.2f} x")


def tool_replay(tool):
    """The list over one HDF5 file: `qal3 trigger test --recording` (its
    table to /dev/null) against qal3.replay of the same path, wall clock."""
    import h5py
    one = recording()
    triggers = list_triggers()
    with tempfile.TemporaryDirectory() as folder:
        path, listed = os.path.join(folder, "run.h5"), os.path.join(folder, "triggers.xml")
        with h5py.File(path, "w") as f:
            for c in range(CHANNELS):
                f[f"CH{c}"] = one
        qal3.write_triggers(triggers, listed)
        command = [tool, "trigger", "test", "-q", listed, "--recording", path, "--inc", "0.01"]
        run = lambda: subprocess.run(command, stdout=subprocess.DEVNULL, check=True)  # noqa: E731
        shown = wall_ms(run)
        module = wall_ms(lambda: qal3.replay(triggers, path, inc=0.01))
        print(f"{TRIGGERS} triggers x {CHANNELS} channels x {EVENTS} events x {SAMPLES} samples, HDF5")
        print(f"qal3 trigger test --recording: {shown:9.1f} ms (wall, {EVENTS * TRIGGERS} table lines)")
        print(f"qal3.replay of the file:       {module:9.1f} ms (wall)   tool / module = {shown / module:.2f}")


def main():
    if sys.argv[1:2] == ["--tool"] and len(sys.argv) == 3:
        tool_replay(sys.argv[2])
        return
    if sys.argv[1:] == ["--threads"]:
        scaling()
        return
    if sys.argv[1:2] == ["--list"]:
        list_replay(sys.argv[2:])
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
