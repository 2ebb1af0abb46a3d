"""Cursors: queries with qmark parameters, typed rows, result sets, cancel."""

from __future__ import annotations

import threading
import uuid
from typing import TYPE_CHECKING, Any, Iterator, List, Optional, Sequence, Tuple

from . import _native
from ._params import bind
from ._result import Result
from .exceptions import InterfaceError, NotSupportedError, ProgrammingError

if TYPE_CHECKING:
    from .connection import Connection

Description = Tuple[str, Optional[str], None, None, None, None, None]


class Cursor:
    """Runs queries on its connection's session and reads their replies.

    ``max_rows`` and ``timeout`` (seconds) go with each query when > 0.
    Rows are tuples: integers as int of any size, other numbers as float
    (Decimal with ``decimal=True``), strings, None, bools, and arrays and
    objects (also strings of a column typed JSON) as lists and dicts.
    """

    arraysize: int = 1

    def __init__(self, connection: "Connection", decimal: bool = False) -> None:
        self.connection = connection
        self.decimal = decimal
        self.max_rows = 0
        self.timeout = 0
        self.rowcount = -1
        self.lastrowid = None
        self.description: Optional[List[Description]] = None
        self._result: Optional[Result] = None
        self._types: List[Optional[str]] = []
        self._rows = -1
        self._pos = 0
        self._closed = False
        self._token: Optional[str] = None
        self._done = threading.Event()

    # -- running ----------------------------------------------------------
    def execute(self, sql: str, params: Optional[Sequence[Any]] = None) -> "Cursor":
        """Runs `sql` (one statement or several) with `params` written in as
        SQL literals for its ``?`` marks. Returns the cursor."""
        self._check_open()
        text = bind(sql, params)
        self._drop_result()
        conn = self.connection
        token = "py-" + uuid.uuid4().hex
        self._done = done = threading.Event()
        self._token = token
        try:
            result = conn._call("tarn_session_query", conn._srv(None), conn._dbn(None),
                                _native.text_arg(text), int(self.max_rows), int(self.timeout),
                                _native.text_arg(token))
        finally:
            self._token = None
            done.set()
        self._result = result
        if result.set_count > 0:
            self._select(0)
        else:
            self.rowcount = result.changes()
        return self

    def executemany(self, sql: str, seq_of_params: Sequence[Sequence[Any]]) -> "Cursor":
        """Runs `sql` once per parameter sequence; rowcount adds up the rows
        each run changed."""
        total = 0
        counted = False
        for params in seq_of_params:
            self.execute(sql, params)
            if self.rowcount >= 0:
                total += self.rowcount
                counted = True
        self.rowcount = total if counted else -1
        return self

    def cancel(self) -> None:
        """Cancels the query this cursor runs, from any thread: on the
        service by its token, and by aborting the exchange when the service
        has not ended it within 2 s. Does nothing when no query runs."""
        token, done = self._token, self._done
        if token is not None and not done.is_set():
            self.connection._cancel_query(token, done)

    def nextset(self) -> Optional[bool]:
        """Moves to the next result set: True, or None when there is none."""
        self._check_result()
        assert self._result is not None
        nxt = self._result.selected + 1
        if nxt >= self._result.set_count:
            return None
        self._select(nxt)
        return True

    def _select(self, i: int) -> None:
        result = self._result
        assert result is not None
        result.select(i)
        names = result.col_names()
        self._types = result.column_types(len(names))
        self.description = [(n, t, None, None, None, None, None)
                            for n, t in zip(names, self._types)]
        self._rows = result.row_count()
        self._pos = 0
        self.rowcount = self._rows

    # -- reading ----------------------------------------------------------
    @property
    def truncated(self) -> bool:
        """True when the service cut the current set at max_rows."""
        self._check_result()
        assert self._result is not None
        return self._result.truncated()

    def fetchone(self) -> Optional[tuple]:
        self._check_grid()
        if self._pos >= self._rows:
            return None
        assert self._result is not None
        row = self._result.row(self._pos, self._types, self.decimal)
        self._pos += 1
        return row

    def fetchmany(self, size: Optional[int] = None) -> List[tuple]:
        self._check_grid()
        n = self.arraysize if size is None else size
        end = min(self._rows, self._pos + max(n, 0))
        assert self._result is not None
        rows = [self._result.row(r, self._types, self.decimal) for r in range(self._pos, end)]
        self._pos = end
        return rows

    def fetchall(self) -> List[tuple]:
        self._check_grid()
        return self.fetchmany(self._rows - self._pos)

    def fetch_df(self) -> Any:
        """The remaining rows as a pandas DataFrame (needs pandas)."""
        try:
            import pandas
        except ImportError:
            raise NotSupportedError("fetch_df needs pandas, which is not installed") from None
        self._check_grid()
        names = [d[0] for d in self.description or []]
        return pandas.DataFrame.from_records(self.fetchall(), columns=names)

    def __iter__(self) -> Iterator[tuple]:
        return self

    def __next__(self) -> tuple:
        row = self.fetchone()
        if row is None:
            raise StopIteration
        return row

    # -- the rest of the DB-API --------------------------------------------
    def setinputsizes(self, sizes: Any) -> None:
        pass

    def setoutputsize(self, size: Any, column: Any = None) -> None:
        pass

    def close(self) -> None:
        self._drop_result()
        self._closed = True

    def __enter__(self) -> "Cursor":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _drop_result(self) -> None:
        if self._result is not None:
            self._result.close()
        self._result = None
        self.description = None
        self.rowcount = -1
        self._types = []
        self._rows = -1
        self._pos = 0

    def _check_open(self) -> None:
        if self._closed:
            raise InterfaceError("the cursor is closed")
        self.connection._check_open()

    def _check_result(self) -> None:
        if self._closed:
            raise InterfaceError("the cursor is closed")
        if self._result is None:
            raise ProgrammingError("no query has run on this cursor")

    def _check_grid(self) -> None:
        self._check_result()
        if self.description is None:
            raise ProgrammingError("the last query gave no result set")
