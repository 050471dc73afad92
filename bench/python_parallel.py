#!/usr/bin/env python3
"""The replay of a trigger list over an HDF5 recording in one process and on
a local dask cluster of two worker processes (qal3.replay(..., client=)).

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_parallel.py [--events N,N,...] [--folder DIR]

The recording, 8 channels x N events x 1,000 float32 samples (64,000 events:
2 GB), is written first (h5py) into DIR (default: a temporary folder); the
list is 32 triggers, four per channel: three MEANs and one DIFFMEAN over
samples 200 to 500 or so (the windows of bench/python_replay.py --list). For each N: wall-clock time in one process and on the cluster
(medians of 3), their ratio, and the peak resident memory of the process
and of each worker (ru_maxrss)."""
import os
import resource
import statistics
import sys
import tempfile
import time

import numpy as np

import qal3

CHANNELS, SAMPLES = 8, 1000


def triggers():
    return [qal3.Trigger(channel=f"CH{k % CHANNELS}", function="DIFFMEAN" if k >= 24 else "MEAN",
                         fparam=[2.0 + 0.1 * (k // CHANNELS), 5.0 + 0.1 * (k // CHANNELS), 1.0],
                         operation="INSIDE", low=-0.5, upper=0.5) for k in range(4 * CHANNELS)]


def write(path, events):
    import h5py
    rng = np.random.default_rng(1)
    rows = rng.normal(0.0, 1.0, (1000, SAMPLES)).astype(np.float32)
    with h5py.File(path, "w") as f:
        for c in range(CHANNELS):
            ds = f.create_dataset(f"CH{c}", (events, SAMPLES), np.float32)
            for first in range(0, events, 1000):
                n = min(1000, events - first)
                ds[first:first + n] = rows[:n] + c
    return os.path.getsize(path)


def wall(call, repeats=3):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        call()
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def peak_mib():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    import distributed
    args = sys.argv[1:]
    counts = [64000]
    folder = None
    if "--events" in args:
        counts = [int(n) for n in args[args.index("--events") + 1].split(",")]
    if "--folder" in args:
        folder = args[args.index("--folder") + 1]
    ts = triggers()
    with tempfile.TemporaryDirectory(dir=folder) as where, \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                     dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        print(f"{len(ts)} triggers x {CHANNELS} channels x {SAMPLES} samples, HDF5; 2 worker processes")
        print("events   file MiB   one process s   cluster s   ratio   peak MiB: process, workers")
        for events in counts:
            path = os.path.join(where, f"run{events}.h5")
            size = write(path, events) / 2**20
            here = wall(lambda: qal3.replay(ts, path, inc=0.01))
            there = wall(lambda: qal3.replay(ts, path, inc=0.01, client=client))
            workers = client.run(peak_mib)
            print(f"{events:7d} {size:10.0f} {here:15.2f} {there:11.2f} {here / there:7.2f}   "
                  f"{peak_mib():.0f}, " + ", ".join(f"{m:.0f}" for m in workers.values()))
            same = qal3.replay(ts, path, inc=0.01, client=client).outcome
            assert np.array_equal(same, qal3.replay(ts, path, inc=0.01).outcome)
            os.remove(path)


if __name__ == "__main__":
    main()
