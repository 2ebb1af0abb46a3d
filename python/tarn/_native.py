"""The tarn client library, loaded with ctypes, and the prototypes of the
functions the package calls. ctypes releases the GIL around each call."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import threading
from typing import Dict, List, Optional, Tuple

from .exceptions import InterfaceError

_P = ctypes.c_void_p  # tarn_session* and tarn_result*
_S = ctypes.c_char_p  # const char* in; texts out are copied at once
_I = ctypes.c_int
_I32 = ctypes.c_int32
_LEN = ctypes.POINTER(ctypes.c_size_t)

# name: (return type, argument types), as tarn_client.h declares them.
PROTOTYPES: Dict[str, Tuple[object, List[object]]] = {
    "tarn_client_version": (_S, []),
    "tarn_session_new": (_P, []),
    "tarn_session_free": (None, [_P]),
    "tarn_session_abort": (None, [_P]),
    "tarn_session_error_code": (_I, [_P]),
    "tarn_session_set_host": (None, [_P, _S]),
    "tarn_session_set_password": (None, [_P, _S]),
    "tarn_session_set_jwt": (None, [_P, _S]),
    "tarn_session_set_tls": (_I32, [_P, _S]),
    "tarn_session_set_keepalive": (None, [_P, _I32]),
    "tarn_session_set_max_time": (_I32, [_P, _I32]),
    "tarn_session_last_error": (_S, [_P]),
    "tarn_session_http_status": (_I32, [_P]),
    "tarn_session_ping": (_I, [_P]),
    "tarn_session_list_connections": (_I, [_P]),
    "tarn_session_save_connection": (_I, [_P, _S]),
    "tarn_session_delete_connection": (_I, [_P, _S]),
    "tarn_session_test_connection": (_I, [_P, _S]),
    "tarn_session_tree": (_I, [_P, _S, _S, _S, _S, _S]),
    "tarn_session_query": (_I, [_P, _S, _S, _S, _I, _I, _S]),
    "tarn_session_cancel": (_I, [_P, _S, _S]),
    "tarn_session_cancel_spid": (_I, [_P, _S, _I]),
    "tarn_session_editgrid_load": (_I, [_P, _S, _S, _S, _S, _I]),
    "tarn_session_editgrid_apply": (_I, [_P, _S]),
    "tarn_session_script": (_I, [_P, _S, _S, _S, _S, _S, _S]),
    "tarn_session_activity": (_I, [_P, _S, _S]),
    "tarn_session_activity_kill": (_I, [_P, _S, _I]),
    "tarn_session_storage": (_I, [_P, _S, _S, _S]),
    "tarn_session_storage_post": (_I, [_P, _S, _S]),
    "tarn_session_admin": (_I, [_P, _S, _S, _S, _S]),
    "tarn_session_job_control": (_I, [_P, _S, _S, _S]),
    "tarn_session_take_result": (_P, [_P]),
    "tarn_result_free": (None, [_P]),
    "tarn_result_text": (_P, [_P]),
    "tarn_result_http_status": (_I32, [_P]),
    "tarn_result_set_count": (_I, [_P]),
    "tarn_result_select_set": (_I, [_P, _I]),
    "tarn_result_truncated": (_I, [_P]),
    "tarn_result_row_count": (_I, [_P]),
    "tarn_result_col_count": (_I, [_P]),
    "tarn_result_col_name": (_S, [_P, _I]),
    "tarn_result_cell_kind": (_I, [_P, _I, _I]),
    "tarn_result_cell_text": (_P, [_P, _I, _I, _LEN]),
}

# Names tried after TARN_CLIENT_LIBRARY and the system's search.
COMMON_NAMES = (
    "libtarn-client.so.1",
    "libtarn-client.so",
    "tarn-client.dll",
    "libtarn-client.dll",
    "libtarn-client.1.dylib",
    "libtarn-client.dylib",
)

_lock = threading.Lock()
_lib: Optional[ctypes.CDLL] = None


def candidates() -> List[str]:
    """Where the library is looked for, in order."""
    env = os.environ.get("TARN_CLIENT_LIBRARY")
    if env:
        return [env]
    found = ctypes.util.find_library("tarn-client")
    return ([found] if found else []) + list(COMMON_NAMES)


def declare(lib: ctypes.CDLL) -> ctypes.CDLL:
    for name, (restype, argtypes) in PROTOTYPES.items():
        fn = getattr(lib, name)
        fn.restype = restype
        fn.argtypes = argtypes
    return lib


def library() -> ctypes.CDLL:
    """The loaded library, its prototypes declared; loaded on first use."""
    global _lib
    with _lock:
        if _lib is None:
            tried = []
            for path in candidates():
                try:
                    lib = ctypes.CDLL(path)
                except OSError as e:
                    tried.append(f"{path}: {e}")
                    continue
                try:
                    _lib = declare(lib)
                except AttributeError as e:
                    raise InterfaceError(f"{path} is not a tarn client library: {e}") from None
                break
            else:
                raise InterfaceError(
                    "cannot load the tarn client library (set TARN_CLIENT_LIBRARY): "
                    + "; ".join(tried))
        return _lib


def text_arg(value: Optional[str]) -> Optional[bytes]:
    """A text argument; None stays absent."""
    if value is None:
        return None
    if not isinstance(value, str):
        raise TypeError(f"expected str, got {type(value).__name__}")
    return value.encode("utf-8")
