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
    lib.tarn_client_init.restype = ctypes.c_int32
    lib.tarn_client_set_host.argtypes = [ctypes.c_char_p]
    lib.tarn_client_set_host.restype = None
    lib.tarn_client_tree.argtypes = [ctypes.c_char_p] * 5
    lib.tarn_client_tree.restype = ctypes.c_int
    lib.tarn_client_row_count.restype = ctypes.c_int
    lib.tarn_client_col_count.restype = ctypes.c_int
    lib.tarn_client_col_name.argtypes = [ctypes.c_int]
    lib.tarn_client_col_name.restype = ctypes.c_char_p
    lib.tarn_client_cell.argtypes = [ctypes.c_int, ctypes.c_int]
    lib.tarn_client_cell.restype = ctypes.c_char_p
    lib.tarn_client_last_error.restype = ctypes.c_char_p
    lib.tarn_client_cleanup.restype = None
    return lib


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    lib = load(argv[2] if len(argv) == 3 else "libtarn-client.so.1")
    lib.tarn_client_init()
    lib.tarn_client_set_host(argv[1].encode())
    try:
        if lib.tarn_client_tree(b"local", b"tables", b"shop", None, None) != 0:
            print("tree failed:", lib.tarn_client_last_error().decode(), file=sys.stderr)
            return 1
        # ctypes copies each returned text into a Python bytes object at
        # once, so the library's shared cell buffer is never read twice.
        names = [lib.tarn_client_col_name(c).decode() for c in range(lib.tarn_client_col_count())]
        col = names.index("name") if "name" in names else 0
        for row in range(lib.tarn_client_row_count()):
            print(lib.tarn_client_cell(row, col).decode())
        return 0
    finally:
        lib.tarn_client_cleanup()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
