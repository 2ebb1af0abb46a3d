"""A reply taken from a session: its text, result sets and typed cells."""

from __future__ import annotations

import ctypes
import json
from typing import Any, List, Optional

from . import _values


def _has_members(v: Any) -> bool:
    return isinstance(v, dict) and len(v) > 0


def locate_sets(root: Any) -> List[dict]:
    """The JSON objects holding each result set, in the library's order: a
    top-level grid, else every result with `rows` of every batch."""
    if not _has_members(root):
        return []
    if isinstance(root.get("rows"), list):
        return [root]
    if isinstance(root.get("columns"), list):
        return []
    found: List[dict] = []
    batches = root.get("batches")
    for batch in batches if isinstance(batches, list) else []:
        if not _has_members(batch):
            continue
        results = batch.get("results")
        for result in results if isinstance(results, list) else []:
            if _has_members(result) and isinstance(result.get("rows"), list):
                found.append(result)
    return found


class Result:
    """Owns one tarn_result; freed by close() or when collected."""

    def __init__(self, lib: ctypes.CDLL, ptr: int) -> None:
        self._lib = lib
        self._ptr: Optional[int] = ptr
        self._text: Optional[str] = None
        self._json: Any = None
        self._parsed = False
        self.set_count = lib.tarn_result_set_count(ptr)
        self.http_status = lib.tarn_result_http_status(ptr)
        self.selected = -1

    def close(self) -> None:
        ptr, self._ptr = self._ptr, None
        if ptr:
            self._lib.tarn_result_free(ptr)

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    @property
    def text(self) -> str:
        if self._text is None:
            self._text = ctypes.string_at(self._lib.tarn_result_text(self._ptr)).decode(
                "utf-8", errors="replace")
        return self._text

    def json(self) -> Any:
        """The reply parsed (integers exact, other numbers as float); None
        when it is not JSON."""
        if not self._parsed:
            try:
                self._json = json.loads(self.text) if self.text else None
            except ValueError:
                self._json = None
            self._parsed = True
        return self._json

    def select(self, i: int) -> bool:
        if self._lib.tarn_result_select_set(self._ptr, i) != 0:
            return False
        self.selected = i
        return True

    def set_object(self) -> Optional[dict]:
        sets = locate_sets(self.json())
        return sets[self.selected] if 0 <= self.selected < len(sets) else None

    def column_types(self, count: int) -> List[Optional[str]]:
        """Type names of the selected set's `columns` objects, None where
        the reply gives none."""
        types: List[Optional[str]] = [None] * count
        # Skips parsing replies that name no type at all.
        if '"type"' not in self.text:
            return types
        obj = self.set_object()
        cols = obj.get("columns") if obj else None
        if isinstance(cols, list):
            for i, col in enumerate(cols[:count]):
                if isinstance(col, dict) and isinstance(col.get("type"), str) and col["type"]:
                    types[i] = col["type"]
        return types

    def changes(self) -> int:
        """Rows changed by the statements of a batched reply, -1 when it
        says nothing about it."""
        root = self.json()
        total, seen = 0, False
        batches = root.get("batches") if isinstance(root, dict) else None
        for batch in batches if isinstance(batches, list) else []:
            results = batch.get("results") if isinstance(batch, dict) else None
            for result in results if isinstance(results, list) else []:
                if isinstance(result, dict) and isinstance(result.get("changes"), int):
                    total += result["changes"]
                    seen = True
        return total if seen else -1

    def row_count(self) -> int:
        return self._lib.tarn_result_row_count(self._ptr)

    def col_count(self) -> int:
        return self._lib.tarn_result_col_count(self._ptr)

    def col_names(self) -> List[str]:
        return [self._lib.tarn_result_col_name(self._ptr, c).decode("utf-8", errors="replace")
                for c in range(max(self.col_count(), 0))]

    def truncated(self) -> bool:
        return self._lib.tarn_result_truncated(self._ptr) == 1

    def row(self, r: int, types: List[Optional[str]], use_decimal: bool) -> tuple:
        lib, ptr = self._lib, self._ptr
        length = ctypes.c_size_t()
        out = []
        for c, column_type in enumerate(types):
            kind = lib.tarn_result_cell_kind(ptr, r, c)
            text = lib.tarn_result_cell_text(ptr, r, c, ctypes.byref(length))
            raw = ctypes.string_at(text, length.value) if length.value else b""
            out.append(_values.convert(kind, raw, use_decimal, column_type))
        return tuple(out)
