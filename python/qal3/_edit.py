"""Editing a configuration document record by record, as ``qal3 trigger
set``, ``add`` and ``drop`` do (and their ``chan`` and ``envdict``
forms): only the bytes of the change are rewritten, so the document keeps
its comments, layout, encoding, date and the spelling of every value the
edit does not touch. The edit is the library's: the result reads back as
the records with the edit and nothing else, and passes check, or the edit
is refused with ValueError and nothing is written."""

import os
from collections.abc import Mapping
from typing import Any, Optional, Union

from . import _core

_Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
_Selector = Union[int, str, Mapping]


def _value(v: Any) -> str:
    """A value as the editor reads it: a float in its shortest exact form."""
    if isinstance(v, bool):
        return str(int(v))
    if isinstance(v, float):
        return repr(v)
    return str(v)


def _selector(selector: Optional[_Selector]) -> str:
    if selector is None:
        return ""
    if isinstance(selector, bool):
        raise TypeError("selector must be a position, a FIELD=VALUE text or a mapping, not bool")
    if isinstance(selector, int):
        return str(selector)
    if isinstance(selector, Mapping):
        return ",".join(f"{k}={_value(v)}" for k, v in selector.items())
    return str(selector)


def edit(path: _Path, action: str, selector: Optional[_Selector] = None, fields: Optional[Mapping] = None, *,
         all: bool = False, old_layout: bool = False, write: bool = True) -> bytes:
    """Edits the trigger list, channel descriptions or environment index
    dictionary in the file `path` and returns the new document's bytes.

    `action` is ``"set"`` (the `fields` of the record `selector` picks),
    ``"add"`` (a new record with `fields`, after the last one) or
    ``"drop"`` (the record `selector` picks). `selector` is the record's
    position in the document (1 for the first), a mapping of fields to
    values (``{"channel": "A/B", "subchannel": 1}``) or the tool's
    ``"FIELD=VALUE,..."``; it must pick one record unless `all` is true.
    `fields` maps field names (as ``to_dict`` gives them; trigger
    parameters also by name: ``start``, ``end``, ...) to values. With
    `write` (the default) the file is replaced whole, as the writers
    replace it; `old_layout` reads a dictionary in the old layout.

    ValueError, naming the file and the position, when the edit is refused;
    OSError when the file cannot be read or replaced."""
    with open(path, "rb") as f:
        data = f.read()
    assignments = [f"{k}={_value(v)}" for k, v in (fields or {}).items()]
    name = os.fsdecode(os.fspath(path))
    result = _core._edit(name, data, action, _selector(selector), assignments, bool(all), bool(old_layout))
    if write:
        _core._replace_file(path, result)
    return result
