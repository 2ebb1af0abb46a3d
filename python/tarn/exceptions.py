"""Exceptions of the DB-API, each carrying the library's error code, the
HTTP status of the exchange and the library's message."""

from __future__ import annotations

from typing import Optional

# TARN_E_* codes of tarn_client.h.
E_NONE = 0
E_ARGUMENT = 1
E_SETTINGS = 2
E_TRANSPORT = 3
E_TIMEOUT = 4
E_CERTIFICATE = 5
E_HTTP = 6
E_ABORTED = 7
E_NOMEM = 8


class Warning(Exception):  # noqa: A001 - the DB-API's name
    """Important warnings; the package raises none itself."""


class Error(Exception):
    """Base of every error the package raises.

    ``code`` is a TARN_E_* value (None for errors found before any call into
    the library, such as a wrong parameter count), ``http_status`` the status
    of the last exchange (0 when no response arrived) and ``message`` the
    library's text.
    """

    def __init__(self, message: str, code: Optional[int] = None, http_status: int = 0) -> None:
        super().__init__(message)
        self.message = message
        self.code = code
        self.http_status = http_status

    def __str__(self) -> str:
        return self.message


class InterfaceError(Error):
    """The package or the library cannot be used as asked: library missing,
    closed connection, invalid setting."""


class DatabaseError(Error):
    """Errors that concern the service or the database."""


class DataError(DatabaseError):
    """A value cannot be represented."""


class OperationalError(DatabaseError):
    """No answer, time limit, cancelled or aborted, certificate refused,
    credentials refused, or a failure of the service."""


class IntegrityError(DatabaseError):
    """A constraint of the database refused the change."""


class InternalError(DatabaseError):
    """The library ran out of memory."""


class ProgrammingError(DatabaseError):
    """Wrong SQL, unknown object, wrong parameters or arguments."""


class NotSupportedError(DatabaseError):
    """The service or the package does not offer this."""


def error_for(code: int, http_status: int, message: str) -> Error:
    """The exception class that fits a failed operation."""
    if code == E_ARGUMENT:
        cls: type = ProgrammingError
    elif code == E_SETTINGS:
        cls = InterfaceError
    elif code == E_NOMEM:
        cls = InternalError
    elif code == E_HTTP:
        if http_status in (400, 404, 422):
            cls = IntegrityError if "constraint" in message.lower() else ProgrammingError
        elif http_status == 403 and "not authorized" not in message:
            cls = NotSupportedError
        else:
            cls = OperationalError
    else:
        cls = OperationalError
    return cls(message, code, http_status)
