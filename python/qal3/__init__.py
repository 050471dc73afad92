"""The QAL3 DAQ configuration documents and user trigger engine in Python.

Readers (``read_*`` from a path, ``parse_*`` from a str, which is text
whatever its declaration says, or bytes, decoded by their declaration as a
file's content is) return lists of
records whose attributes are the records' own field names; writers
(``write_*``) take such lists and return the document, or write it to
``path`` (all or nothing). A document that cannot be read raises
:class:`Error` with the library's result code and messages
(:class:`FileNotFound`, also a FileNotFoundError, when the file is missing);
messages of a read that succeeded come as :class:`Warning`. The library's
lines never reach the process's standard output or error: each call sends
them to its own thread's message sink.

:func:`evaluate` replays a trigger over recorded spectra held in numpy
arrays; :func:`replay` replays a trigger list over a recording of many
channels (numpy, ``.npz``, HDF5, dask) into a :class:`ReplayTable`;
:class:`Replay` does both and keeps the state of DIFF functions from call
to call.
"""

import os
import stat
import tempfile
from typing import Any, Iterable, Optional, Tuple, Union

from ._records import (BitDescr, ChanDescr, DimDescr, EnvIndexEntry, Error, EvEntry,
                       EvSbList, FileNotFound, GigEFeature, Message, RegistryEntry, StatDescr,
                       TimeStamp, Trigger, Warning)
from . import _core
from ._core import (ChanSelector, Replay, __version__, function_index, function_name, functions,
                    operation_index, operation_name, operations, parse_chan, parse_envdict,
                    parse_evlist, parse_gige, parse_triggers, read_chan, read_envdict,
                    read_evlist, read_gige, read_triggers)
from ._replay import ReplayTable, replay

# qal3.Warning under a name that `from qal3 import *` may bring in without
# hiding the built-in Warning.
QAL3Warning = Warning

# Warning stays out: a star import must not shadow the built-in.
__all__ = [
    "BitDescr", "ChanDescr", "ChanSelector", "DimDescr", "EnvIndexEntry", "Error", "EvEntry",
    "EvSbList", "FEATURE_TYPES", "FileNotFound", "GigEFeature", "Message", "QAL3Warning",
    "RegistryEntry", "Replay", "ReplayTable", "StatDescr",
    "TimeStamp", "Trigger", "evaluate", "evaluate_slow", "evaluate_values",
    "function_index", "function_name", "functions", "operation_index", "operation_name",
    "operations", "parse_chan", "parse_envdict", "parse_evlist", "parse_gige",
    "parse_triggers", "read_chan", "read_envdict", "read_evlist", "read_gige",
    "read_triggers", "replay", "write_chan", "write_envdict", "write_evlist", "write_gige",
    "write_triggers",
]

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

# GigEFeature.type values: the element names that start a feature.
FEATURE_TYPES = _core.FEATURE_TYPES


def _deliver(document, path):
    """Returns `document`, or replaces the file `path` with it as an editor
    would: through a temporary file in the same folder that takes the old
    file's mode (and owner and group where allowed) and is renamed over
    `path` only once it is complete, then the folder is synced. A symbolic
    link at `path` is replaced by the new file, not written through."""
    if path is None:
        return document
    path = os.fspath(path)
    if not path:
        raise ValueError("path must not be empty")
    folder = os.path.dirname(os.path.abspath(path)) or os.sep
    try:
        old = os.stat(path)  # a link's target: the file whose content is replaced
    except (FileNotFoundError, NotADirectoryError):
        old = None
    if old is not None and not stat.S_ISREG(old.st_mode):
        old = None
    fd, tmp = tempfile.mkstemp(prefix=".qal3-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="latin-1", newline="") as f:
            f.write(document)
            f.flush()
            if old is None:
                os.fchmod(f.fileno(), 0o666 & ~_umask())
            else:
                _take_owner(f.fileno(), old)
                os.fchmod(f.fileno(), stat.S_IMODE(old.st_mode))
            os.fsync(f.fileno())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    _sync_folder(folder)
    return None


def _take_owner(fd, old):
    """Gives the file `fd` the owner and group of `old`, as far as allowed:
    both as root, else the group when the caller belongs to it."""
    if os.geteuid() == 0:
        os.fchown(fd, old.st_uid, old.st_gid)
    elif old.st_gid != os.getegid():
        try:
            os.fchown(fd, -1, old.st_gid)
        except PermissionError:
            pass


def _sync_folder(folder):
    """Makes the rename in `folder` durable."""
    try:
        fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    except OSError:
        return
    try:
        os.fsync(fd)
    except OSError:
        pass  # some file systems cannot sync a folder; the rename is done
    finally:
        os.close(fd)


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_evlist(entries: Iterable[EvEntry], path: Optional[_Path] = None) -> Optional[str]:
    """The event list (BMR) document of `entries` (EvEntry records), or None
    once it has replaced the file `path`."""
    return _deliver(_core.write_evlist(entries), path)


def write_chan(chans: Iterable[ChanDescr], path: Optional[_Path] = None, *,
               format: str = "chandescr") -> Optional[str]:
    """Channel descriptions as a CHANDESCRIPTIONS (format="chandescr") or
    DAQvariables (format="daqvars") document, or None once it has replaced
    the file `path`. A property is written once: descriptions that repeat a
    property name are dropped (the first one is written), and a
    qal3.Warning names the repeated properties."""
    return _deliver(_core.write_chan(chans, format=format), path)


def write_envdict(entries: Iterable[EnvIndexEntry], path: Optional[_Path] = None, *,
                  layout: str = "2010") -> Optional[str]:
    """The environment index dictionary, or None once it has replaced the
    file `path`; layout "2010" (property names up to 255 bytes) or "old"
    (up to 79)."""
    return _deliver(_core.write_envdict(entries, layout=layout), path)


def write_triggers(triggers: Iterable[Trigger], path: Optional[_Path] = None) -> Optional[str]:
    """The trigger list document of `triggers` (Trigger records), or None
    once it has replaced the file `path`."""
    return _deliver(_core.write_triggers(triggers), path)


def write_gige(features: Iterable[GigEFeature], path: Optional[_Path] = None) -> Optional[str]:
    """A GigE feature file holding `features` (GigEFeature records), or None
    once it has replaced the file `path`."""
    return _deliver(_core.write_gige(features), path)


def evaluate(trigger: Trigger, samples, start: float = 0.0, inc: float = 1.0) -> Tuple[Any, Any]:
    """Replays `trigger` over spectra: `samples` is 1-D (one event) or 2-D
    (events x samples); sample i lies at start + i * inc on the axis.
    float32 is used as it is; float64 and integer arrays are converted to
    float32 first, as the DAQ block stores its samples. Returns (fired,
    value): booleans and the function's float32 value per event (NaN where
    the function gave none). DIFF functions compare each event with the one
    before; the first event gives NaN."""
    return Replay(trigger).spectra(samples, start, inc)


def evaluate_values(trigger: Trigger, values) -> Tuple[Any, Any]:
    """Replays `trigger` over name/value data: 1-D (the value of the
    trigger's subchannel per event) or 2-D (events x subchannels),
    converted to float32 as evaluate() does."""
    return Replay(trigger).values(values)


def evaluate_slow(trigger: Trigger, values) -> Tuple[Any, Any]:
    """Replays `trigger` over slow data: the update value of the trigger's
    channel in each event (1-D, converted to float32 as evaluate() does)."""
    return Replay(trigger).slow(values)
