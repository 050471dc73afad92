#!/usr/bin/env python3
"""Costs of the Python module that grow with its input: the writers over
many records, a replay over a dask array of many one-row chunks, and the
peak memory of a replay over compressed recordings (.npz and HDF5 holding
800 MB of zeros in about 800 KB).

    PYTHONPATH=BUILD/python /usr/bin/python3 bench/python_costs.py [--quick]

Each figure is measured in a process of its own (wall time of the call,
peak resident memory of the process, which includes the interpreter's and
numpy's, about 70 MB). A writer of n records and a replay
over n chunks must cost O(n): the ratios of 2n to n are printed."""
import json
import os
import resource
import subprocess
import sys
import tempfile
import time


def child(what, n, folder):
    import numpy as np
    import qal3
    if what == "write_evlist":
        example = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "evlist_basic.xml")
        entries = qal3.read_evlist(example)[:1] * n
        start = time.perf_counter()
        qal3.write_evlist(entries)
    else:
        t = [qal3.Trigger(channel="S", function="DIFFMAX", fparam=[0.0, -1.0, 1.0], operation="GT", upper=0.5)]
        if what == "dask":
            import dask.array as da
            a = np.random.default_rng(1).normal(size=(n, 100)).astype(np.float32)
            recording = {"S": da.from_array(a, chunks=(1, 100))}
        else:
            recording = os.path.join(folder, f"zeros{n}.{what}")
        start = time.perf_counter()
        try:
            qal3.replay(t, recording)
        except ValueError as e:
            print(json.dumps({"refused": str(e)}))
            return
    seconds = time.perf_counter() - start
    print(json.dumps({"seconds": seconds, "peak_mb": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}))


def make_recordings(folder):
    import numpy as np
    zeros = np.zeros((2000, 100000), np.float32)
    np.savez_compressed(os.path.join(folder, "zeros0.npz"), S=zeros)
    try:
        import h5py
    except ImportError:
        return ["npz"]
    for chunks, name in (((2000, 100000), "zeros0.h5"), ((160, 12500), "zeros1.h5")):
        with h5py.File(os.path.join(folder, name), "w") as f:
            f.create_dataset("S", data=zeros, chunks=chunks, compression="gzip")
    return ["npz", "h5"]


def measure(what, n, folder):
    out = subprocess.run([sys.executable, __file__, "--child", what, str(n), folder], capture_output=True,
                         text=True, check=True)
    return json.loads(out.stdout)


def main():
    if sys.argv[1:2] == ["--child"]:
        child(sys.argv[2], int(sys.argv[3]), sys.argv[4])
        return
    if sys.argv[1:2] == ["--make"]:
        print(json.dumps(make_recordings(sys.argv[2])))
        return
    quick = "--quick" in sys.argv
    with tempfile.TemporaryDirectory() as folder:
        for what, sizes in (("write_evlist", (50000, 100000, 200000) if quick else (100000, 200000, 400000)),
                            ("dask", (1000, 2000) if quick else (2000, 5000, 10000))):
            figures = [measure(what, n, folder) for n in sizes]
            for n, f in zip(sizes, figures):
                print(f"{what} {n:>7}: {f['seconds']:7.2f} s, peak {f['peak_mb']:6.0f} MB")
            print(f"{what} ratios: " + ", ".join(f"{b['seconds'] / a['seconds']:.2f}"
                                                  for a, b in zip(figures, figures[1:])))
        # Made in a process of its own: a child's peak memory starts from its parent's.
        made = subprocess.run([sys.executable, __file__, "--make", folder], capture_output=True, text=True, check=True)
        for kind in json.loads(made.stdout):
            for n in (0, 1) if kind == "h5" else (0,):
                f = measure(kind, n, folder)
                size = os.path.getsize(os.path.join(folder, f"zeros{n}.{kind}"))
                label = f"replay of zeros{n}.{kind} ({size // 1024} KB)"
                if "refused" in f:
                    print(f"{label}: refused: {f['refused']}")
                else:
                    print(f"{label}: {f['seconds']:.2f} s, peak {f['peak_mb']:.0f} MB")


if __name__ == "__main__":
    main()
