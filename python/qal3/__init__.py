"""The QAL3 DAQ configuration documents and user trigger engine in Python.

Readers (``read_*`` from a path, ``parse_*`` from a string) return lists of
records whose attributes are the records' own field names; writers
(``write_*``) take such lists and return the document, or write it to
``path`` (all or nothing). A document that cannot be read raises
:class:`Error` with the library's result code and messages
(:class:`FileNotFound`, also a FileNotFoundError, when the file is missing);
messages of a read that succeeded come as :class:`Warning`. The library's
lines never reach the process's standard output or error: each call sends
them to its own thread's message sink.

:func:`evaluate` replays a trigger over recorded spectra held in numpy
arrays; :class:`Replay` does the same and keeps the state of DIFF functions
from call to call.
"""

import os
import tempfile

from ._records import (BitDescr, ChanDescr, DimDescr, EnvIndexEntry, Error, EvEntry,
                       EvSbList, FileNotFound, GigEFeature, Message, RegistryEntry, StatDescr,
                       TimeStamp, Trigger, Warning)
from . import _core
from ._core import (ChanSelector, Replay, function_index, function_name, functions,
                    operation_index, operation_name, operations, parse_chan, parse_envdict,
                    parse_evlist, parse_gige, parse_triggers, read_chan, read_envdict,
                    read_evlist, read_gige, read_triggers)

__all__ = [
    "BitDescr", "ChanDescr", "ChanSelector", "DimDescr", "EnvIndexEntry", "Error", "EvEntry",
    "EvSbList", "FEATURE_TYPES", "FileNotFound", "GigEFeature", "Message", "RegistryEntry",
    "Replay", "StatDescr",
    "TimeStamp", "Trigger", "Warning", "evaluate", "evaluate_slow", "evaluate_values",
    "function_index", "function_name", "functions", "operation_index", "operation_name",
    "operations", "parse_chan", "parse_envdict", "parse_evlist", "parse_gige",
    "parse_triggers", "read_chan", "read_envdict", "read_evlist", "read_gige",
    "read_triggers", "write_chan", "write_envdict", "write_evlist", "write_gige",
    "write_triggers",
]

# GigEFeature.type values: the element names that start a feature.
FEATURE_TYPES = ("Undefined", "Integer", "Float", "Enumeration", "Boolean", "StringReg",
                 "Command", "IntReg", "Int64")


def _deliver(document, path):
    """Returns `document`, or writes it to `path` through a temporary file
    in the same folder that replaces `path` only once it is complete."""
    if path is None:
        return document
    path = os.fspath(path)
    folder = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(prefix=".qal3-", dir=folder)
    try:
        with os.fdopen(fd, "w", encoding="latin-1", newline="") as f:
            f.write(document)
            f.flush()
            os.fsync(f.fileno())
        os.chmod(tmp, 0o666 & ~_umask())
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise
    return None


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask


def write_evlist(entries, path=None):
    """The event list (BMR) document of `entries` (EvEntry records)."""
    return _deliver(_core.write_evlist(entries), path)


def write_chan(chans, path=None, *, format="chandescr"):
    """Channel descriptions as a CHANDESCRIPTIONS (format="chandescr") or
    DAQvariables (format="daqvars") document."""
    return _deliver(_core.write_chan(chans, format=format), path)


def write_envdict(entries, path=None, *, layout="2010"):
    """The environment index dictionary; layout "2010" (property names up to
    255 bytes) or "old" (up to 79)."""
    return _deliver(_core.write_envdict(entries, layout=layout), path)


def write_triggers(triggers, path=None):
    """The trigger list document of `triggers` (Trigger records)."""
    return _deliver(_core.write_triggers(triggers), path)


def write_gige(features, path=None):
    """A GigE feature file holding `features` (GigEFeature records)."""
    return _deliver(_core.write_gige(features), path)


def evaluate(trigger, samples, start=0.0, inc=1.0):
    """Replays `trigger` over float32 spectra: `samples` is 1-D (one event)
    or 2-D (events x samples); sample i lies at start + i * inc on the axis.
    Returns (fired, value): booleans and the function's float32 value per
    event (NaN where the function gave none). DIFF functions compare each
    event with the one before."""
    return Replay(trigger).spectra(samples, start, inc)


def evaluate_values(trigger, values):
    """Replays `trigger` over name/value data: float32, 1-D (the value of
    the trigger's subchannel per event) or 2-D (events x subchannels)."""
    return Replay(trigger).values(values)


def evaluate_slow(trigger, values):
    """Replays `trigger` over slow data: the update value of the trigger's
    channel in each event (float32, 1-D)."""
    return Replay(trigger).slow(values)
