"""Records of the configuration documents, as the readers return them and
the writers take them, and of what the library reports. Attribute names are
the records' own field names.

The classes of the libraries' records (ChanDescr, Trigger, ...) are made at
build time from the records' descriptions (module ``_record_classes``) and
re-exported here; this module holds the records that are the module's own
and the Python-only behaviour the made classes take from it."""

import dataclasses
import errno
import functools
import inspect
import math
import numbers
import os
import sys
import typing
import warnings
from collections.abc import Iterable
from dataclasses import dataclass
from typing import List, Optional, Union


@dataclass(frozen=True)
class Message:
    """One line the library emitted while it worked.

    ``stream`` is where it would have gone ("stdout" or "stderr"), ``kind``
    what it is ("listing", "info", "error", "parser warning", "parser error",
    "parser fatal error"; "warning" for what a reader did to the document (a
    text cut to fit its field, an unknown function or operation name read as
    the default, a record dropped or merged, a field the records do not keep)
    and for the module's own reports of data kept only in part), ``document``
    the document read (the path as given,
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
    messages (:class:`Message`), ``messages`` the same as a list of str, one
    line each, and ``source`` the path that was read or written (None for
    text). str() of the error is `what` followed by the lines."""

    def __init__(self, what: str, code: int = 1, messages=(), source=None):
        records = [] if isinstance(messages, str) else list(messages)
        lines = messages.splitlines() if isinstance(messages, str) else [str(m) for m in records]
        text = "\n".join(lines).rstrip()
        super().__init__(f"{what}\n{text}" if text else what)
        self.what = what
        self.code = code
        self.records = records
        self.messages = lines
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


_PACKAGE = os.path.dirname(os.path.abspath(__file__))


def warn(message: Message) -> None:
    """Issues `message` as a qal3.Warning pointing at the line that called
    into the package: the first frame outside it."""
    frame, level = sys._getframe(1), 2
    while frame is not None and os.path.dirname(os.path.abspath(frame.f_code.co_filename)) == _PACKAGE:
        frame, level = frame.f_back, level + 1
    warnings.warn(Warning(message), Warning, level)


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


# --- behaviour of the records made from the descriptions ------------------------------

class Record:
    """Base of the records made from the record descriptions.

    A trigger also takes its function parameters by name (``start=...``):
    see to_dict and from_dict.

    Each field is checked when the record is made: a value of the wrong
    type raises TypeError naming the field. Float fields take the float32
    value the record holds; a number the field cannot hold (beyond the
    float32 range, a number other than 0 that becomes 0, outside the
    field's bounds: the libraries' facts, as the writers check them)
    raises ValueError naming the field and the number, while infinities
    and NaN are held and written as they are. A
    registry slot number in ``function`` or ``operation`` becomes the name
    of its slot when one is registered there, and the name of a free slot
    is refused with ValueError. A time (a trigger's ``time``: when the
    record was made or read) says when, not what, and takes no part in
    comparisons. So a record equals itself read back."""

    _COUNTS = {}  # {list field: the count field counting it}, as the record's description gives them

    def __post_init__(self):
        for name, check in _checks(type(self)).items():
            value = getattr(self, name)
            kept = check(name, value)
            if kept is not value:
                setattr(self, name, kept)

    def to_dict(self) -> dict:
        """The record as a dict: its fields, with the counts of its lists
        and records of its own as dicts, as the tool's JSON gives them;
        ``function`` and ``operation`` are names where a slot is registered.
        A trigger's function parameters also come under each of their names
        (``param0``, ``start``, ...), as the properties give them."""
        out = {}
        for f in dataclasses.fields(self):
            value = getattr(self, f.name)
            if f.name in self._COUNTS:
                out[self._COUNTS[f.name]] = len(value)
            if isinstance(value, Record):
                value = value.to_dict()
            elif isinstance(value, list):
                value = [v.to_dict() if isinstance(v, Record) else v for v in value]
            out[f.name] = value
        for name, index in getattr(self, "_PARAMETERS", {}).items():
            out[name] = self._parameter(index)
        return out

    @classmethod
    def from_dict(cls, d: dict):
        """The record of a dict as to_dict() gives it, or as the tool's JSON
        gives it less the keys it adds for show (such as a GigE feature's
        position). Counts are checked against their lists; a field's name
        form as the tool adds it (``function_name``, ``operation_name``, a
        GigE feature's ``type_name``) gives the field, and must name what
        the field gives when both are there; named parameters (``start``, ...) are taken as the
        constructor takes them. Any other key that is no field raises
        TypeError naming it."""
        kw = {}
        for f in dataclasses.fields(cls):
            if f.name not in d:
                continue
            value, kind = d[f.name], _record_of(f.type)
            if kind is not None:
                value = ([kind.from_dict(v) if isinstance(v, dict) else v for v in value]
                         if isinstance(value, list) else
                         kind.from_dict(value) if isinstance(value, dict) else value)
            kw[f.name] = value
        parameters = getattr(cls, "_PARAMETERS", {})
        counted = {count: name for name, count in cls._COUNTS.items()}
        for key in sorted(d.keys() - kw.keys()):
            if key in parameters:
                kw[key] = d[key]
            elif counted.get(key) in kw:  # a count
                if d[key] != len(kw[counted[key]]):
                    raise ValueError(f"{key} is {d[key]}, but {counted[key]} holds {len(kw[counted[key]])} entries")
            elif key.endswith("_name") and _checks(cls).get(key[:-5]) is _slot:  # a slot by its name
                _slot_by_name(kw, key[:-5], d[key])
            elif key.endswith("_name") and (cls.__name__, key[:-5]) in _INDEX_NAMES:  # a number by its name
                _index_by_name(kw, key[:-5], d[key], _INDEX_NAMES[cls.__name__, key[:-5]]())
            else:
                raise TypeError(f"{cls.__name__} has no field {key!r}")
        return cls(**kw)

    @staticmethod
    def _now() -> int:
        """The calling thread's clock, which the readers stamp a record's
        time with: the time of a new record."""
        from . import _core
        return _core._clock()

    def _take_parameters(self, given: dict, fparam_given: bool) -> None:
        """Sets the function parameters `given` by name ({name: value});
        with `fparam_given` each must agree with fparam instead."""
        taken = {}
        for name, value in given.items():
            index = self._PARAMETERS[name]
            value = _real(type(self).__name__, "fparam")(name, value)
            if index in taken and not _same_float(taken[index][1], value):
                raise ValueError(f"{taken[index][0]} {taken[index][1]!r} and {name} {value!r} both give "
                                 f"fparam[{index}]")
            taken.setdefault(index, (name, value))
        for index, (name, value) in taken.items():
            if not fparam_given:
                self._set_parameter(index, value, name)
            elif not _same_float(self._parameter(index), value):
                raise ValueError(f"{name} {value!r} and fparam[{index}] {self._parameter(index)!r} differ")

    def _parameter(self, index: int) -> float:
        return self.fparam[index] if index < len(self.fparam) else 0.0

    def _set_parameter(self, index: int, value, name: str = "fparam") -> None:
        value = _real(type(self).__name__, "fparam")(name, value)
        if len(self.fparam) <= index:
            self.fparam.extend([0.0] * (index + 1 - len(self.fparam)))
        self.fparam[index] = value


def _type_name(value) -> str:
    return type(value).__name__


@functools.lru_cache(maxsize=None)
def _real(record: str, field: str):
    """The check of the float field `field` of the record class `record`:
    the float32 value the field holds, or ValueError when it cannot hold
    the number (asking the module, and so the libraries' facts)."""
    def check(name, value):
        if isinstance(value, (str, bytes)) or not isinstance(value, numbers.Real):
            raise TypeError(f"{name} must be a number, not {_type_name(value)}")
        from . import _core
        return _core._real(record, field, value, name)
    return check


def _same_float(a: float, b: float) -> bool:
    """Whether `a` and `b` are one float32 value (NaN the same as NaN)."""
    if math.isnan(a) or math.isnan(b):
        return math.isnan(a) and math.isnan(b)
    return a == b and math.copysign(1.0, a) == math.copysign(1.0, b)


def _named_parameters(names: dict):
    """The decorator that has a record class's constructor take its
    function parameters by their `names` ({name: index in fparam}) as
    keyword arguments. Each sets its parameter; given with fparam, or with
    another name of the same parameter, it must agree (ValueError)."""
    def decorate(cls):
        made = cls.__init__
        init_fields = [f.name for f in dataclasses.fields(cls) if f.init]
        at = init_fields.index("fparam")

        @functools.wraps(made)
        def __init__(self, *args, **kw):
            given = {name: kw.pop(name) for name in list(kw) if name in names}
            given = {name: value for name, value in given.items() if value is not None}
            made(self, *args, **kw)
            self._take_parameters(given, "fparam" in kw or len(args) > at)

        signature = inspect.signature(made)
        extra = [inspect.Parameter(n, inspect.Parameter.KEYWORD_ONLY, default=None,
                                   annotation=Optional[float]) for n in names]
        __init__.__signature__ = signature.replace(parameters=[*signature.parameters.values(), *extra])
        cls.__init__ = __init__
        cls._PARAMETERS = dict(names)
        return cls
    return decorate


def _feature_types():
    from . import _core
    return _core.FEATURE_TYPES


# Number fields the tool's JSON also gives by name (as "<field>_name"): the
# names, by number.
_INDEX_NAMES = {("GigEFeature", "type"): _feature_types}


def _index_by_name(kw: dict, field: str, name, names) -> None:
    """Puts the number `name` stands for in `names` in `kw` as `field`, or
    checks that the number kw holds there is the one it names."""
    if not isinstance(name, str):
        raise TypeError(f"{field}_name must be a str, not {_type_name(name)}")
    if name not in names:
        raise ValueError(f"{field}_name {name!r} is none of {', '.join(names)}")
    if field not in kw:
        kw[field] = names.index(name)
    elif kw[field] != names.index(name):
        raise ValueError(f"{field} {kw[field]!r} and {field}_name {name!r} differ")


def _slot_by_name(kw: dict, field: str, name) -> None:
    """Puts the slot `name` (as the tool's ``<field>_name`` gives it) in
    `kw` as `field`, or checks that the slot kw holds there is the one it
    names (ValueError when they differ)."""
    if not isinstance(name, str):
        raise TypeError(f"{field}_name must be a str, not {_type_name(name)}")
    if field not in kw:
        kw[field] = name
        return
    from . import _core
    kept = _slot(field, kw[field])
    if isinstance(kept, numbers.Integral):  # a free slot or one outside the registry
        try:
            kept = (_core.function_name if field == "function" else _core.operation_name)(int(kept))
        except (ValueError, OverflowError):
            pass
    if kept != name:
        raise ValueError(f"{field} {kw[field]!r} and {field}_name {name!r} name different slots")


def _text(name: str, value):
    if not isinstance(value, str):
        raise TypeError(f"{name} must be a str, not {_type_name(value)}")
    return value


def _integer(name: str, value):
    if not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an int, not {_type_name(value)}")
    return value


def _slot(name: str, value):
    from . import _core
    function = name == "function"
    if isinstance(value, str):
        _core._refuse_free_slot(value, function, name)
        return value
    _integer(name, value)
    slot_name = (_core.function_name if function else _core.operation_name)(int(value))
    index = (_core.function_index if function else _core.operation_index)(slot_name)
    if value < 0 or index != value:
        return value  # outside the registry: the writers refuse it
    try:
        _core._refuse_free_slot(slot_name, function, name)
    except ValueError:
        return value  # a free slot keeps its number
    return slot_name


def _list_of(item_check):
    def check(name, value):
        if isinstance(value, (str, bytes)) or not isinstance(value, Iterable):
            raise TypeError(f"{name} must be a list, not {_type_name(value)}")
        entry = name + " entry"
        return [item_check(entry, v) for v in value]
    return check


def _instance_of(cls):
    def check(name, value):
        if not isinstance(value, cls):
            raise TypeError(f"{name} must be a {cls.__name__}, not {_type_name(value)}")
        return value
    return check


_SIMPLE = {str: _text, int: _integer}


def _record_of(annotation):
    """The record class an annotation names (alone or as a list), or None."""
    args = typing.get_args(annotation) or (annotation,)
    return args[0] if isinstance(args[0], type) and issubclass(args[0], Record) else None


def _check_of(cls, field: str, annotation):
    if annotation is float:
        return _real(cls.__name__, field)
    if annotation in _SIMPLE:
        return _SIMPLE[annotation]
    if typing.get_origin(annotation) is Union:
        return _slot
    if typing.get_origin(annotation) in (list, List):
        (item,) = typing.get_args(annotation)
        return _list_of(_check_of(cls, field, item))
    return _instance_of(annotation)


@functools.lru_cache(maxsize=None)
def _checks(cls):
    return {f.name: _check_of(cls, f.name, f.type) for f in dataclasses.fields(cls)}


# The made classes import Record from here, so they come last; their
# __all__ re-exports every one of them, for type checkers too.
from ._record_classes import *  # noqa: E402,F401,F403
