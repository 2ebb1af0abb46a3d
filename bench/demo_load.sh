#!/usr/bin/env bash
# Load on the demo service over loopback (bench/demo_load.cpp), on a fresh
# data folder each time:
#   1. 16 and 64 parallel clients, each request on its own connection
#      (8,000 requests each): requests per second, p50 and p99;
#   2. 60 calls reusing one kept-alive connection, pings and the same query:
#      the mean (target for pings: under 1 ms).
# With a commit as argument, the service as it was at that commit is built
# from its demo/ folder (g++ -O2, cpp-httplib) and measured first.
#
#   bash bench/demo_load.sh [BEFORE_COMMIT]
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD:-build-rel}
tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ] && kill "$pid" 2>/dev/null; then wait "$pid" || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tarn-demo-service tarn_demo_load >"$tmp/build.log" 2>&1 || {
  cat "$tmp/build.log" >&2
  exit 1
}
load=$build/bench/tarn_demo_load

# measure NAME SERVICE: the three figures for one service binary.
measure() {
  local name=$1 service=$2 url status=0
  rm -rf "$tmp/data"
  "$service" --listen 127.0.0.1:0 --data "$tmp/data" >"$tmp/url" 2>"$tmp/$name.log" &
  pid=$!
  for _ in $(seq 100); do
    [ -s "$tmp/url" ] && break
    sleep 0.1
  done
  url=$(head -n 1 "$tmp/url")
  echo "== $name ($service)"
  "$load" "$url" load 16 500 || status=1
  "$load" "$url" load 64 125 || status=1
  "$load" "$url" keepalive 60 || status=1
  kill "$pid"
  wait "$pid" || true
  pid=
  return $status
}

if [ "$#" -gt 0 ]; then
  src=$tmp/before-src
  mkdir -p "$src"
  git archive "$1" demo | tar -x -C "$src"
  # shellcheck disable=SC2046
  g++ -std=c++20 -O2 -w -o "$tmp/tarn-demo-service-before" "$src"/demo/*.cpp \
    $(pkg-config --cflags --libs cpp-httplib) -lsqlite3 -lyyjson -pthread
  measure "before ($1)" "$tmp/tarn-demo-service-before" || true
fi
measure after "$build/demo/tarn-demo-service"
