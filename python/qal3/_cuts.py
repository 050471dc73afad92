"""The texts a reader cut to fit a record field, found in the document and
reported as qal3.Warning."""

import os
import stat
from xml.parsers import expat

from ._records import Message, warn

_SHOWN = 40  # characters of a cut text quoted in its warning


def _document(source, in_memory):
    """The document's bytes; None when it cannot be read again (a pipe)."""
    if in_memory:
        return source
    try:
        if not stat.S_ISREG(os.stat(source).st_mode):
            return None
        with open(source, "rb") as f:
            return f.read()
    except OSError:
        return None


def _after_blanks(line, column, text):
    """Where the first character of `text` other than white space is, when
    `text` starts at `line`, `column` (0-based, as expat counts)."""
    for c in text:
        if c == "\n":
            line, column = line + 1, 0
        elif c in " \t\r":
            column += 1
        else:
            break
    return line, column


def _texts(data):
    """Every element text (as it is and stripped) and attribute value of the
    document, UTF-8 encoded, mapped to where it first starts (line and
    column, 1-based: an element text at its first character other than
    white space, an attribute value at its start tag); None when this parser
    cannot read it."""
    texts = {}
    stack = []
    parser = expat.ParserCreate()

    def note(text, line, column):
        texts.setdefault(text.encode("utf-8", "surrogatepass"), (line, column + 1))

    def start(name, attrs):
        stack.append([])
        for v in attrs.values():
            note(v, parser.CurrentLineNumber, parser.CurrentColumnNumber)

    def end(name):
        chunks = stack.pop()
        text = "".join(c for c, _, _ in chunks)
        at = next((_after_blanks(line, column, c) for c, line, column in chunks if c.strip()),
                  chunks[0][1:] if chunks else (parser.CurrentLineNumber, parser.CurrentColumnNumber))
        note(text, *at)
        note(text.strip(), *at)

    def chars(data):
        if stack:
            stack[-1].append((data, parser.CurrentLineNumber, parser.CurrentColumnNumber))

    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = chars
    try:
        parser.Parse(data, True)
    except (expat.ExpatError, ValueError, LookupError):
        return None
    return texts


def _whole(text):
    """`text` (UTF-8) as str without a character cut off at its end."""
    for cut in range(4):
        try:
            return text[:len(text) - cut].decode("utf-8")
        except UnicodeDecodeError:
            continue
    return text.decode("utf-8", "surrogateescape")


def _quoted(text):
    """`text` as a warning shows it: its first characters."""
    return text[:_SHOWN] + ("…" if len(text) > _SHOWN else "")


def warn_cuts(candidates, source, in_memory, document_name):
    """Warns of each candidate field (field, owner, kept bytes, field size)
    whose text in the document was longer than what the record kept."""
    data = _document(source, in_memory)
    texts = _texts(data) if data is not None else None
    if not texts:
        return
    by_start = {}
    for t in texts:
        if len(t) > 4:
            by_start.setdefault(t[:8], []).append(t)
    for field, owner, kept, size in candidates:
        if kept in texts:
            continue  # the whole text is in the document: it fitted
        longer = [t for t in by_start.get(kept[:8], ()) if len(t) > len(kept) and t.startswith(kept)]
        if not longer:
            continue
        full = min(longer, key=len)
        line, column = texts[full]
        shown = _whole(kept)
        where = f"{_quoted(owner)}: " if owner and owner != shown else ""
        text = (f"{where}{field} cut from {len(full.decode('utf-8', 'surrogateescape'))} to {len(shown)} "
                f"characters (the field holds {size - 1} bytes): '{_quoted(shown)}'")
        warn(Message("stderr", "warning", document_name, line, column, text))
