"""A trigger list replayed over a recording: the recording's channels found,
checked and handed to the C++ loop (qal3._core.Replay) block by block, and
the answers gathered in a table.

A recording maps channel names to arrays: 2-D spectra (events x samples) or
1-D name/value data (one value per event). Arrays held in memory go to the
loop in one piece; chunked arrays (dask arrays, HDF5 data sets) go in
blocks of rows, so that only one block of each channel is in memory at a
time. The Replay carries DIFF state from block to block, so the answers do
not depend on the blocks. numpy, dask, h5py and pandas are imported only
when a recording or a table needs them: the package imports without them."""

import contextlib
import os
import zipfile
from numbers import Real
from typing import Any, Dict, List, Mapping, Union

from ._records import Message, warn

# Rows of a block of an HDF5 data set stored without chunks: about this many
# bytes of every channel together.
_BLOCK_BYTES = 64 << 20

_Axis = Union[float, Mapping[str, float]]


class ReplayTable:
    """The answers of a trigger list over a recording, one row per event.

    ``fired`` (bool) and ``value`` (float32, NaN where the function gave
    none) are numpy arrays of shape (events, triggers), the triggers in list
    order; ``triggers`` are the triggers replayed and ``missing`` the
    channels the recording does not hold (their triggers' columns are False
    and NaN)."""

    def __init__(self, fired, value, triggers, missing):
        self.fired = fired
        self.value = value
        self.triggers = triggers
        self.missing = missing

    def __len__(self) -> int:
        return self.fired.shape[0]

    def __repr__(self) -> str:
        events, triggers = self.fired.shape
        extra = f", missing={self.missing!r}" if self.missing else ""
        return f"ReplayTable(events={events}, triggers={triggers}{extra})"

    def to_frame(self):
        """A pandas DataFrame, one row per event: columns ("fired", k) and
        ("value", k) for trigger k (pandas must be installed)."""
        import pandas as pd
        frame = pd.concat({"fired": pd.DataFrame(self.fired), "value": pd.DataFrame(self.value)}, axis=1)
        frame.index.name = "event"
        frame.columns.names = [None, "trigger"]
        return frame


def replay(triggers, recording, start: _Axis = 0.0, inc: _Axis = 1.0) -> ReplayTable:
    """Replays the trigger list `triggers` over `recording` and returns a
    :class:`ReplayTable`; ``Replay(triggers).run(recording, start, inc)``.

    `recording` is a mapping of channel names to arrays (numpy, dask, or
    anything numpy reads; 2-D: spectra, events x samples; 1-D: name/value
    data, one value per event), the path of an ``.npz`` file or of an HDF5
    file (h5py), or an open h5py file or group (a channel "A/B" is the data
    set B of group A). Each trigger reads its own channel; sample i of a
    spectrum lies at start + i * inc, `start` and `inc` being numbers or
    dicts by channel name. A channel the recording lacks is reported in the
    table's ``missing`` and by a qal3.Warning. ValueError (naming the
    channel) for an array of the wrong shape or kind, channels with
    different numbers of events, or a spectrum without its start or inc;
    FileNotFoundError or ValueError (naming the file) for a recording that
    cannot be opened."""
    from ._core import Replay
    return run(Replay(list(triggers)), recording, start, inc)


def run(replay, recording, start: _Axis = 0.0, inc: _Axis = 1.0) -> ReplayTable:
    """Replay.run(): the replay's triggers over `recording`."""
    import numpy as np
    triggers = replay.triggers
    channels = [t.channel for t in triggers]
    with _opened(recording) as find:
        data: Dict[str, Any] = {}
        missing: List[str] = []
        for name in dict.fromkeys(channels):
            a = find(name)
            if a is None:
                missing.append(name)
            else:
                data[name] = _checked(name, a)
        if missing:
            text = "the recording holds no channel " + ", ".join(repr(m) for m in missing)
            warn(Message(kind="warning", text=text))
        events = _events(data)
        starts = [_axis(start, "start", c, data) for c in channels]
        incs = [_axis(inc, "inc", c, data) for c in channels]
        fired, value = [], []
        for rows in _blocks(events, data):
            piece = _read(data, rows)
            f, v = replay._run_arrays(rows.stop - rows.start, [piece.get(c) for c in channels], starts, incs)
            fired.append(f)
            value.append(v)
    if len(fired) != 1:
        fired = [np.concatenate(fired)] if fired else [np.zeros((0, len(channels)), bool)]
        value = [np.concatenate(value)] if value else [np.zeros((0, len(channels)), np.float32)]
    return ReplayTable(fired[0], value[0], triggers, missing)


@contextlib.contextmanager
def _opened(recording):
    """Yields find(name): the array of channel `name` in `recording`, or None."""
    import numpy as np
    if isinstance(recording, Mapping):
        yield recording.get
        return
    if isinstance(recording, (str, bytes, os.PathLike)):
        path = os.fsdecode(recording)
        if not os.path.exists(path):
            raise FileNotFoundError(2, "no recording at this path", path)
        if zipfile.is_zipfile(path):
            try:
                npz = np.load(path, allow_pickle=False)
            except (OSError, ValueError) as e:
                raise ValueError(f"{path}: not a readable .npz recording ({e})") from None
            with npz:
                yield lambda name: npz[name] if name in npz.files else None
            return
        try:
            import h5py
        except ImportError:
            raise ValueError(f"{path}: not an .npz file; HDF5 recordings need h5py") from None
        try:
            f = h5py.File(path, "r")
        except OSError as e:
            raise ValueError(f"{path}: neither an .npz nor an HDF5 recording ({e})") from None
        with f:
            yield _group_find(f)
        return
    if hasattr(recording, "visititems") and hasattr(recording, "get"):  # an h5py group or file
        yield _group_find(recording)
        return
    raise TypeError("recording must be a mapping of channel names to arrays, a path, or an h5py group, not "
                    + type(recording).__name__)


def _group_find(group):
    def find(name):
        item = group.get(name)
        return item if item is not None and hasattr(item, "shape") else None
    return find


def _lazy(a) -> bool:
    """Whether `a` is read block by block (dask arrays, HDF5 data sets)."""
    import numpy as np
    return not isinstance(a, np.ndarray)


def _checked(name: str, a):
    """`a` as an array (kept lazy when it is chunked), or ValueError naming the channel."""
    import numpy as np
    if not (hasattr(a, "shape") and hasattr(a, "dtype") and hasattr(a, "__getitem__")):
        a = np.asarray(a)
    kind = np.dtype(a.dtype).kind
    if kind not in "fiu":
        raise ValueError(f"channel {name!r}: a float or integer array is needed, not {a.dtype}")
    if len(a.shape) not in (1, 2):
        raise ValueError(f"channel {name!r}: 2-D spectra (events x samples) or 1-D values (one per event) "
                         f"are needed, not shape {tuple(a.shape)}")
    return a


def _events(data) -> int:
    counts = {name: int(a.shape[0]) for name, a in data.items()}
    if len(set(counts.values())) > 1:
        raise ValueError("channels hold different numbers of events: "
                         + ", ".join(f"{n!r}: {c}" for n, c in counts.items()))
    return next(iter(counts.values()), 0)


def _axis(given: _Axis, what: str, channel: str, data) -> float:
    a = data.get(channel)
    if a is None or len(a.shape) != 2:
        return 0.0
    if isinstance(given, Mapping):
        if channel not in given:
            raise ValueError(f"channel {channel!r}: {what} has no entry for this spectrum")
        given = given[channel]
    if not isinstance(given, Real):
        raise TypeError(f"channel {channel!r}: {what} must be a number")
    return float(given)


def _blocks(events: int, data):
    """The ranges of rows read at a time: all of them when every array is in
    memory, else blocks of the smallest chunk of the chunked arrays."""
    import numpy as np
    lazy = [a for a in data.values() if _lazy(a)]
    if not lazy:
        yield from ([range(0, events)] if events else [])
        return
    step = events
    for a in lazy:
        chunks = getattr(a, "chunks", None)
        if chunks and isinstance(chunks[0], tuple):  # dask: the row chunks
            step = min(step, max(chunks[0]))
        elif chunks:  # HDF5: the chunk shape
            step = min(step, chunks[0])
        else:
            row = max(1, int(np.prod(a.shape[1:], dtype=np.int64)) * np.dtype(a.dtype).itemsize)
            step = min(step, max(1, _BLOCK_BYTES // (row * len(data))))
    step = max(1, step)
    for first in range(0, events, step):
        yield range(first, min(events, first + step))


def _read(data, rows: range):
    """The rows `rows` of every channel, as numpy arrays."""
    import numpy as np
    piece = {}
    dask_names = []
    for name, a in data.items():
        if not _lazy(a):
            piece[name] = a[rows.start:rows.stop] if rows.start or rows.stop < len(a) else a
        elif hasattr(a, "compute"):
            dask_names.append(name)
        else:
            piece[name] = np.asarray(a[rows.start:rows.stop])
    if dask_names:
        import dask
        for name, block in zip(dask_names, dask.compute(*(data[n][rows.start:rows.stop] for n in dask_names))):
            piece[name] = np.asarray(block)
    return piece
