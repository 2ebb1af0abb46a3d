"""A connection: one session of the library, used by one thread at a time."""

from __future__ import annotations

import json
import threading
import time
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, List, Optional, Union

from . import _native
from ._result import Result
from .exceptions import E_NOMEM, InterfaceError, NotSupportedError, error_for

if TYPE_CHECKING:
    from .cursor import Cursor

# How long Cursor.cancel waits for the service before aborting the exchange.
CANCEL_WAIT_S = 2.0

Json = Union[str, dict, list]


@dataclass(frozen=True)
class Reply:
    """What an operation answered: the reply parsed as JSON (``data``,
    integers exact) and its grid (the one the library locates: the last
    set of a batched reply) as column names and rows of typed values."""

    data: Any
    columns: List[str] = field(default_factory=list)
    rows: List[tuple] = field(default_factory=list)
    http_status: int = 0


def _body(value: Json) -> str:
    return value if isinstance(value, str) else json.dumps(value)


class Connection:
    """Made by :func:`tarn.connect`. Threads may share the module, not a
    connection: a lock makes a second thread wait for the first."""

    def __init__(self, host: Optional[str] = None, password: Optional[str] = None,
                 token: Optional[str] = None, tls: Optional[str] = None,
                 server: Optional[str] = None, db: Optional[str] = None,
                 max_time: Optional[int] = None, keepalive: bool = True) -> None:
        self._lib = _native.library()
        self._settings = (host, password, token, tls)
        self.server = server
        self.db = db
        self._lock = threading.Lock()
        self._cancel_lock = threading.Lock()
        self._cancel_session: Optional[int] = None
        self._session: Optional[int] = None
        self._session = self._new_session(max_time or 0, keepalive)

    # -- sessions ---------------------------------------------------------
    def _new_session(self, max_time: int, keepalive: bool) -> int:
        lib = self._lib
        s = lib.tarn_session_new()
        if not s:
            raise error_for(E_NOMEM, 0, "out of memory")
        host, password, token, tls = self._settings
        try:
            lib.tarn_session_set_host(s, _native.text_arg(host))
            lib.tarn_session_set_password(s, _native.text_arg(password))
            lib.tarn_session_set_jwt(s, _native.text_arg(token))
            if lib.tarn_session_set_tls(s, _native.text_arg(tls)) != 0:
                raise self._error(s)
            if lib.tarn_session_set_max_time(s, int(max_time)) != 0:
                raise self._error(s)
            lib.tarn_session_set_keepalive(s, 1 if keepalive else 0)
        except BaseException:
            lib.tarn_session_free(s)
            raise
        return s

    def _error(self, s: int) -> Exception:
        lib = self._lib
        return error_for(lib.tarn_session_error_code(s), lib.tarn_session_http_status(s),
                         lib.tarn_session_last_error(s).decode("utf-8", errors="replace"))

    def _call(self, name: str, *args: Any) -> Result:
        """Runs one operation on the session and takes its reply."""
        with self._lock:
            s = self._session
            if s is None:
                raise InterfaceError("the connection is closed")
            if getattr(self._lib, name)(s, *args) != 0:
                raise self._error(s)
            ptr = self._lib.tarn_session_take_result(s)
            if not ptr:
                raise error_for(E_NOMEM, 0, "out of memory")
            return Result(self._lib, ptr)

    def _cancel_query(self, token: str, done: threading.Event) -> None:
        """Cancels the query of `token` on the service from a second session;
        aborts the exchange when the query has not ended within 2 s."""
        deadline = time.monotonic() + CANCEL_WAIT_S
        with self._cancel_lock:
            if self._session is None:
                return
            if self._cancel_session is None:
                self._cancel_session = self._new_session(int(CANCEL_WAIT_S), False)
            c = self._cancel_session
            server = _native.text_arg(self.server)
            tok = _native.text_arg(token)
            # The query may not have reached the service yet: try again.
            while not done.is_set() and time.monotonic() < deadline:
                if self._lib.tarn_session_cancel(c, server, tok) == 0:
                    break
                done.wait(0.05)
            if not done.wait(max(0.0, deadline - time.monotonic())):
                self._lib.tarn_session_abort(self._session)

    # -- DB-API -----------------------------------------------------------
    def cursor(self, decimal: bool = False) -> "Cursor":
        """A new cursor; ``decimal=True`` reads non-integer numbers as
        Decimal instead of float."""
        from .cursor import Cursor

        self._check_open()
        return Cursor(self, decimal=decimal)

    def close(self) -> None:
        """Frees the sessions; further use raises InterfaceError."""
        with self._cancel_lock, self._lock:
            for s in (self._session, self._cancel_session):
                if s:
                    self._lib.tarn_session_free(s)
            self._session = self._cancel_session = None

    @property
    def closed(self) -> bool:
        return self._session is None

    def commit(self) -> None:
        """Nothing to do: the service commits each request's statements."""
        self._check_open()

    def rollback(self) -> None:
        raise NotSupportedError("the service commits each request; there is no rollback")

    def __enter__(self) -> "Connection":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def _check_open(self) -> None:
        if self._session is None:
            raise InterfaceError("the connection is closed")

    # -- operations -------------------------------------------------------
    def _reply(self, name: str, *args: Any) -> Reply:
        result = self._call(name, *args)
        try:
            rows: List[tuple] = []
            columns: List[str] = []
            if result.set_count > 0:
                result.select(result.set_count - 1)
                columns = result.col_names()
                types = result.column_types(len(columns))
                rows = [result.row(r, types, False) for r in range(result.row_count())]
            return Reply(result.json(), columns, rows, result.http_status)
        finally:
            result.close()

    def _srv(self, server: Optional[str]) -> Optional[bytes]:
        return _native.text_arg(server if server is not None else self.server)

    def _dbn(self, db: Optional[str]) -> Optional[bytes]:
        return _native.text_arg(db if db is not None else self.db)

    def ping(self) -> Reply:
        """GET /ping."""
        return self._reply("tarn_session_ping")

    def list_connections(self) -> Reply:
        """The saved connection profiles."""
        return self._reply("tarn_session_list_connections")

    def save_connection(self, profile: Json) -> Reply:
        """Saves a connection profile (a dict, or its JSON text)."""
        return self._reply("tarn_session_save_connection", _native.text_arg(_body(profile)))

    def delete_connection(self, id: Union[str, int]) -> Reply:  # noqa: A002
        """Deletes the saved profile `id`."""
        return self._reply("tarn_session_delete_connection", _native.text_arg(str(id)))

    def test_connection(self, profile: Json) -> Reply:
        """Tests a connection profile without saving it."""
        return self._reply("tarn_session_test_connection", _native.text_arg(_body(profile)))

    def tree(self, node_kind: str, server: Optional[str] = None, db: Optional[str] = None,
             schema: Optional[str] = None, obj: Optional[str] = None) -> Reply:
        """The object tree: databases, schemas, tables, views, columns, ..."""
        return self._reply("tarn_session_tree", self._srv(server), _native.text_arg(node_kind),
                           self._dbn(db), _native.text_arg(schema), _native.text_arg(obj))

    def cancel(self, query_token: str, server: Optional[str] = None) -> Reply:
        """Cancels the running query that was sent with `query_token`."""
        return self._reply("tarn_session_cancel", self._srv(server),
                           _native.text_arg(query_token))

    def cancel_spid(self, spid: int, server: Optional[str] = None) -> Reply:
        """Cancels the running query of server process id `spid`."""
        return self._reply("tarn_session_cancel_spid", self._srv(server), int(spid))

    def editgrid_load(self, table: str, server: Optional[str] = None, db: Optional[str] = None,
                      schema: Optional[str] = None, top: int = 0) -> Reply:
        """A table's rows for editing; `top` limits them when > 0."""
        return self._reply("tarn_session_editgrid_load", self._srv(server), self._dbn(db),
                           _native.text_arg(schema), _native.text_arg(table), int(top))

    def editgrid_apply(self, changes: Json) -> Reply:
        """Applies an edit grid change set (a dict, or its JSON text)."""
        return self._reply("tarn_session_editgrid_apply", _native.text_arg(_body(changes)))

    def script(self, action: str, kind: Optional[str] = None, obj: Optional[str] = None,
               server: Optional[str] = None, db: Optional[str] = None,
               schema: Optional[str] = None) -> Reply:
        """A script of an object, e.g. action "create" of kind "table"."""
        return self._reply("tarn_session_script", self._srv(server), _native.text_arg(action),
                           _native.text_arg(kind), self._dbn(db), _native.text_arg(schema),
                           _native.text_arg(obj))

    def activity(self, action: Optional[str] = None, server: Optional[str] = None) -> Reply:
        """The activity view `action` (the service's default: sessions)."""
        return self._reply("tarn_session_activity", self._srv(server), _native.text_arg(action))

    def activity_kill(self, spid: int, server: Optional[str] = None) -> Reply:
        """Ends the session `spid` on the service."""
        return self._reply("tarn_session_activity_kill", self._srv(server), int(spid))

    def storage(self, action: Optional[str] = None, server: Optional[str] = None,
                db: Optional[str] = None) -> Reply:
        """The storage view `action` (the service's default: files)."""
        return self._reply("tarn_session_storage", self._srv(server), _native.text_arg(action),
                           _native.text_arg(db))

    def storage_post(self, action: str, body: Json) -> Reply:
        """Runs the storage action `action` with `body` (a dict, or JSON text)."""
        return self._reply("tarn_session_storage_post", _native.text_arg(action),
                           _native.text_arg(_body(body)))

    def admin(self, action: str, server: Optional[str] = None, db: Optional[str] = None,
              extra: Optional[str] = None) -> Reply:
        """The administration view `action`."""
        return self._reply("tarn_session_admin", self._srv(server), _native.text_arg(action),
                           _native.text_arg(db), _native.text_arg(extra))

    def job_control(self, job_id: Union[str, int], verb: Optional[str] = None,
                    server: Optional[str] = None) -> Reply:
        """start (the default), stop, enable, disable or toggle an agent job."""
        return self._reply("tarn_session_job_control", self._srv(server),
                           _native.text_arg(str(job_id)), _native.text_arg(verb))

