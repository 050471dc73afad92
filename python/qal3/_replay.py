"""A trigger list replayed over a recording: the recording's channels and
subchannels found, checked and handed to the library's replay
(qal3._core.Replay) block by block, and the answers gathered in a table.

A recording maps names to arrays: 2-D spectra (events x samples) or 1-D
name/value data (one value per event). The name ``NAME`` is subchannel 0 of
channel NAME, ``NAME[k]`` subchannel k. Arrays held in memory go to the loop
in one piece; arrays read from elsewhere (dask arrays, HDF5 data sets, .npz
members) go in blocks of rows of about _BLOCK_BYTES for all of them
together, whatever their chunks, so that only one block of each channel is
in memory at a time. The Replay carries DIFF state from block to block, so
the answers do not depend on the blocks. numpy, dask, h5py and pandas are
imported only when a recording or a table needs them: the package imports
without them."""

import contextlib
import math
import os
import zipfile
from numbers import Real
from typing import Any, Dict, List, Mapping, Optional, Union

from ._records import Message, warn

# Rows of a block: about this many bytes of every channel read block by
# block together. A compressed HDF5 chunk is decompressed whole to read any
# row of it: chunks of more bytes than this are refused.
_BLOCK_BYTES = 64 << 20

_Axis = Union[float, Mapping[str, float]]

def _name(channel: str, subchannel: int) -> str:
    """The name of a channel's subchannel in a recording."""
    return channel if subchannel == 0 else f"{channel}[{subchannel}]"


class ReplayTable:
    """The answers of a trigger list over a recording, one row per event.

    ``fired`` (bool), ``value`` (float32, NaN where the function gave none)
    and ``outcome`` (int8, a :class:`qal3.Outcome` each) are numpy arrays of
    shape (events, triggers), the triggers in list order; ``triggers`` are
    the triggers replayed, ``labels`` a label for each (its index, channel,
    subchannel, function and operation, and its description or group where
    set) and ``missing`` the names (``NAME`` or ``NAME[k]``) of the channels
    and subchannels the recording does not hold (their triggers' columns are
    False, NaN and NO_DATA)."""

    def __init__(self, fired, value, triggers, missing, outcome=None):
        self.fired = fired
        self.value = value
        self.outcome = outcome
        self.triggers = triggers
        self.missing = missing
        self._spectra = {}  # name -> (start, inc, samples) of the spectra read

    def __len__(self) -> int:
        return self.fired.shape[0]

    def __repr__(self) -> str:
        events, triggers = self.fired.shape
        extra = f", missing={self.missing!r}" if self.missing else ""
        return f"ReplayTable(events={events}, triggers={triggers}{extra})"

    @property
    def labels(self) -> List[str]:
        """One label per trigger, such as "2: BEAM/Current[1] P2P GT (bunch length)"."""
        from ._core import function_name, operation_name
        out = []
        for k, t in enumerate(self.triggers):
            words = f"{k}: {_name(t.channel, t.subchannel)} {function_name(t.function)} {operation_name(t.operation)}"
            note = t.description or t.group
            out.append(f"{words} ({note})" if note else words)
        return out

    def _columns(self):
        """Per trigger: index, channel, subchannel, function, operation, description, group, label."""
        from ._core import function_name, operation_name
        return [(k, t.channel, t.subchannel, function_name(t.function), operation_name(t.operation),
                 t.description, t.group, label) for k, (t, label) in enumerate(zip(self.triggers, self.labels))]

    def to_frame(self, form: str = "wide"):
        """A pandas DataFrame (pandas must be installed). ``form="wide"``:
        one row per event, columns (quantity, trigger, label) for the
        quantities fired, value and outcome; ``form="long"``: one row per
        event and trigger, with the trigger's index, channel, subchannel,
        function, operation, description and group beside fired, value and
        outcome."""
        import numpy as np
        import pandas as pd
        events, n = self.fired.shape
        if form == "wide":
            columns = pd.MultiIndex.from_tuples(
                [(q, k, label) for q in ("fired", "value", "outcome") for k, label in enumerate(self.labels)],
                names=[None, "trigger", "label"])
            frame = pd.concat({"fired": pd.DataFrame(self.fired), "value": pd.DataFrame(self.value),
                               "outcome": pd.DataFrame(self.outcome)}, axis=1)
            frame.columns = columns
            frame.index.name = "event"
            return frame
        if form != "long":
            raise ValueError(f"form must be 'wide' or 'long', not {form!r}")
        info = self._columns()
        frame = pd.DataFrame({
            "event": np.repeat(np.arange(events), n),
            **{name: np.tile(np.array([c[i] for c in info], dtype=object if i not in (0, 2) else None), events)
               for i, name in enumerate(("trigger", "channel", "subchannel", "function", "operation", "description",
                                         "group"))},
            "fired": self.fired.reshape(-1), "value": self.value.reshape(-1), "outcome": self.outcome.reshape(-1)})
        return frame

    def to_xarray(self):
        """An xarray Dataset of fired, value and outcome over the dimensions
        (event, trigger), the triggers' channel, subchannel, function,
        operation, description, group and label as coordinates (xarray must
        be installed)."""
        import numpy as np
        import xarray as xr
        info = self._columns()
        coords = {"event": np.arange(self.fired.shape[0]), "trigger": [c[0] for c in info]}
        for i, name in enumerate(("channel", "subchannel", "function", "operation", "description", "group", "label")):
            coords[name] = ("trigger", [c[i + 1] for c in info])
        dims = ("event", "trigger")
        return xr.Dataset({"fired": (dims, self.fired), "value": (dims, self.value),
                           "outcome": (dims, self.outcome)}, coords=coords)

    def missing_warnings(self) -> List[str]:
        """The warning of the names the recording lacks."""
        return ["the recording holds no channel " + ", ".join(repr(m) for m in self.missing)] if self.missing else []

    def empty_warnings(self, *_) -> List[str]:
        """A warning per trigger that found its data but gave no value in any
        event, with its likely cause."""
        from ._core import _OUTCOMES, _window, function_index
        events = self.fired.shape[0]
        if not events or self.outcome is None:
            return []
        gave = (self.outcome != _OUTCOMES["NO_RESULT"]).any(axis=0)
        out = []
        for k, (t, label) in enumerate(zip(self.triggers, self.labels)):
            if gave[k] or (self.outcome[:, k] == _OUTCOMES["NO_DATA"]).all():
                continue
            text = f"trigger {label} gave no value in any of the {events} events"
            axis = self._spectra.get(_name(t.channel, t.subchannel))
            slot = function_index(t.function) if isinstance(t.function, str) else t.function
            if axis and _window(slot, list(t.fparam), *axis) is False:
                first, step, samples = axis
                ends = sorted((first, first + step * samples))
                text += (f": window {t.fparam[0]:g} to {t.fparam[1]:g} selects no sample of the spectrum "
                         f"({ends[0]:g} to {ends[1]:g}): are start and inc in the window's units?")
            out.append(text)
        return out


def replay(triggers, recording, start: _Axis = 0.0, inc: _Axis = 1.0, *, client=None,
           chunk: Optional[int] = None) -> ReplayTable:
    """Replays the trigger list `triggers` over `recording` and returns a
    :class:`ReplayTable`; ``Replay(triggers).run(recording, start, inc)``.

    `recording` is a mapping of names to arrays (numpy, dask, pandas, or
    anything numpy reads; 2-D: spectra, events x samples; 1-D: name/value
    data, one value per event), a pandas DataFrame (its columns, one value
    per event each), the path of an ``.npz`` file or of an HDF5 file (h5py),
    or an open h5py file or group (a channel "A/B" is the data set B of
    group A). The name ``NAME`` is subchannel 0 of channel NAME, ``NAME[k]``
    its subchannel k; each trigger reads its own channel and subchannel.
    Sample i of a spectrum lies at start + i * inc, `start` and `inc` being
    numbers or dicts by name (``NAME[k]``, else ``NAME``), in the units of
    the triggers' windows: a built-in function reads the samples from index
    int((window start - start) / inc) up to, not including, index
    int((window end - start) / inc) (to the last sample when the window end
    lies before the spectrum's start), every window-step-th one. A channel or subchannel the
    recording lacks is reported in the table's ``missing`` and by a
    qal3.Warning; so is a trigger that gives no value in any event, with its
    likely cause. ValueError (naming the channel) for an array of the wrong
    shape or kind, channels with different numbers of events, or a spectrum
    without its start or inc; FileNotFoundError or ValueError (naming the
    file) for a recording that cannot be opened.

    With `client` (a ``distributed.Client``, or the name of a local dask
    scheduler: "threads", "processes", "sync"), the events are replayed in
    blocks of `chunk` events (by default about 64 MB of the recording, and
    at least two blocks per worker) on the client's workers, each worker
    reading its own block: `recording` must then be a path (HDF5, ``.npz``)
    or a mapping of dask arrays, so that no data travels through the
    scheduler. The table equals the one of one process, DIFF functions
    included. Functions registered from Python are not known to worker
    processes."""
    from ._core import Replay
    return run(Replay(list(triggers)), recording, start, inc, client, chunk)


def wanted_names(triggers) -> Dict[str, Any]:
    """Name -> (trigger, subchannel): the names the triggers read, each with
    the first trigger that reads it."""
    from ._core import _MAX_SUBCHANNEL
    wanted: Dict[str, Any] = {}
    for k, t in enumerate(triggers):
        if 0 <= t.subchannel <= _MAX_SUBCHANNEL:
            wanted.setdefault(_name(t.channel, t.subchannel), (k, t.subchannel))
    return wanted


def found(replay, find, wanted):
    """The arrays `find` holds of the `wanted` names (checked, kept lazy),
    and the names the replay's triggers read that it lacks."""
    triggers = replay.triggers
    data: Dict[str, Any] = {}
    for name, (k, sub) in wanted.items():
        a = find(name)
        if a is None and sub == 0:
            a = find(f"{triggers[k].channel}[0]")
        if a is not None:
            data[name] = _checked(name, a)
    held = [wanted[name] for name in data]
    missing = list(dict.fromkeys(_name(triggers[k].channel, triggers[k].subchannel)
                                 for k in replay._missing(held)))
    return data, missing


def axes(start, inc, data, wanted, triggers):
    """Name -> (start, inc) of every array of `data`."""
    return {name: tuple(_axis(given, what, name, triggers[wanted[name][0]].channel, data)
                        for given, what in ((start, "start"), (inc, "inc"))) for name in data}


def run(replay, recording, start: _Axis = 0.0, inc: _Axis = 1.0, client=None, chunk=None) -> ReplayTable:
    """Replay.run(): the replay's triggers over `recording`."""
    if client is not None:
        from ._parallel import run_on
        table = run_on(replay, recording, start, inc, client, chunk)
    else:
        table = run_here(replay, recording, start, inc)
    for m in table.missing_warnings() + table.empty_warnings(recording, start, inc):
        warn(Message(kind="warning", text=m))
    return table


def run_here(replay, recording, start: _Axis = 0.0, inc: _Axis = 1.0, rows=None,
             block_bytes: int = _BLOCK_BYTES) -> ReplayTable:
    """The replay in this process; only the events `rows` (a range) when
    given. Arrays not in memory are read about `block_bytes` at a time."""
    import numpy as np
    triggers = replay.triggers
    wanted = wanted_names(triggers)
    with _opened(recording) as find:
        data, missing = found(replay, find, wanted)
        events = _events(data)
        given_axes = axes(start, inc, data, wanted, triggers)
        fired, value, outcome = [], [], []
        step = _step(events, data, block_bytes)
        dask_arrays = {n: a for n, a in data.items() if _lazy(a) and hasattr(a, "__dask_graph__")}
        dask_rows = _DaskRows(dask_arrays, step) if dask_arrays and events and rows is None else None
        buffers: Dict[str, Any] = {}
        for block in _blocks(range(events) if rows is None else rows, step):
            piece = _read(data, block, dask_rows, buffers)
            entries = [(wanted[n][0], wanted[n][1], piece[n]) + given_axes[n] for n in data]
            f, v, o = replay._run_entries(block.stop - block.start, entries)
            fired.append(f)
            value.append(v)
            outcome.append(o)
        shapes = {n: tuple(a.shape[1:]) for n, a in data.items()}
    if len(fired) != 1:
        n = len(triggers)
        fired = [np.concatenate(fired)] if fired else [np.zeros((0, n), bool)]
        value = [np.concatenate(value)] if value else [np.zeros((0, n), np.float32)]
        outcome = [np.concatenate(outcome)] if outcome else [np.zeros((0, n), np.int8)]
    table = ReplayTable(fired[0], value[0], triggers, missing, outcome[0])
    table._spectra = {n: given_axes[n] + shape for n, shape in shapes.items() if shape}
    return table


@contextlib.contextmanager
def _opened(recording):
    """Yields find(name): the array of channel `name` in `recording`, or None."""
    if isinstance(recording, Mapping):
        yield recording.get
        return
    if hasattr(recording, "columns") and hasattr(recording, "to_numpy"):  # a pandas DataFrame: its columns
        yield lambda name: recording[name].to_numpy() if name in recording.columns else None
        return
    if isinstance(recording, (str, bytes, os.PathLike)):
        path = os.fsdecode(recording)
        if not os.path.exists(path):
            raise FileNotFoundError(2, "no recording at this path", path)
        if zipfile.is_zipfile(path):
            try:
                npz = zipfile.ZipFile(path)
            except (OSError, zipfile.BadZipFile) as e:
                raise ValueError(f"{path}: not a readable .npz recording ({e})") from None
            with npz:
                members = {m[:-4]: m for m in npz.namelist() if m.endswith(".npy")}
                yield lambda name: _NpyMember(path, npz, members[name]) if name in members else None
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
        return _whole_chunks_fit(item) if item is not None and hasattr(item, "shape") else None
    return find


def _whole_chunks_fit(ds):
    """The HDF5 data set `ds`, reopened with a chunk cache that holds a row
    of its chunks when they are compressed (so that each chunk is
    decompressed once, however many blocks read it); ValueError naming its
    file when such a row of chunks holds more than _BLOCK_BYTES: HDF5
    decompresses a chunk whole to read any sample of it."""
    chunks = getattr(ds, "chunks", None)
    if not chunks or not all(isinstance(c, int) for c in chunks) or not hasattr(ds, "id"):
        return ds
    import h5py
    import numpy as np
    if ds.id.get_create_plist().get_nfilters() == 0:
        return ds  # HDF5 reads the rows asked for, not whole chunks
    across = math.prod(-(-n // c) for n, c in zip(ds.shape[1:], chunks[1:]))
    band = across * math.prod(chunks) * np.dtype(ds.dtype).itemsize
    if band > _BLOCK_BYTES:
        raise ValueError(f"{ds.file.filename}: data set {ds.name!r} is stored in compressed chunks that hold "
                         f"{band} bytes per row of chunks, decompressed whole to read any row; a replay reads "
                         f"at most {_BLOCK_BYTES} bytes at a time")
    access = h5py.h5p.create(h5py.h5p.DATASET_ACCESS)
    access.set_chunk_cache(max(521, 16 * across + 1), band + (1 << 20), 0.75)
    return h5py.Dataset(h5py.h5d.open(ds.file.id, ds.name.encode(), access))


class _NpyMember:
    """A member of an .npz file read row by row from its (decompressed)
    stream, never whole: rows are read in order, each block as it is asked
    for. Arrays stored in Fortran order are read whole when they hold at
    most _BLOCK_BYTES, else refused (their rows are not together)."""

    def __init__(self, path, npz, member):
        import numpy as np
        self._path, self._npz, self._member = path, npz, member
        self._open()
        self.shape, fortran, self.dtype = self._header
        self._row = math.prod(self.shape[1:]) * self.dtype.itemsize
        stored = self._npz.getinfo(self._member).file_size - self._stream.tell()
        if self.shape and self._row * self.shape[0] > stored:
            self._fail(f"holds {stored} bytes of data, not the {self._row * self.shape[0]} its shape needs")
        if self._row > _BLOCK_BYTES:
            self._fail(f"has rows of {self._row} bytes; a replay reads at most {_BLOCK_BYTES} bytes at a time")
        if fortran and len(self.shape) > 1:
            size = self._row * self.shape[0]
            if size > _BLOCK_BYTES:
                self._fail(f"stored in Fortran order, {size} bytes, read whole; a replay reads at most "
                           f"{_BLOCK_BYTES} bytes at a time")
            whole = np.frombuffer(self._take(size), self.dtype).reshape(self.shape[::-1]).T
            self._whole = whole
        else:
            self._whole = None

    def _fail(self, what):
        raise ValueError(f"{self._path}: member {self._member!r} {what}")

    def _open(self):
        import numpy as np
        fmt = np.lib.format
        try:
            self._stream = self._npz.open(self._member)
            version = fmt.read_magic(self._stream)
            if version == (1, 0):
                self._header = fmt.read_array_header_1_0(self._stream)
            elif version == (2, 0):
                self._header = fmt.read_array_header_2_0(self._stream)
            else:
                self._fail(f"is an .npy file of version {version}, which a replay does not read")
        except (OSError, ValueError, EOFError, zipfile.BadZipFile) as e:
            if isinstance(e, ValueError) and str(e).startswith(str(self._path)):
                raise
            self._fail(f"is not a readable .npy array ({e})")
        self._next = 0  # the row the stream is at

    def _take(self, size):
        try:
            data = self._stream.read(size)
        except (OSError, EOFError, zipfile.BadZipFile) as e:
            self._fail(f"cannot be read ({e})")
        if len(data) != size:
            self._fail("ends before its last row")
        return data

    def __getitem__(self, rows):
        import numpy as np
        if self._whole is not None:
            return self._whole[rows]
        start, stop, step = rows.indices(self.shape[0]) if self.shape else (0, 0, 1)
        if step != 1 or stop < start:
            raise IndexError("rows of an .npz member are read by ranges")
        if start < self._next:  # back to the start of the stream
            self._stream.close()
            self._open()
        skip = start - self._next
        while skip:
            n = min(skip, max(1, _BLOCK_BYTES // max(1, self._row)))
            self._take(n * self._row)
            skip -= n
        data = self._take((stop - start) * self._row)
        self._next = stop
        return np.frombuffer(data, self.dtype).reshape((stop - start,) + tuple(self.shape[1:]))


def _lazy(a) -> bool:
    """Whether `a` is read block by block (dask arrays, HDF5 data sets)."""
    import numpy as np
    return not isinstance(a, np.ndarray)


def _checked(name: str, a):
    """`a` as an array (kept lazy when it is chunked), or ValueError naming the channel."""
    import numpy as np
    if hasattr(a, "to_numpy") and not hasattr(a, "__dask_graph__"):  # pandas: its values, by position
        a = a.to_numpy()
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


def _axis(given: _Axis, what: str, name: str, channel: str, data) -> float:
    """The axis `what` of the spectrum `name` (``NAME`` or ``NAME[k]``) of
    `channel`: `given`, or its entry for the name, else for the channel."""
    a = data.get(name)
    if a is None or len(a.shape) != 2:
        return 0.0
    if isinstance(given, Mapping):
        if name in given:
            given = given[name]
        elif channel in given:
            given = given[channel]
        else:
            raise ValueError(f"channel {name!r}: {what} has no entry for this spectrum")
    if not isinstance(given, Real):
        raise TypeError(f"channel {name!r}: {what} must be a number")
    return float(given)


def _step(events: int, data, block_bytes: int = _BLOCK_BYTES) -> int:
    """The rows read at a time: all of them when every array is in memory,
    else about `block_bytes` of the arrays read block by block together (as
    float32 at least, as the loop takes them), whole chunks of HDF5 data
    sets when their chunks are smaller."""
    import numpy as np
    lazy = [a for a in data.values() if _lazy(a)]
    if not lazy:
        return events
    row = sum(max(1, math.prod(a.shape[1:])) * max(4, np.dtype(a.dtype).itemsize) for a in lazy)
    step = max(1, block_bytes // row)
    chunk = max((a.chunks[0] for a in lazy if isinstance(getattr(a, "chunks", None), tuple)
                 and a.chunks and isinstance(a.chunks[0], int)), default=0)
    if 0 < chunk <= step:
        step -= step % chunk
    return step


def _blocks(rows: range, step: int):
    """`rows` in ranges of `step` rows (see _step)."""
    for first in range(rows.start, rows.stop, step):
        yield range(first, min(rows.stop, first + step))


class _DaskRows:
    """Blocks of rows of dask arrays: each array rechunked once into blocks
    of `step` rows, and the graph of all of them optimised once; each block
    is computed by the scheduler in force from the tasks it needs alone, so
    that n blocks cost n small computations, never a walk of the whole
    graph each."""

    def __init__(self, arrays, step):
        from dask.base import collections_to_dsk, get_scheduler
        self.names = list(arrays)
        blocks = [a.rechunk({0: step, **{axis: -1 for axis in range(1, a.ndim)}}) for a in arrays.values()]
        self._step = step
        self._keys = [b.__dask_keys__() for b in blocks]
        self._graph = dict(collections_to_dsk(blocks, optimize_graph=True))
        self._get = get_scheduler(collections=blocks)

    def read(self, rows: range):
        from dask.optimization import cull
        import numpy as np
        keys = []
        for k in self._keys:
            k = k[rows.start // self._step]
            while isinstance(k, list):  # 2-D: the one block of columns
                k = k[0]
            keys.append(k)
        graph, _ = cull(self._graph, keys)
        return {n: np.asarray(b) for n, b in zip(self.names, self._get(graph, keys))}


def _read(data, rows: range, dask_rows, buffers):
    """The rows `rows` of every channel, as numpy arrays (those of the dask
    arrays from `dask_rows`, those of HDF5 data sets in `buffers`)."""
    import numpy as np
    piece = dask_rows.read(rows) if dask_rows else {}
    for name, a in data.items():
        if not _lazy(a):
            piece[name] = a[rows.start:rows.stop] if rows.start or rows.stop < len(a) else a
        elif hasattr(a, "read_direct"):
            piece[name] = _read_into(buffers, name, a, rows)
        elif name not in piece:
            piece[name] = np.asarray(a[rows.start:rows.stop])
    return piece


def _read_into(buffers, name: str, ds, rows: range):
    """The rows `rows` of the HDF5 data set `ds`, read into the run's buffer
    for `name`: one buffer serves every block, since memory the process has
    not touched before costs a page fault per page, more than reading it."""
    import numpy as np
    n = rows.stop - rows.start
    buffer = buffers.get(name)
    if buffer is None or buffer.shape[0] < n:
        buffer = buffers[name] = np.empty((n,) + tuple(ds.shape[1:]), ds.dtype)
    out = buffer[:n]
    if n:
        ds.read_direct(out, np.s_[rows.start:rows.stop], np.s_[0:n])
    return out
