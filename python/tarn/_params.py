"""qmark parameters bound on the client as SQL literals."""

from __future__ import annotations

import decimal
import math
from typing import Any, List, Sequence

from .exceptions import ProgrammingError


def _literal(value: Any) -> str:
    # bool before int: bool is an int subclass.
    if value is None:
        return "NULL"
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, int):
        text = int.__repr__(int(value))
    elif isinstance(value, float):
        if not math.isfinite(value):
            raise ProgrammingError(f"no SQL literal for the float {value!r}")
        text = float.__repr__(float(value))
    elif isinstance(value, decimal.Decimal):
        if not value.is_finite():
            raise ProgrammingError(f"no SQL literal for the Decimal {value}")
        text = str(value)
    elif isinstance(value, str):
        if "\0" in value:
            raise ProgrammingError("a string parameter holds a NUL character")
        return "'" + str.replace(value, "'", "''") + "'"
    else:
        raise ProgrammingError(f"cannot bind a parameter of type {type(value).__name__}")
    # A negative number after "-" would start a comment: "x-?" -> "x--1".
    return f"({text})" if text.startswith("-") else text


def placeholders(sql: str) -> List[int]:
    """Offsets of the ``?`` that are parameters: not inside quotes,
    bracketed names or comments."""
    found: List[int] = []
    i, n = 0, len(sql)
    while i < n:
        c = sql[i]
        if c in "'\"`":
            end = i + 1
            while end < n:
                if sql[end] == c:
                    if end + 1 < n and sql[end + 1] == c:  # doubled quote
                        end += 2
                        continue
                    break
                end += 1
            i = end + 1
        elif c == "[":
            end = sql.find("]", i + 1)
            i = n if end < 0 else end + 1
        elif c == "-" and sql.startswith("--", i):
            end = sql.find("\n", i)
            i = n if end < 0 else end + 1
        elif c == "/" and sql.startswith("/*", i):
            end = sql.find("*/", i + 2)
            i = n if end < 0 else end + 2
        else:
            if c == "?":
                found.append(i)
            i += 1
    return found


def bind(sql: str, params: Sequence[Any] | None) -> str:
    """The SQL with each parameter written in as a literal."""
    if params is None:
        params = ()
    elif isinstance(params, (str, bytes, dict)) or not isinstance(params, Sequence):
        raise ProgrammingError("parameters must be a sequence (qmark style)")
    marks = placeholders(sql)
    if len(marks) != len(params):
        raise ProgrammingError(
            f"the SQL has {len(marks)} parameter(s) but {len(params)} were given")
    if not marks:
        return sql
    out: List[str] = []
    last = 0
    for at, value in zip(marks, params):
        out.append(sql[last:at])
        out.append(_literal(value))
        last = at + 1
    out.append(sql[last:])
    return "".join(out)
