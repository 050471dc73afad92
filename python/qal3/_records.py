"""Records of the configuration documents, as the readers return them and
the writers take them. Attribute names are the records' own field names."""

import errno
import os
from dataclasses import dataclass, field
from typing import List, Optional, Union


@dataclass(frozen=True)
class Message:
    """One line the library emitted while it worked.

    ``stream`` is where it would have gone ("stdout" or "stderr"), ``kind``
    what it is ("listing", "info", "error", "parser warning", "parser error",
    "parser fatal error"; "warning" for the module's own reports of data kept
    only in part, such as a text cut to fit its field), ``document`` the document read (the path as given,
    "<string>" for text; None when the line concerns none), ``line`` and
    ``column`` the position in it (0 when unknown), ``text`` the line."""
    stream: str = "stderr"
    kind: str = "info"
    document: Optional[str] = None
    line: int = 0
    column: int = 0
    text: str = ""

    def __str__(self) -> str:
        where = ""
        if self.document is not None:
            where = str(self.document) + ":"
            if self.line:
                where += f"{self.line}:"
                if self.column:
                    where += f"{self.column}:"
            where += " "
        return where + self.text


class Error(Exception):
    """A document could not be read or written.

    ``code`` is the library's result code, ``records`` the library's
    messages (:class:`Message`), ``messages`` the same as text, one line
    each, and ``source`` the path that was read or written (None for text)."""

    def __init__(self, what: str, code: int = 1, messages=(), source=None):
        if isinstance(messages, str):
            records = []
            text = messages
        else:
            records = list(messages)
            text = "".join(f"{m}\n" for m in records)
        super().__init__(what if not text else f"{what}\n{text.rstrip()}")
        self.what = what
        self.code = code
        self.records = records
        self.messages = text
        self.source = source


class FileNotFound(Error, FileNotFoundError):
    """The document to read does not exist (also a FileNotFoundError)."""

    def __init__(self, what: str, code: int = 1, messages=(), source=None):
        super().__init__(what, code, messages, source)
        self.errno = errno.ENOENT
        self.strerror = os.strerror(errno.ENOENT)
        self.filename = source


class Warning(UserWarning):  # noqa: A001 - qal3.Warning, as the module names it
    """The library reported something while a document was still read, or
    a call kept data only in part (a text cut to fit its field, a repeated
    property dropped by a writer).

    ``from qal3 import *`` leaves the built-in Warning alone: this class is
    exported there as QAL3Warning, and is qal3.Warning as well.

    Carries the :class:`Message` fields as attributes (``stream``, ``kind``,
    ``document``, ``line``, ``column``, ``text``) and the record itself as
    ``message``."""

    def __init__(self, message):
        if not isinstance(message, Message):
            message = Message(text=str(message))
        super().__init__(str(message))
        self.message = message
        self.stream = message.stream
        self.kind = message.kind
        self.document = message.document
        self.line = message.line
        self.column = message.column
        self.text = message.text


# --- event lists -------------------------------------------------------------

@dataclass
class TimeStamp:
    """The shortest time between two events of a type."""
    timeup: int = 0   # seconds
    timelow: int = 0  # microseconds


@dataclass
class EvSbList:
    """One server block of an event list entry; no channels means all."""
    sb_list: str = ""
    ch_list: List[str] = field(default_factory=list)


@dataclass
class EvEntry:
    """One wanted event type; no server blocks means the full event."""
    evtype: int = 0
    sb_list: List[EvSbList] = field(default_factory=list)
    min_ev_time: TimeStamp = field(default_factory=TimeStamp)
    tmask: int = 0
    priority: int = 0


# --- channel descriptions ------------------------------------------------------

@dataclass
class BitDescr:
    """One bit of a channel's status word."""
    bit: int = 0
    bit_name: str = ""
    bit_desc: str = ""


@dataclass
class StatDescr:
    """A statistic of a dimension."""
    stat: int = 0
    stat_name: str = ""
    stat_desc: str = ""
    units: str = ""


@dataclass
class DimDescr:
    """A dimension of a channel, with its statistics."""
    dim: int = 0
    dim_name: str = ""
    dim_desc: str = ""
    units: str = ""
    stats: List[StatDescr] = field(default_factory=list)

    @property
    def nstats(self) -> int:
        """The number of statistics."""
        return len(self.stats)


@dataclass
class ChanDescr:
    """A channel description. ``dtype`` is signed (a masked data type is
    negative), as the channel description writer writes it; the writers
    also take its unsigned form."""
    stream: int = 0
    ev_type: int = 0
    count: int = 0
    dtype: int = 0
    db_key: int = 0
    prop_name: str = ""
    daq_name: str = ""
    prop_desc: str = ""
    units: str = ""
    max_size: int = 0
    bits: List[BitDescr] = field(default_factory=list)
    dims: List[DimDescr] = field(default_factory=list)
    sb_name: str = ""
    set_point: int = 0
    subsystem: str = ""

    @property
    def nbits(self) -> int:
        """The number of described bits."""
        return len(self.bits)

    @property
    def ndims(self) -> int:
        """The number of dimensions."""
        return len(self.dims)


# --- environment index dictionary ------------------------------------------------

@dataclass
class EnvIndexEntry:
    """One numbered environment channel; ``env_prop`` and the deltas are the
    fields of the entry's data block."""
    index: int = 0
    env_prop: str = ""
    env_ch_abs_delta: float = 0.0
    env_ch_rel_delta: float = 0.0


# --- trigger lists ------------------------------------------------------------------

@dataclass
class Trigger:
    """A user-case trigger. ``function`` and ``operation`` are registry slots;
    the writers and the replay also take their names. A name of a free slot
    (nothing registered there, as "FUNC20") is refused with ValueError."""
    channel: str = ""
    subchannel: int = 0
    function: Union[int, str] = 0
    fparam: List[float] = field(default_factory=lambda: [0.0] * 16)
    low: float = 0.0
    upper: float = 0.0
    bitmask: int = 0
    operation: Union[int, str] = 0
    time: int = 0
    description: str = ""
    pre_mode: int = 0
    group: str = ""
    post_mode: int = 0
    valid: int = 0

    def __post_init__(self):
        from . import _core
        for field_name, listing in (("function", _core.functions), ("operation", _core.operations)):
            name = getattr(self, field_name)
            if not isinstance(name, str):
                continue
            for entry in listing():
                if entry.name == name:
                    if entry.free:
                        raise ValueError(f"{field_name} '{name}' is a free registry slot ({entry.slot}): "
                                         "nothing is registered there")
                    break


# --- GigE camera features -------------------------------------------------------------

@dataclass
class GigEFeature:
    """One feature of a GigE camera feature file."""
    type: int = 0          # FEATURE_TYPES index: 1 Integer, 2 Float, ...
    name: str = ""
    extension: str = ""
    tooltip: str = ""
    description: str = ""


# --- the trigger registry ---------------------------------------------------------------

@dataclass(frozen=True)
class RegistryEntry:
    """One slot of the trigger registry: its number, name and help text
    (without the "name : " the registry puts in front); ``free`` when no
    function or operation is registered there."""
    slot: int
    name: str
    help: str
    free: bool = False
