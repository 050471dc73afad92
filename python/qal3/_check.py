"""Checking configuration documents with the checking library
(libQAL3CHECK), as ``qal3 check`` does: each document against its family's
XML Schema and against what its reader would take differently, and the
documents checked together against one another. The findings are the
library's records; their lines are the library's, as the tool prints them."""

import enum
import os
from collections.abc import Iterable, Mapping
from dataclasses import dataclass
from typing import Iterator, List, Optional, Union

from . import _core

#: How grave a finding is: the library's severities (qal3_check_severity).
#: A WARNING's document is read, but not as written; an ERROR's is refused,
#: or read with a part lost or wrong.
Severity = enum.IntEnum("Severity", dict(_core._CHECK_SEVERITIES), module="qal3")

#: What became of a document given to the checker (qal3_check_state):
#: CHECKED (its findings may include errors), UNREADABLE (the reason is the
#: system's), TOO_LARGE (beyond `max_bytes`), SKIPPED (found below a folder
#: with a root element of no family: not checked), UNREADABLE_FOLDER (a
#: folder below the one given could not be read).
CheckState = enum.IntEnum("CheckState", dict(_core._CHECK_STATES), module="qal3")

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Text = Union[str, bytes, bytearray, memoryview]


@dataclass(frozen=True)
class Finding:
    """One thing the checker found.

    ``document`` is the name of the document it is in (a path as given or
    found below a folder, or the name given with a text); ``line`` and
    ``column`` its position, from 1 (``column`` in characters), both 0 when
    it has none; ``severity`` a :class:`qal3.Severity`; ``code`` the kind
    of finding, a stable name (``"schema"``, ``"limit-unset"``,
    ``"undescribed"``, ...: qal3_check.h lists them); ``message`` what was
    found and what the library does with it; ``across`` True for a finding
    across the documents, which names the other place. str() is the line
    ``qal3 check`` prints: ``FILE:LINE:COLUMN: error: message``."""
    document: str
    line: int = 0
    column: int = 0
    severity: Severity = Severity.ERROR
    code: str = ""
    message: str = ""
    across: bool = False

    def __str__(self) -> str:
        return _core._check_format(self.document, self.line, self.column, int(self.severity), self.message)


@dataclass(frozen=True)
class CheckedDocument:
    """A document given to the checker: its ``name`` (as given, or the path
    found below a folder), ``family`` (a :class:`qal3.Family`, by its root
    element; UNKNOWN when none), ``state`` (a :class:`qal3.CheckState`),
    ``root`` (its root element's name, "" when none was read) and
    ``reason`` (why it could not be read, else "")."""
    name: str
    family: "enum.IntEnum"
    state: CheckState
    root: str = ""
    reason: str = ""


class CheckReport:
    """The documents checked together and their findings.

    ``findings`` are :class:`Finding` records, each document's own in the
    order the documents were given (and by position in each), then those
    across the documents; iterating over the report gives them.
    ``documents`` are :class:`CheckedDocument` records in the order given
    (a folder's by path). ``errors`` and ``warnings`` count the findings of
    each severity (a file that cannot be read is an error finding);
    ``passes`` is True when there is no error, as ``qal3 check`` exits 0."""

    def __init__(self, documents: List[CheckedDocument], findings: List[Finding]):
        self.documents = documents
        self.findings = findings

    @property
    def errors(self) -> int:
        """The findings that are errors."""
        return sum(f.severity == Severity.ERROR for f in self.findings)

    @property
    def warnings(self) -> int:
        """The findings that are warnings."""
        return sum(f.severity == Severity.WARNING for f in self.findings)

    @property
    def passes(self) -> bool:
        """Nothing found is an error: what a program asks before it takes a configuration."""
        return self.errors == 0

    def __iter__(self) -> Iterator[Finding]:
        return iter(self.findings)

    def __repr__(self) -> str:
        return f"CheckReport(documents={len(self.documents)}, errors={self.errors}, warnings={self.warnings})"

    def __str__(self) -> str:
        """The lines ``qal3 check`` prints, one per finding."""
        return "".join(f"{f}\n" for f in self.findings)

    def to_frame(self):
        """A pandas DataFrame of the findings (pandas must be installed), one
        row each, with the columns document, line, column, severity ("error"
        or "warning", as the tool's --json names it), code, message and
        across."""
        import pandas as pd
        columns = ("document", "line", "column", "severity", "code", "message", "across")
        rows = [(f.document, f.line, f.column, f.severity.name.lower(), f.code, f.message, f.across)
                for f in self.findings]
        frame = pd.DataFrame(rows, columns=columns)
        return frame.astype({"line": "int64", "column": "int64", "across": "bool"})


def _each(given, what: str) -> list:
    """`given` as a list: one str (or path) alone, else its items."""
    if isinstance(given, (str, bytes, os.PathLike)):
        return [given]
    if not isinstance(given, Iterable):
        raise TypeError(f"{what} must be a str or an iterable of them, not {type(given).__name__}")
    return list(given)


def check(paths: Union[_Path, Iterable[_Path]] = (), *, text: Union[_Text, Mapping[str, _Text], None] = None,
          name: Optional[str] = None, strict: bool = False, known: Union[str, Iterable[str]] = (),
          exclude: Union[str, Iterable[str]] = (), max_bytes: Optional[int] = None) -> CheckReport:
    """Checks documents together, as ``qal3 check`` does, and returns a
    :class:`CheckReport`.

    `paths` is a path or a list of paths (str, bytes or os.PathLike): a
    folder stands for the ``*.xml`` files below it (in any case, in path
    order, but for names starting with "." and folders reached through a
    symbolic link), a file is checked whatever its root element. `text` is a
    document held in memory (a str is text, whatever its declaration says;
    bytes are read as a file's content, UTF-16 included) named `name`
    (``"<text>"`` by default) in the findings, or a mapping of names to such
    documents. The paths are given first, then the texts; all are checked
    against one another, so that a trigger's channel that no channel
    description has, or a property described twice differently, is found.

    `strict` makes every finding an error; `known` names the trigger
    functions and operations the site registers itself (not reported as
    unknown); `exclude` globs (fnmatch(3)) leave files out of a folder by
    their path below it or by their base name; `max_bytes` is the largest
    file read (256 MiB by default): a larger one is TOO_LARGE, and an error.
    A file that cannot be read is a document of state UNREADABLE and an
    error finding, never an exception. The GIL is released while the
    documents are checked.

    ValueError when nothing is given to check, for an empty known name and
    for a path, name, known name or glob holding a NUL character; TypeError
    for a text that is neither str nor bytes."""
    from . import Family
    paths = _each(paths, "paths")
    texts = []
    if isinstance(text, Mapping):
        if name is not None:
            raise TypeError("name is given with a single text; a mapping of texts names each")
        texts = [(_label(k), v) for k, v in text.items()]
    elif text is not None:
        texts = [(_label("<text>" if name is None else name), text)]
    elif name is not None:
        raise TypeError("name names a text: give text too")
    if not paths and not texts:
        raise ValueError("nothing to check: give paths or text")
    documents, findings = _core._check(paths, texts, bool(strict), max_bytes, _each(known, "known"),
                                       _each(exclude, "exclude"))
    return CheckReport(
        [CheckedDocument(d[0], Family(d[1]), CheckState(d[2]), d[3], d[4]) for d in documents],
        [Finding(f[0], f[1], f[2], Severity(f[3]), f[4], f[5], f[6]) for f in findings])


def _label(name) -> str:
    """The name of a text in the findings: a str (or os.PathLike of one)."""
    name = os.fspath(name) if isinstance(name, os.PathLike) else name
    if not isinstance(name, str):
        raise TypeError(f"a text's name must be a str, not {type(name).__name__}")
    return name
