#!/usr/bin/env python3
"""Runs a query that would count for minutes and cancels it from another
thread after SECONDS.

    python3 cancel_query.py BASE_URL [SECONDS]
"""
import sys
import threading
import time

import tarn

LONG = "with recursive n(i) as (select 1 union all select i + 1 from n) select count(*) from n"


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    delay = float(argv[2]) if len(argv) == 3 else 1.0
    with tarn.connect(argv[1], server="local", db="shop") as conn:
        cur = conn.cursor()
        timer = threading.Timer(delay, cur.cancel)
        timer.start()
        started = time.monotonic()
        try:
            cur.execute(LONG)
        except tarn.OperationalError as e:
            print(f"cancelled after {time.monotonic() - started:.2f} s: {e}")
            return 0
        finally:
            timer.cancel()
        print("the query ended by itself:", cur.fetchone(), file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
