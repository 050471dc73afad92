"""The QAL3 DAQ configuration documents and user trigger engine in Python.

Readers (``read_*`` from a path, ``parse_*`` from a str, which is text
whatever its declaration says, or bytes, decoded by their declaration as a
file's content is) return lists of
records whose attributes are the records' own field names; writers
(``write_*``) take such lists and return the document, or write it to
``path`` all or nothing, as the tool's ``-o`` does: a device or FIFO there
is written to; a file is replaced by a new one, complete before it takes
the name, that keeps the old file's owner and group (as far as allowed),
access control list, mode (less set-id bits) and extended attributes. A
file the caller may not write is refused (PermissionError); a file with
other hard links is replaced under `path` only, the other names keep the
old document; a symbolic link at `path` is replaced by the new file.

A document that cannot be read raises :class:`Error` with the library's
result code and messages (:class:`FileNotFound`, also a FileNotFoundError,
when the file is missing); messages of a read that succeeded come as
:class:`Warning`. The library's lines never reach the process's standard
output or error: each call sends them to its own thread's message sink.
Reads and writes run without the GIL, so other threads run meanwhile.

:func:`evaluate` replays a trigger over recorded spectra held in numpy
arrays; :func:`replay` replays a trigger list over a recording of many
channels (numpy, ``.npz``, HDF5, dask) into a :class:`ReplayTable`;
:class:`Replay` does both and keeps the state of DIFF functions from call
to call.

:func:`add_function` registers a Python callable as a trigger function, for
the triggers that name it.

:func:`check` checks documents (files, folders, texts) together as
``qal3 check`` does and returns a :class:`CheckReport` of :class:`Finding`
records, each with the library's code and :class:`Severity`.

:func:`edit` sets fields of, adds and drops records of a document in its
file, as ``qal3 trigger set`` does, rewriting only the bytes of the change.
"""

import enum as _enum
import os as _os
from typing import Any as _Any, Iterable as _Iterable, Optional as _Optional, Tuple as _Tuple, Union as _Union

from ._records import (BitDescr, ChanDescr, DimDescr, EnvIndexEntry, Error, EvEntry,
                       EvSbList, FileNotFound, GigEFeature, Message, RegistryEntry, StatDescr,
                       TimeStamp, Trigger, Warning)
from . import _core
from ._core import (ChanSelector, Replay, __version__, add_function, change_function,
                    function_index, function_name, functions,
                    operation_index, operation_name, operations, parse_chan, parse_envdict,
                    parse_evlist, parse_gige, parse_triggers, read_chan, read_envdict,
                    read_evlist, read_gige, read_triggers)
from ._replay import ReplayTable, replay
from ._check import CheckedDocument, CheckReport, CheckState, Finding, Severity, check
from ._edit import edit

#: What one trigger did in one event of a replay (ReplayTable.outcome): the
#: library's outcome codes.
Outcome = _enum.IntEnum("Outcome", dict(_core._OUTCOMES), module=__name__)

# qal3.Warning under a name that `from qal3 import *` may bring in without
# hiding the built-in Warning.
QAL3Warning = Warning

# Warning stays out: a star import must not shadow the built-in.
__all__ = [
    "BitDescr", "ChanDescr", "ChanSelector", "CheckReport", "CheckState", "CheckedDocument", "DimDescr",
    "EnvIndexEntry", "Error", "EvEntry",
    "EvSbList", "FEATURE_TYPES", "Family", "FileNotFound", "Finding", "GigEFeature", "Message", "Outcome",
    "QAL3Warning",
    "RegistryEntry", "Replay", "ReplayTable", "Severity", "StatDescr",
    "TimeStamp", "Trigger", "add_function", "change_function", "check", "edit", "evaluate", "evaluate_slow",
    "evaluate_values", "family",
    "function_index", "function_name", "functions", "operation_index", "operation_name",
    "operations", "parse_chan", "parse_envdict", "parse_evlist", "parse_family", "parse_gige",
    "parse_triggers", "read_chan", "read_envdict", "read_evlist", "read_gige",
    "read_triggers", "replay", "write_chan", "write_envdict", "write_evlist", "write_gige",
    "write_triggers",
]

_Path = _Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]

# GigEFeature.type values: the element names that start a feature.
FEATURE_TYPES = _core.FEATURE_TYPES


#: A document family, named by the document's root element as the readers
#: take it (UNKNOWN: no root element could be read, or a root of no family);
#: the libraries' numbers (qal3_family.h).
Family = _enum.IntEnum("Family", dict(_core._FAMILIES), module=__name__)
Family.root = property(lambda self: _core.family_root(self),
                       doc="The root element of the family's documents; None for UNKNOWN.")


def family(path: _Path) -> Family:
    """The Family of the document in the file `path`, read only up to its
    root's start tag, in any encoding the readers take; Family.UNKNOWN when
    it is not XML or its root names no family. OSError when the file cannot
    be opened."""
    return Family(_core.family(path))


def parse_family(text: _Union[str, bytes, bytearray, memoryview]) -> Family:
    """The Family of the document held in `text`: a str, or bytes in any
    encoding the readers take (UTF-16 included), as family() names it."""
    return Family(_core.parse_family(text))


def _deliver(document, path):
    """Returns `document`, or puts it at `path` (see the module's
    documentation) and returns None."""
    if path is None:
        return document
    if not _os.fspath(path):
        raise ValueError("path must not be empty")
    # The writers put out ASCII (other characters as references); Latin-1
    # gives each character back as its byte.
    _core._replace_file(path, document.encode("latin-1"))
    return None


def write_evlist(entries: _Iterable[EvEntry], path: _Optional[_Path] = None, *,
                 date: _Optional[int] = None) -> _Optional[str]:
    """The event list (BMR) document of `entries` (EvEntry records), or None
    once it has replaced the file `path`. `date`: see write_chan."""
    return _deliver(_core.write_evlist(entries, date=date), path)


def write_chan(chans: _Iterable[ChanDescr], path: _Optional[_Path] = None, *,
               format: str = "chandescr", date: _Optional[int] = None) -> _Optional[str]:
    """Channel descriptions as a CHANDESCRIPTIONS (format="chandescr") or
    DAQvariables (format="daqvars") document, or None once it has replaced
    the file `path`. A property is written once: descriptions that repeat a
    property name are dropped (the first one is written), and a
    qal3.Warning names the repeated properties. The isodate is the current
    local time, or with `date` (seconds since 1970-01-01 UTC) that time in
    UTC, the same in every time zone (as the tool's --date)."""
    return _deliver(_core.write_chan(chans, format=format, date=date), path)


def write_envdict(entries: _Iterable[EnvIndexEntry], path: _Optional[_Path] = None, *,
                  layout: str = "2010", date: _Optional[int] = None) -> _Optional[str]:
    """The environment index dictionary, or None once it has replaced the
    file `path`; layout "2010" (property names up to 255 bytes) or "old"
    (up to 79). `date`: see write_chan."""
    return _deliver(_core.write_envdict(entries, layout=layout, date=date), path)


def write_triggers(triggers: _Iterable[Trigger], path: _Optional[_Path] = None, *,
                   date: _Optional[int] = None) -> _Optional[str]:
    """The trigger list document of `triggers` (Trigger records), or None
    once it has replaced the file `path`. `date`: see write_chan (each
    trigger's Creation is its own `time`)."""
    return _deliver(_core.write_triggers(triggers, date=date), path)


def write_gige(features: _Iterable[GigEFeature], path: _Optional[_Path] = None, *,
                date: _Optional[int] = None) -> _Optional[str]:
    """A GigE feature file holding `features` (GigEFeature records), or None
    once it has replaced the file `path`. `date` is taken as by write_chan;
    a feature file holds no date."""
    return _deliver(_core.write_gige(features, date=date), path)


def evaluate(trigger: Trigger, samples, start: float = 0.0, inc: float = 1.0) -> _Tuple[_Any, _Any]:
    """Replays `trigger` over spectra: `samples` is 1-D (one event) or 2-D
    (events x samples); sample i lies at start + i * inc on the axis.
    float32 is used as it is; float64 and integer arrays are converted to
    float32 first, as the DAQ block stores its samples. Returns (fired,
    value): booleans and the function's float32 value per event (NaN where
    the function gave none). DIFF functions compare each event with the one
    before; the first event gives NaN."""
    return Replay(trigger).spectra(samples, start, inc)


def evaluate_values(trigger: Trigger, values) -> _Tuple[_Any, _Any]:
    """Replays `trigger` over name/value data: 1-D (the value of the
    trigger's subchannel per event) or 2-D (events x subchannels),
    converted to float32 as evaluate() does."""
    return Replay(trigger).values(values)


def evaluate_slow(trigger: Trigger, values) -> _Tuple[_Any, _Any]:
    """Replays `trigger` over slow data: the update value of the trigger's
    channel in each event (1-D, converted to float32 as evaluate() does)."""
    return Replay(trigger).slow(values)
