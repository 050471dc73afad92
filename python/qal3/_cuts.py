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


def _texts(data):
    """Every element text (as it is and stripped) and attribute value of the
    document, UTF-8 encoded; None when this parser cannot read it."""
    texts = set()
    stack = []

    def start(name, attrs):
        stack.append([])
        texts.update(v.encode("utf-8", "surrogatepass") for v in attrs.values())

    def end(name):
        text = "".join(stack.pop())
        texts.add(text.encode("utf-8", "surrogatepass"))
        texts.add(text.strip().encode("utf-8", "surrogatepass"))

    def chars(data):
        if stack:
            stack[-1].append(data)

    parser = expat.ParserCreate()
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
        full = min(longer, key=len).decode("utf-8", "surrogateescape")
        shown = _whole(kept)
        quoted = shown[:_SHOWN] + ("…" if len(shown) > _SHOWN else "")
        where = f"{owner}: " if owner and owner != shown else ""
        text = (f"{where}{field} cut from {len(full)} to {len(shown)} characters "
                f"(the field holds {size - 1} bytes): '{quoted}'")
        warn(Message("stderr", "warning", document_name, 0, 0, text))
