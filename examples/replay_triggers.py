#!/usr/bin/env python3
"""Replays the triggers of examples/triggers.xml over a small set of recorded
events and prints how often each one fires.

The events are made up here and saved as .npy files, as a recording would
be: the beam current spectra of two subchannels (events x samples) and a
vacuum status word per event. They are then loaded again and replayed. The
files go to a temporary folder that is removed at the end, or to the folder
given with --out, which is kept.

    PYTHONPATH=build/python python3 examples/replay_triggers.py [--out DIR] [--events N]
"""
import argparse
import pathlib
import sys
import tempfile

import numpy as np

try:
    import qal3
except ImportError:
    sys.exit("replay_triggers.py: the qal3 module is not found; build it and put "
             "build/python on PYTHONPATH, or install it")

HERE = pathlib.Path(__file__).resolve().parent

# Axis of the recorded spectra: subchannel 0 in microseconds (0..10 us),
# subchannel 1 (the ripple monitor) 0..200 in its own units.
AXES = {0: (0.0, 0.01, 1000), 1: (0.0, 0.2, 1000)}


def record(folder, events, seed=2024):
    """Makes the recording and saves it as .npy files in `folder`."""
    rng = np.random.default_rng(seed)
    folder.mkdir(parents=True, exist_ok=True)
    start, inc, n = AXES[0]
    t = start + inc * np.arange(n, dtype=np.float32)
    bunch = ((t > 2.0) & (t < 5.0)).astype(np.float32)
    level = rng.normal(3.0, 0.4, (events, 1)).astype(np.float32)
    current = level * bunch + rng.normal(0.0, 0.05, (events, n)).astype(np.float32)
    jumps = rng.random(events) < 0.05            # a few events with a spike
    current[jumps, rng.integers(0, n, jumps.sum())] += 2.5
    ripple = rng.normal(0.0, 1.0, (events, AXES[1][2])).astype(np.float32)
    ripple *= rng.uniform(0.5, 1.6, (events, 1)).astype(np.float32)
    status = rng.choice(np.array([0, 1, 2, 4, 8], np.float32), events, p=[0.7, 0.1, 0.1, 0.05, 0.05])
    np.save(folder / "beam_current_sub0.npy", current.astype(np.float32))
    np.save(folder / "beam_current_sub1.npy", ripple.astype(np.float32))
    np.save(folder / "vac_status.npy", status.astype(np.float32))


def replay(folder, triggers):
    """(trigger, events, fired) for every trigger, over the saved recording."""
    spectra = {sub: np.load(folder / f"beam_current_sub{sub}.npy") for sub in AXES}
    status = np.load(folder / "vac_status.npy")
    rows = []
    for t in triggers:
        if t.channel == "VAC/Status":
            fired, _ = qal3.evaluate_values(t, status)
        else:
            start, inc, _ = AXES[t.subchannel]
            fired, _ = qal3.evaluate(t, spectra[t.subchannel], start=start, inc=inc)
        rows.append((t, len(fired), int(fired.sum())))
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", type=pathlib.Path,
                        help="folder that keeps the .npy files (default: a temporary folder, removed)")
    parser.add_argument("--events", type=int, default=2000, help="events to record (default 2000)")
    parser.add_argument("--triggers", type=pathlib.Path, default=HERE / "triggers.xml")
    args = parser.parse_args()

    try:
        triggers = qal3.read_triggers(args.triggers)
    except qal3.Error as e:
        sys.exit(f"replay_triggers.py: {e}")
    if args.out is not None:
        show(args.out, args.events, triggers)
    else:
        with tempfile.TemporaryDirectory(prefix="qal3-replay-") as folder:
            show(pathlib.Path(folder), args.events, triggers)


def show(folder, events, triggers):
    """Records `events` events into `folder` and prints the replay's table."""
    record(folder, events)
    print(f"{'#':>2}  {'channel':<14}{'sub':>4}  {'function':<10}{'operation':<10}"
          f"{'events':>7}{'fired':>7}{'rate':>8}")
    for i, (t, n, fired) in enumerate(replay(folder, triggers)):
        print(f"{i:>2}  {t.channel:<14}{t.subchannel:>4}  {qal3.function_name(t.function):<10}"
              f"{qal3.operation_name(t.operation):<10}{n:>7}{fired:>7}{fired / n:>8.1%}")


if __name__ == "__main__":
    main()
