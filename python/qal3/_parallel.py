"""A trigger list replayed on a dask client, in blocks of events that the
workers read themselves.

Each block but the first is read from one event before it: that event
gives a DIFF function the state it has there in one process whenever the
function gives a value in it, which is the usual case, and then the block's
table is what one process gives, bit for bit. A block is replayed a second
time only for the triggers that gave no value in that event and that a block
before left a previous value to, and only over the events up to such a
trigger's first value in the block, from that value. A DIFF function's
state after a block is its last value there, or, when it gave none, the
state the block started with. The first pass does all the reading."""

import os
import warnings
from typing import Any, List, Optional

from ._replay import _BLOCK_BYTES, ReplayTable, _opened, _events, axes, found, run_here, wanted_names


# What a worker reads at a time of its block: a worker process is handed
# block after block, and each block's buffer is memory it touches anew.
_TASK_READ_BYTES = 8 << 20


def run_on(replay, recording, start, inc, client, chunk: Optional[int]) -> ReplayTable:
    """Replay.run(..., client=client, chunk=chunk)."""
    import dask
    import numpy as np
    triggers = replay.triggers
    source, events, missing, spectra, row_bytes = _describe(replay, recording, start, inc)
    step = _chunk(chunk, events, row_bytes, _workers(client))
    blocks = [range(first, min(events, first + step)) for first in range(0, events, step)]
    initial = replay._previous()
    # Each block but the first from the event before it (see above).
    first_pass = dask.compute(*[dask.delayed(_replay_block, pure=False)(
        triggers, _part(source, range(rows.start - (i > 0), rows.stop)), start, inc, initial if i == 0 else None)
        for i, rows in enumerate(blocks)], scheduler=client)
    from ._core import _OUTCOMES
    given = [o[0] == _OUTCOMES["FIRST_EVENT"] if i else None for i, (_, _, o, _) in enumerate(first_pass)]
    first_pass = [(f[1:], v[1:], o[1:], left) if i else (f, v, o, left)
                  for i, (f, v, o, left) in enumerate(first_pass)]
    # The state each block starts with: what the blocks before left.
    states: List[List[Any]] = [initial]
    for _, _, _, left in first_pass[:-1]:
        states.append([after if after is not None else before for before, after in zip(states[-1], left)])
    redo = []
    for i, (rows, (_, _, outcome, _)) in enumerate(zip(blocks, first_pass)):
        ks = [k for k, p in enumerate(states[i]) if i and p is not None and not given[i][k]]
        ends = {k: _first_value(outcome[:, k]) for k in ks}
        ks = [k for k in ks if ends[k] is not None]
        if ks:
            upto = range(rows.start, rows.start + max(ends[k] for k in ks) + 1)
            redo.append((i, ks, dask.delayed(_replay_block, pure=False)(
                [triggers[k] for k in ks], _part(source, upto), start, inc, [states[i][k] for k in ks])))
    second_pass = dask.compute(*[d for _, _, d in redo], scheduler=client) if redo else []
    fired = [f.copy() for f, _, _, _ in first_pass]
    value = [v.copy() for _, v, _, _ in first_pass]
    outcome = [o.copy() for _, _, o, _ in first_pass]
    last = list(first_pass[-1][3]) if first_pass else list(initial)
    for (i, ks, _), (f, v, o, left) in zip(redo, second_pass):
        for j, k in enumerate(ks):
            n = f.shape[0]
            fired[i][:n, k], value[i][:n, k], outcome[i][:n, k] = f[:, j], v[:, j], o[:, j]
    for k in range(len(triggers)):  # the state after the last block
        if blocks and last[k] is None:
            last[k] = states[-1][k]
    replay._restore(last)
    n = len(triggers)
    table = ReplayTable(np.concatenate(fired) if fired else np.zeros((0, n), bool),
                        np.concatenate(value) if value else np.zeros((0, n), np.float32),
                        triggers, missing, np.concatenate(outcome) if outcome else np.zeros((0, n), np.int8))
    table._spectra = spectra
    return table


def _first_value(outcomes):
    """The index of the first event a trigger's function gave a value in
    (its first event as a DIFF function), or None."""
    from ._core import _OUTCOMES
    hits = (outcomes == _OUTCOMES["FIRST_EVENT"]).nonzero()[0]
    return int(hits[0]) if len(hits) else None


def _describe(replay, recording, start, inc):
    """What the workers are given to read (a path, or the dask arrays by
    name), the number of events, the names missing, the spectra's axes and
    the bytes a block holds whole in a worker per event: every array's of
    a dask block, the table's of a block read from a file (read piece by
    piece). Only the arrays' shapes are read here."""
    if isinstance(recording, (str, bytes, os.PathLike)):
        source = os.fsdecode(recording)
    elif hasattr(recording, "items") and all(hasattr(a, "__dask_graph__") for a in recording.values()):
        source = dict(recording)
    else:
        raise TypeError("a replay on a client reads its recording in the workers: give the path of an HDF5 or "
                        ".npz file, or a mapping of dask arrays (arrays in this process would travel through "
                        "the scheduler)")
    import numpy as np
    triggers = replay.triggers
    wanted = wanted_names(triggers)
    with _opened(source) as find:
        data, missing = found(replay, find, wanted)
        events = _events(data)
        given = axes(start, inc, data, wanted, triggers)
        spectra = {n: given[n] + tuple(a.shape[1:]) for n, a in data.items() if len(a.shape) == 2}
        row_bytes = sum(max(1, int(np.prod(a.shape[1:]))) * max(4, np.dtype(a.dtype).itemsize) for a in data.values())
    if isinstance(source, str):  # a worker reads its block piece by piece: only its table is whole
        row_bytes = len(triggers) * (np.dtype(bool).itemsize + np.dtype(np.float32).itemsize + 1)
    if isinstance(source, dict):
        source = {n: source[n] if n in source else source[n + "[0]"] for n in data}  # as found: NAME or NAME[0]
    return source, events, missing, spectra, row_bytes


def _workers(client) -> int:
    """The client's workers (threads for a local scheduler)."""
    info = getattr(client, "scheduler_info", None)
    if info is not None:
        return max(1, len(info().get("workers", {})))
    return os.cpu_count() or 1


def _chunk(chunk, events: int, row_bytes: int, workers: int) -> int:
    """Events per block: `chunk`, else at most _BLOCK_BYTES held whole in a
    worker (`row_bytes` per event), and at least two blocks per worker."""
    if chunk is not None:
        if isinstance(chunk, bool) or not isinstance(chunk, int) or chunk < 1:
            raise ValueError(f"chunk must be a whole number of events, at least 1, not {chunk!r}")
        return chunk
    by_bytes = max(1, _BLOCK_BYTES // max(1, row_bytes))
    return max(1, min(by_bytes, -(-events // (2 * workers)))) if events else 1


def _part(source, rows: range):
    """What a worker reads for the events `rows`: the path and the range,
    or each dask array's rows (computed by the scheduler where it likes)."""
    if isinstance(source, str):
        return (source, rows)
    return ({n: a[rows.start:rows.stop] for n, a in source.items()}, None)


def _replay_block(triggers, part, start, inc, previous):
    """In a worker: the triggers over one block from the state `previous`
    (None: none); (fired, value, outcome, the state left)."""
    from ._core import Replay
    recording, rows = part
    replay = Replay(list(triggers))
    if previous is not None:
        replay._restore(list(previous))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        table = run_here(replay, recording, start, inc, rows, _TASK_READ_BYTES)
    return table.fired, table.value, table.outcome, replay._previous()
