"""Python values from a cell's JSON kind and its exact text."""

from __future__ import annotations

import decimal
import json
import re
from typing import Any, Optional

CELL_ABSENT = 0
CELL_NULL = 1
CELL_BOOL = 2
CELL_NUMBER = 3
CELL_STRING = 4
CELL_ARRAY = 5
CELL_OBJECT = 6

_INTEGER = re.compile(r"-?[0-9]+")


def number(text: str, use_decimal: bool) -> Any:
    """An integer token as int (any size); else float, or Decimal on request."""
    if _INTEGER.fullmatch(text):
        return int(text)
    return decimal.Decimal(text) if use_decimal else float(text)


def parse_json(text: str, use_decimal: bool) -> Any:
    return json.loads(text, parse_float=decimal.Decimal if use_decimal else float)


def convert(kind: int, raw: bytes, use_decimal: bool = False,
            column_type: Optional[str] = None) -> Any:
    """The value of one cell. A string in a column whose type is JSON (how
    SQLite reports a JSON column) is parsed when it is valid JSON."""
    if kind in (CELL_ABSENT, CELL_NULL):
        return None
    if kind == CELL_BOOL:
        return raw == b"true"
    text = raw.decode("utf-8", errors="replace")
    if kind == CELL_NUMBER:
        return number(text, use_decimal)
    if kind in (CELL_ARRAY, CELL_OBJECT):
        return parse_json(text, use_decimal)
    if column_type is not None and column_type.strip().upper() == "JSON":
        try:
            return parse_json(text, use_decimal)
        except ValueError:
            return text
    return text
