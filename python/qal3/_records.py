"""Records of the configuration documents, as the readers return them and
the writers take them. Attribute names are the records' own field names."""

from dataclasses import dataclass, field
from typing import List, Union


class Error(Exception):
    """A document could not be read or written.

    ``code`` is the library's result code, ``messages`` what the library
    reported while it worked (parser errors with their positions) and
    ``source`` the path that was read or written (None for text)."""

    def __init__(self, what: str, code: int = 1, messages: str = "", source=None):
        text = what if not messages else f"{what}\n{messages.rstrip()}"
        super().__init__(text)
        self.what = what
        self.code = code
        self.messages = messages
        self.source = source


class Warning(UserWarning):  # noqa: A001 - qal3.Warning, as the module names it
    """The library reported something while a document was still read."""


# --- event lists -------------------------------------------------------------

@dataclass
class TimeStamp:
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
    bit: int = 0
    bit_name: str = ""
    bit_desc: str = ""


@dataclass
class StatDescr:
    stat: int = 0
    stat_name: str = ""
    stat_desc: str = ""
    units: str = ""


@dataclass
class DimDescr:
    dim: int = 0
    dim_name: str = ""
    dim_desc: str = ""
    units: str = ""
    stats: List[StatDescr] = field(default_factory=list)

    @property
    def nstats(self) -> int:
        return len(self.stats)


@dataclass
class ChanDescr:
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
        return len(self.bits)

    @property
    def ndims(self) -> int:
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
    the writers and the replay also take their names."""
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


# --- GigE camera features -------------------------------------------------------------

@dataclass
class GigEFeature:
    type: int = 0          # FEATURE_TYPES index: 1 Integer, 2 Float, ...
    name: str = ""
    extension: str = ""
    tooltip: str = ""
    description: str = ""


# --- the trigger registry ---------------------------------------------------------------

@dataclass(frozen=True)
class RegistryEntry:
    slot: int
    name: str
    help: str
