"""tarn: a DB-API 2.0 (PEP 249) interface to the tarn client library.

    import tarn
    with tarn.connect("http://127.0.0.1:8180", server="local", db="shop") as conn:
        cur = conn.cursor()
        cur.execute("select id, name from customers where name = ?", ["O'Brien"])
        for row in cur:
            print(row)

Each connection has a session of its own in the library, so threads each
with their own connection run at once; ``Cursor.cancel`` works from any
thread. The library is found through TARN_CLIENT_LIBRARY (a path), else
the system's library search for "tarn-client", else its usual file names.
"""

from __future__ import annotations

from typing import Optional

from . import _native
from .connection import Connection, Reply
from .cursor import Cursor
from .exceptions import (
    DatabaseError,
    DataError,
    Error,
    IntegrityError,
    InterfaceError,
    InternalError,
    NotSupportedError,
    OperationalError,
    ProgrammingError,
    Warning,
)

__all__ = [
    "apilevel", "threadsafety", "paramstyle", "connect", "library_version",
    "Connection", "Cursor", "Reply",
    "Warning", "Error", "InterfaceError", "DatabaseError", "DataError", "OperationalError",
    "IntegrityError", "InternalError", "ProgrammingError", "NotSupportedError",
]

__version__ = "1.0.0"
apilevel = "2.0"
# Threads may share the module, not connections.
threadsafety = 1
paramstyle = "qmark"


def connect(host: Optional[str] = None, password: Optional[str] = None,
            token: Optional[str] = None, tls: Optional[str] = None,
            server: Optional[str] = None, db: Optional[str] = None,
            max_time: Optional[int] = None, keepalive: bool = True) -> Connection:
    """Opens a connection: a session of its own with these settings.

    host: the service's base URL (the library's default when None);
    password: the node password; token: a bearer token; tls: the TLS policy
    ("any", "system", "ca:PATH", "pin:sha256//..."); server, db: the saved
    connection and database that queries and views use unless told
    otherwise; max_time: a limit in seconds for each operation; keepalive:
    keep the connection to the service between calls.
    """
    return Connection(host, password, token, tls, server, db, max_time, keepalive)


def library_version() -> str:
    """The loaded library's version line."""
    return _native.library().tarn_client_version().decode()
