"""Records of the configuration documents, as the readers return them and
the writers take them, and of what the library reports. Attribute names are
the records' own field names.

The classes of the libraries' records (ChanDescr, Trigger, ...) are made at
build time from the records' descriptions (module ``_record_classes``) and
re-exported here; this module holds the records that are the module's own
and the Python-only behaviour the made classes take from it."""

import errno
import os
from dataclasses import dataclass
from typing import Optional


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

class FreeSlotCheck:
    """Base of the records with registry slot fields: a name of a free slot
    (nothing registered there) in ``function`` or ``operation`` is refused
    with ValueError when the record is made."""

    def __post_init__(self):
        from . import _core
        for field_name, function in (("function", True), ("operation", False)):
            name = getattr(self, field_name)
            if isinstance(name, str):
                _core._refuse_free_slot(name, function, field_name)


# The made classes import FreeSlotCheck from here, so they come last; each
# is imported "as" itself: re-exported for type checkers.
from ._record_classes import BitDescr as BitDescr  # noqa: E402
from ._record_classes import ChanDescr as ChanDescr  # noqa: E402
from ._record_classes import DimDescr as DimDescr  # noqa: E402
from ._record_classes import EnvIndexEntry as EnvIndexEntry  # noqa: E402
from ._record_classes import EvEntry as EvEntry  # noqa: E402
from ._record_classes import EvSbList as EvSbList  # noqa: E402
from ._record_classes import GigEFeature as GigEFeature  # noqa: E402
from ._record_classes import StatDescr as StatDescr  # noqa: E402
from ._record_classes import TimeStamp as TimeStamp  # noqa: E402
from ._record_classes import Trigger as Trigger  # noqa: E402
