#!/usr/bin/env python3
"""Lists the tables of the demo service's `shop` database through the
tarn Python package (python/ of the source tree, or python3-tarn).

    python3 list_tables.py BASE_URL [LIBRARY]

LIBRARY is the path of libtarn-client.so.1; without it the package looks
in TARN_CLIENT_LIBRARY and then the system's library search.
"""
import os
import sys


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    if len(argv) == 3:
        os.environ["TARN_CLIENT_LIBRARY"] = argv[2]
    import tarn

    try:
        with tarn.connect(argv[1], server="local", db="shop") as conn:
            reply = conn.tree("tables")
    except tarn.Error as e:
        print(f"tree failed: {e} (code {e.code}, HTTP {e.http_status})", file=sys.stderr)
        return 1
    col = reply.columns.index("name") if "name" in reply.columns else 0
    for row in reply.rows:
        print(row[col])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
