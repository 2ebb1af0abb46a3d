#!/usr/bin/env bash
# Peak memory and time of `tarn --format csv` against the default output
# for one reply holding a ROWS x 8 grid (default 1,000,000 rows), both
# written to /dev/null. The formats stream cell by cell, so csv's peak
# resident set must stay within 10% of the default output's; the exit
# status is 1 when it does not.
#
# usage: bench/format_memory.sh [TARN [GRID_SERVER]]
#   TARN         the program (default $TARN, else build/cli/tarn)
#   GRID_SERVER  the loopback service (default: bench/tarn_grid_server in
#                the same build directory as TARN)
#   ROWS         rows of the grid (default 1000000)
#   RUNS         runs of each output, the best kept (default 3)
set -euo pipefail

tarn=${1:-${TARN:-build/cli/tarn}}
server=${2:-$(dirname "$tarn")/../bench/tarn_grid_server}
rows=${ROWS:-1000000}
runs=${RUNS:-3}
target=1.10

for prog in "$tarn" "$server" /usr/bin/time; do
  if [ ! -x "$prog" ]; then
    echo "format_memory: $prog is not built or installed" >&2
    exit 2
  fi
done

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

"$server" "$rows" >"$tmp/port" &
pid=$!
for _ in $(seq 600); do
  [ -s "$tmp/port" ] && break
  sleep 0.05
done
port=$(head -n 1 "$tmp/port")
if [ -z "$port" ]; then
  echo "format_memory: $server did not start" >&2
  exit 2
fi
url=http://127.0.0.1:$port
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY

# The grid must arrive whole in both outputs before their figures mean anything.
lines=$("$tarn" --host "$url" --format csv ping | wc -l)
if [ "$lines" -ne $((rows + 1)) ]; then
  echo "format_memory: csv printed $lines lines, not $((rows + 1))" >&2
  exit 2
fi

# Prints "KIB SECONDS" for the best of RUNS runs (least memory, least time).
measure() {
  local best_kib="" best_s=""
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%M %e' -o "$tmp/time" "$tarn" --host "$url" "$@" ping >/dev/null
    read -r kib s <"$tmp/time"
    if [ -z "$best_kib" ] || [ "$kib" -lt "$best_kib" ]; then best_kib=$kib; fi
    if [ -z "$best_s" ] || awk -v a="$s" -v b="$best_s" 'BEGIN { exit !(a < b) }'; then
      best_s=$s
    fi
  done
  echo "$best_kib $best_s"
}

read -r raw_kib raw_s < <(measure)
read -r csv_kib csv_s < <(measure --format csv)
awk -v rows="$rows" -v rk="$raw_kib" -v rs="$raw_s" -v ck="$csv_kib" -v cs="$csv_s" \
    -v target="$target" 'BEGIN {
  ratio = ck / rk
  printf "grid: %d rows x 8 cols\n", rows
  printf "default output: peak RSS %.1f MiB, %.2f s\n", rk / 1024, rs
  printf "--format csv:   peak RSS %.1f MiB, %.2f s\n", ck / 1024, cs
  printf "csv/default peak RSS: %.3f (target <= %.2f): %s\n", ratio, target,
         ratio <= target ? "met" : "missed"
  exit ratio <= target ? 0 : 1
}'
