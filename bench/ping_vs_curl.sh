#!/usr/bin/env bash
# Times `tarn ping` against `curl` fetching the same /ping from the same
# loopback service, in alternating hyperfine rounds, and prints the ratio of
# the mean times. Target: tarn no more than 10% slower than curl (ratio <= 1.10);
# the exit status is 1 when the ratio is over it.
#
# usage: bench/ping_vs_curl.sh [TARN [PING_SERVER]]
#   TARN         the program to time (default $TARN, else build/cli/tarn)
#   PING_SERVER  the loopback service (default: bench/tarn_ping_server in
#                the same build directory as TARN)
#   ROUNDS       rounds of the comparison (default 10)
#   RUNS         runs per command and round (default 30)
set -euo pipefail

tarn=${1:-${TARN:-build/cli/tarn}}
server=${2:-$(dirname "$tarn")/../bench/tarn_ping_server}
rounds=${ROUNDS:-10}
runs=${RUNS:-30}
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
if [ -z "$port" ]; then
  echo "ping_vs_curl: $server did not start" >&2
  exit 2
fi
url=http://127.0.0.1:$port

# Both must succeed before their times mean anything. Neither may go
# through a proxy.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY
"$tarn" --host "$url" ping >/dev/null
curl -sf "$url/ping" >/dev/null

# No shell between hyperfine and the programs: only they are timed. Short
# alternating rounds spread a burst of load on a shared machine over both
# commands instead of letting it land on one.
for round in $(seq "$rounds"); do
  hyperfine -N --style none --warmup 5 --runs "$runs" --export-csv "$tmp/round$round.csv" \
    -n tarn "$tarn --host $url ping" \
    -n curl "curl -s $url/ping" >/dev/null 2>>"$tmp/hyperfine.log" || {
    cat "$tmp/hyperfine.log" >&2
    exit 2
  }
done

# CSV columns: command, mean, stddev, median, user, system, min, max.
cat "$tmp"/round*.csv | awk -F, -v target="$target" '
  $1 == "tarn" || $1 == "curl" { sum[$1] += $2; cpu[$1] += $5 + $6; n[$1]++ }
  END {
    tarn = sum["tarn"] / n["tarn"]
    curl = sum["curl"] / n["curl"]
    ratio = tarn / curl
    printf "mean over %d rounds: tarn %.2f ms, curl %.2f ms\n", n["tarn"], tarn * 1000, curl * 1000
    printf "cpu time (user+system) tarn/curl: %.3f\n", cpu["tarn"] / cpu["curl"]
    printf "tarn/curl mean time: %.3f (target <= %.2f): %s\n", ratio, target,
           ratio <= target ? "met" : "missed"
    exit ratio <= target ? 0 : 1
  }'
