#!/usr/bin/env bash
# Times `tarn ping` against `curl` fetching the same /ping from the same
# loopback service, in one hyperfine run, and prints the ratio of the mean
# times. Target: tarn no more than 10% slower than curl (ratio <= 1.10);
# the exit status is 1 when the ratio is over it.
#
# usage: bench/ping_vs_curl.sh [TARN [PING_SERVER]]
#   TARN         the program to time (default $TARN, else build/cli/tarn)
#   PING_SERVER  the loopback service (default: bench/tarn_ping_server in
#                the same build directory as TARN)
#   RUNS         runs per command (default 300)
set -euo pipefail

tarn=${1:-${TARN:-build/cli/tarn}}
server=${2:-$(dirname "$tarn")/../bench/tarn_ping_server}
runs=${RUNS:-300}
target=1.10

for prog in "$tarn" "$server"; do
  if [ ! -x "$prog" ]; then
    echo "ping_vs_curl: $prog is not built" >&2
    exit 2
  fi
done
for tool in hyperfine curl; do
  command -v "$tool" >/dev/null || { echo "ping_vs_curl: $tool is missing" >&2; exit 2; }
done

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

"$server" >"$tmp/port" &
pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/port" ] && break
  sleep 0.05
done
port=$(head -n 1 "$tmp/port")
url=http://127.0.0.1:$port

# Both must succeed before their times mean anything. Neither may go
# through a proxy.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY
"$tarn" --host "$url" ping >/dev/null
curl -sf "$url/ping" >/dev/null

# No shell between hyperfine and the programs: only they are timed.
hyperfine -N --warmup 20 --runs "$runs" --export-csv "$tmp/times.csv" \
  -n tarn "$tarn --host $url ping" \
  -n curl "curl -s $url/ping"

awk -F, -v target="$target" '
  NR > 1 { mean[$1] = $2 }
  END {
    ratio = mean["tarn"] / mean["curl"]
    printf "tarn/curl mean time: %.3f (target <= %.2f): %s\n", ratio, target,
           ratio <= target ? "met" : "missed"
    exit ratio <= target ? 0 : 1
  }' "$tmp/times.csv"
