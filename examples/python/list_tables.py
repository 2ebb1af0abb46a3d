#!/usr/bin/env python3
"""Lists the tables of the demo service's `shop` database through the tarn
client library, loaded with ctypes.

    python3 list_tables.py BASE_URL [LIBRARY]

LIBRARY is the path of libtarn-client.so.1; without it the system's
library search finds it (it is on that path once the .deb is installed).
"""
import ctypes
import sys


def load(path):
    lib = ctypes.CDLL(path)
    session = ctypes.c_void_p
    lib.tarn_session_new.restype = session
    lib.tarn_session_free.argtypes = [session]
    lib.tarn_session_free.restype = None
    lib.tarn_session_set_host.argtypes = [session, ctypes.c_char_p]
    lib.tarn_session_set_host.restype = None
    lib.tarn_session_tree.argtypes = [session] + [ctypes.c_char_p] * 5
    lib.tarn_session_tree.restype = ctypes.c_int
    lib.tarn_session_row_count.argtypes = [session]
    lib.tarn_session_row_count.restype = ctypes.c_int
    lib.tarn_session_col_count.argtypes = [session]
    lib.tarn_session_col_count.restype = ctypes.c_int
    lib.tarn_session_col_name.argtypes = [session, ctypes.c_int]
    lib.tarn_session_col_name.restype = ctypes.c_char_p
    lib.tarn_session_cell.argtypes = [session, ctypes.c_int, ctypes.c_int]
    lib.tarn_session_cell.restype = ctypes.c_char_p
    lib.tarn_session_last_error.argtypes = [session]
    lib.tarn_session_last_error.restype = ctypes.c_char_p
    return lib


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    lib = load(argv[2] if len(argv) == 3 else "libtarn-client.so.1")
    # A session of its own: other threads of the program may hold theirs.
    s = lib.tarn_session_new()
    if not s:
        print("out of memory", file=sys.stderr)
        return 1
    lib.tarn_session_set_host(s, argv[1].encode())
    try:
        if lib.tarn_session_tree(s, b"local", b"tables", b"shop", None, None) != 0:
            print("tree failed:", lib.tarn_session_last_error(s).decode(), file=sys.stderr)
            return 1
        # ctypes copies each returned text into a Python bytes object at
        # once, so the session's shared cell buffer is never read twice.
        count = lib.tarn_session_col_count(s)
        names = [lib.tarn_session_col_name(s, c).decode() for c in range(count)]
        col = names.index("name") if "name" in names else 0
        for row in range(lib.tarn_session_row_count(s)):
            print(lib.tarn_session_cell(s, row, col).decode())
        return 0
    finally:
        lib.tarn_session_free(s)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
