#!/usr/bin/env bash
# Builds the Release tree (build-rel) and runs every benchmark side by side
# against the same loopback services (bench/bench_server.cpp):
#   1. `tarn ping` against `curl -s` on the same URL (hyperfine, alternating
#      rounds);
#   2. library call sequences with keep-alive (1000 pings over HTTP, 300
#      over HTTPS) against one curl process fetching the same URLs on one
#      connection;
#   3. the large reply (1,000,000 rows x 8 columns, about 98 MB) through
#      `tarn query > /dev/null` against the floor (curl downloading it to
#      /dev/null plus one yyjson parse of the same bytes) and against
#      `curl -s | jq` printing 20 rows, with peak memory;
#   4. the grid read at 10k/100k/1M rows and wide rows at 5k/40k columns;
#   5. the streaming grid reader fed the large reply in 64 KiB chunks
#      against one yyjson parse of the same bytes;
#   6. sessions: operations per second for 1, 2, 4 and 8 sessions on as
#      many threads, and the flat interface's cost per call against the
#      release before sessions (BASE_REF, built in a scratch worktree);
#   7. the shell's Tab completion of a table name among 10,000 tables;
#   8. exports (bench/export_bench.sh): `tarn --format csv query` of the
#      98 MB and of a 1 GB reply against the floor, with peak memory, and
#      the output of every format against EXPORT_BASE_REF's.
# Prints each figure beside its target; exits 1 when a target is missed.
#
#   bash bench/run.sh
#
# ROUNDS: rounds of the ping comparison (5); RUNS: runs per command (20);
# BASE_REF: the commit to compare the flat calls with (1.0.0);
# EXPORT_BASE_REF: the commit whose output the exports must match (b6356f9).
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-rel
rounds=${ROUNDS:-5}
runs=${RUNS:-20}
base_ref=${BASE_REF:-6a07dfd}

for tool in hyperfine curl jq /usr/bin/time awk; do
  command -v "$tool" >/dev/null || {
    echo "bench: $tool is missing; run scripts/setup.sh --test" >&2
    exit 2
  }
done

echo "== build ($build, Release)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target tarn tarn_grid_bench tarn_calls_bench tarn_parse_bench tarn_stream_bench \
  tarn_bench_server tarn_grid_server tarn_sessions_bench tarn_complete_bench >/dev/null
tarn=$build/cli/tarn
calls=$build/bench/tarn_calls_bench

tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi
  git worktree remove --force "$tmp/base" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# Neither tarn nor curl may go through a proxy.
unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY

"$build/bench/tarn_bench_server" >"$tmp/ports" &
pid=$!
for _ in $(seq 600); do
  [ -s "$tmp/ports" ] && break
  sleep 0.05
done
read -r http_port https_port big_port <"$tmp/ports" || true
if [ -z "${big_port:-}" ]; then
  echo "bench: the loopback service did not start" >&2
  exit 2
fi
http=http://127.0.0.1:$http_port
https=https://127.0.0.1:$https_port
big=http://127.0.0.1:$big_port

missed=0
# verdict NAME VALUE LIMIT [min]: VALUE at most LIMIT (at least, with min).
verdict() {
  local ok
  if [ "${4:-max}" = min ]; then
    ok=$(awk -v v="$2" -v l="$3" 'BEGIN { print (v >= l) ? "met" : "MISSED" }')
  else
    ok=$(awk -v v="$2" -v l="$3" 'BEGIN { print (v <= l) ? "met" : "MISSED" }')
  fi
  printf '%-46s %8.3f  (target %s %s): %s\n' "$1" "$2" "$([ "${4:-max}" = min ] && echo '>=' || echo '<=')" "$3" "$ok" | tee -a "$tmp/summary"
  [ "$ok" = met ] || missed=1
}

# mean_of / median_of CSV NAME: a time of one command of a hyperfine CSV, in s.
mean_of() { awk -F, -v n="$2" '$1 == n { print $2 }' "$1"; }
median_of() { awk -F, -v n="$2" '$1 == n { print $4 }' "$1"; }

echo
echo "== machine"
echo "$(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== 1. tarn ping vs curl -s ($rounds rounds of $runs runs each)"
"$tarn" --host "$http" ping >/dev/null
curl -sf "$http/ping" >/dev/null
for round in $(seq "$rounds"); do
  hyperfine -N --style none --warmup 5 --runs "$runs" --export-csv "$tmp/ping$round.csv" \
    -n tarn "$tarn --host $http ping" -n curl "curl -s $http/ping" >/dev/null
done
read -r tarn_ms curl_ms < <(cat "$tmp"/ping*.csv | awk -F, '
  $1 == "tarn" || $1 == "curl" { s[$1] += $2; n[$1]++ }
  END { printf "%.3f %.3f\n", s["tarn"] / n["tarn"] * 1000, s["curl"] / n["curl"] * 1000 }')
echo "tarn ping ${tarn_ms} ms, curl -s ${curl_ms} ms"
verdict "tarn ping / curl -s" "$(awk -v a="$tarn_ms" -v b="$curl_ms" 'BEGIN { print a / b }')" 1.05

echo
echo "== 2. call sequences: library with keep-alive vs one curl process"
sequence() {  # NAME BASE_URL N
  local name=$1 url=$2 n=$3 cfg=$tmp/$1.curl
  for _ in $(seq "$n"); do printf 'url = "%s/ping"\noutput = "/dev/null"\n' "$url"; done >"$cfg"
  "$calls" "$url" "$n" 1
  hyperfine -N --style none --warmup 2 --runs "$runs" --export-csv "$tmp/$name.csv" \
    -n library "$calls $url $n 1" -n curl "curl -s -k -K $cfg" \
    -n library-no-keepalive "$calls $url $n 0" >/dev/null
  local lib cur off
  lib=$(mean_of "$tmp/$name.csv" library)
  cur=$(mean_of "$tmp/$name.csv" curl)
  off=$(mean_of "$tmp/$name.csv" library-no-keepalive)
  awk -v l="$lib" -v c="$cur" -v o="$off" -v n="$n" -v name="$name" 'BEGIN {
    printf "%s, %d calls: library %.3f ms/call, curl %.3f ms/call, library without keep-alive %.3f ms/call\n",
      name, n, l * 1000 / n, c * 1000 / n, o * 1000 / n }'
  verdict "$name calls, library / curl" "$(awk -v a="$lib" -v b="$cur" 'BEGIN { print a / b }')" 1.3
}
sequence http "$http" 1000
sequence https "$https" 300

echo
echo "== 3. large reply"
size=$(curl -s "$big/query" -o /dev/null -w '%{size_download}')
echo "reply: $size bytes"
query="$tarn --host $big query bench db select"
$query >/dev/null
hyperfine -N --style none --warmup 1 --runs 10 --output null --export-csv "$tmp/big.csv" \
  -n tarn "$query" -n curl "curl -s $big/query -o /dev/null" >/dev/null
hyperfine --style none --runs 3 --export-csv "$tmp/jq.csv" \
  -n jq "curl -s $big/query | jq -c '.rows[:20][]' >/dev/null" >/dev/null
parse_ms=$("$build/bench/tarn_parse_bench")
# Medians throughout: one slow run on a shared machine moves a mean of ten.
tq=$(awk -v s="$(median_of "$tmp/big.csv" tarn)" 'BEGIN { print s * 1000 }')
cu=$(awk -v s="$(median_of "$tmp/big.csv" curl)" 'BEGIN { print s * 1000 }')
jq_ms=$(awk -v s="$(median_of "$tmp/jq.csv" jq)" 'BEGIN { print s * 1000 }')
floor=$(awk -v a="$cu" -v b="$parse_ms" 'BEGIN { print a + b }')
/usr/bin/time -v $query 2>"$tmp/time.txt" >/dev/null
peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$tmp/time.txt")
curl -s "$big/query" | /usr/bin/time -v jq -c '.rows[:20][]' 2>"$tmp/jqtime.txt" >/dev/null
jq_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$tmp/jqtime.txt")
printf 'medians: tarn query %.1f ms; floor %.1f ms (curl to /dev/null %.1f + yyjson parse %.1f); curl | jq %.1f ms\n' \
  "$tq" "$floor" "$cu" "$parse_ms" "$jq_ms"
printf 'peak memory: tarn query %.1f MB, jq %.1f MB, reply %.1f MB\n' \
  "$(awk -v k="$peak_kb" 'BEGIN { print k * 1024 / 1e6 }')" \
  "$(awk -v k="$jq_kb" 'BEGIN { print k * 1024 / 1e6 }')" "$(awk -v s="$size" 'BEGIN { print s / 1e6 }')"
verdict "tarn query / floor" "$(awk -v a="$tq" -v b="$floor" 'BEGIN { print a / b }')" 1.25
verdict "tarn query peak memory / reply size" \
  "$(awk -v k="$peak_kb" -v s="$size" 'BEGIN { print k * 1024 / s }')" 3.45
verdict "curl | jq time / tarn query time" "$(awk -v a="$jq_ms" -v b="$tq" 'BEGIN { print a / b }')" 7 min

echo
echo "== 4. grid reads"
if ! "$build/bench/tarn_grid_bench" | tee "$tmp/grid.txt"; then missed=1; fi

awk '/^ratio/ { print "grid " $0 }' "$tmp/grid.txt" >>"$tmp/summary"

echo
echo "== 5. streaming grid reader"
if ! "$build/bench/tarn_stream_bench" | tee "$tmp/stream.txt"; then missed=1; fi
awk '/^ratio/ { print "stream " $0 }' "$tmp/stream.txt" >>"$tmp/summary"

echo
echo "== 6. sessions"
"$build/bench/tarn_sessions_bench" "$http" 3000 | tee "$tmp/sessions.txt"
verdict "8 sessions / 1 session, ops per second" \
  "$(awk '/^ratio/ { print $3 }' "$tmp/sessions.txt")" 1.7 min
echo "flat calls against $base_ref (building it)"
git worktree add -q --detach "$tmp/base" "$base_ref"
cmake -S "$tmp/base" -B "$tmp/base/build" -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF >/dev/null
cmake --build "$tmp/base/build" -j2 --target tarn_calls_bench >/dev/null
hyperfine -N --style none --warmup 3 --runs "$runs" --export-csv "$tmp/flat.csv" \
  -n now "$calls $http 1000 1" -n base "$tmp/base/build/bench/tarn_calls_bench $http 1000 1" >/dev/null
now=$(median_of "$tmp/flat.csv" now)
was=$(median_of "$tmp/flat.csv" base)
awk -v a="$now" -v b="$was" 'BEGIN { printf "flat ping, 1000 calls with keep-alive: now %.4f ms/call, before %.4f ms/call (medians)\n", a, b }'
verdict "flat call cost now / before" "$(awk -v a="$now" -v b="$was" 'BEGIN { print a / b }')" 1.05

echo
echo "== 7. shell completion over 10,000 tables"
if ! "$build/bench/tarn_complete_bench"; then missed=1; fi

echo
echo "== 8. exports"
if ! BASE_REF=${EXPORT_BASE_REF:-b6356f9} bash bench/export_bench.sh "$build" | tee "$tmp/export.txt"; then
  missed=1
fi
sed -n '/^== summary/,$p' "$tmp/export.txt" | tail -n +2 | sed 's/^/export /' >>"$tmp/summary"

echo
echo "== summary"
cat "$tmp/summary"
exit "$missed"
