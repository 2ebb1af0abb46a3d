#!/usr/bin/env bash
# Exports: `tarn --format csv query ... > /dev/null` over loopback HTTP
# (bench/bench_server.cpp) for a reply of 1,000,000 rows x 8 (about 98 MB)
# and one of 10,000,000 rows x 8 (about 1 GB): median time (hyperfine)
# against the floor measured in the same run (curl downloading the same
# reply to /dev/null plus one yyjson parse of the same bytes into a pool
# touched beforehand), and the tarn process's peak resident set (GNU time).
# Before that, the output check: the program under test and the one built
# from BASE_REF print the same csv, tsv, json and table (stdout a file) for
# a reply holding every kind of cell, and the program under test prints the
# numbers of a second reply exactly as they were sent.
# Prints each figure beside its target; exits 1 when one is missed, 2 when
# it cannot run.
#
#   bash bench/export_bench.sh [BUILD_DIR]   (default build-rel; configured
#                                             as Release when it is missing)
#
# BASE_REF: the commit whose formatter is the reference (b6356f9);
# BASE_TARN: that program already built (skips building BASE_REF);
# RUNS: hyperfine runs at 98 MB (10); BIG_RUNS: at 1 GB (3);
# SIZES: row counts to time (1000000 10000000).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-rel}")
cd "$root"
base_ref=${BASE_REF:-b6356f9}
runs=${RUNS:-10}
big_runs=${BIG_RUNS:-3}
sizes=${SIZES:-1000000 10000000}
peak_target_mb=64
time_target=1.25

for tool in hyperfine curl /usr/bin/time awk cmp git cmake; do
  command -v "$tool" >/dev/null || {
    echo "export_bench: $tool is missing; run scripts/setup.sh --test" >&2
    exit 2
  }
done

echo "== build ($build)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j2 --target tarn tarn_bench_server tarn_parse_bench >/dev/null
tarn=$build/cli/tarn
server=$build/bench/tarn_bench_server
parse=$build/bench/tarn_parse_bench

tmp=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  git worktree remove --force "$tmp/base" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

unset http_proxy https_proxy HTTPS_PROXY all_proxy ALL_PROXY

# serve NAME ARGS...: starts the bench server; sets url to its large reply.
serve() {
  local name=$1
  shift
  "$server" "$@" >"$tmp/$name.ports" &
  pids+=("$!")
  for _ in $(seq 1200); do
    [ -s "$tmp/$name.ports" ] && break
    sleep 0.05
  done
  local big
  read -r _ _ big <"$tmp/$name.ports" || true
  if [ -z "${big:-}" ]; then
    echo "export_bench: the loopback service ($name) did not start" >&2
    exit 2
  fi
  url=http://127.0.0.1:$big
}

# stop_last: ends the server started last, so that its memory goes.
stop_last() {
  local last=$((${#pids[@]} - 1))
  kill "${pids[$last]}" 2>/dev/null || true
  wait "${pids[$last]}" 2>/dev/null || true
  unset "pids[$last]"
}

missed=0
# verdict NAME VALUE LIMIT: VALUE at most LIMIT.
verdict() {
  local ok
  ok=$(awk -v v="$2" -v l="$3" 'BEGIN { print (v <= l) ? "met" : "MISSED" }')
  printf '%-50s %9.3f  (target <= %s): %s\n' "$1" "$2" "$3" "$ok" | tee -a "$tmp/summary"
  [ "$ok" = met ] || missed=1
}
# check NAME OK [DETAIL]: a pass/fail line for the summary.
check() {
  local word=met
  [ "$2" = 1 ] || { word=MISSED; missed=1; }
  printf '%-50s %s%s\n' "$1" "$word" "${3:+ ($3)}" | tee -a "$tmp/summary"
}

median_of() { awk -F, -v n="$2" '$1 == n { print $4 }' "$1"; }

echo
echo "== machine"
echo "$(nproc) cores, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)"
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== output against $base_ref"
# Every kind of cell. Numbers are ones both versions print alike; nested
# values are compact and unescaped, since they are passed on as sent.
cat >"$tmp/cells.json" <<'JSON'
{"columns":["id","text","flag","nested","note","say \"hi\", twice"],"rows":[
[1,"plain",true,[1,"two",{"k":"v"}],"Zürich",null],
[-7,"comma, here",false,{"a":[1,2],"b":null},"日本語","x"],
[2.5,"say \"hi\"",true,[],"tab\there","y"],
[0,"line\r\nbreak\nand\rmore",false,{},"back\\slash",""],
[1,"\u0041\u00e9\u65e5 and\u002c comma",null,[true,false,null],"\u0074ab","z"],
{"id":-7,"text":"object row","flag":true,"nested":{"deep":{"x":[0]}},"note":"all keys","say \"hi\", twice":2.5},
{"id":0,"text":"no note","flag":false,"nested":[],"say \"hi\", twice":null},
[1,"short row"],
[],
[0,"a\tb\\c\"d,e\r\nf ü",null,"[not nested]","{\"not\":1}",true]
]}
JSON
# Numbers in forms a double does not keep; the csv must carry them as sent.
cat >"$tmp/numbers.json" <<'JSON'
{"columns":["form","n"],"rows":[["exponent",1E2],["trailing zero",43.0],["wide",123456789012345678901234567890]]}
JSON

base_tarn=${BASE_TARN:-}
if [ -z "$base_tarn" ]; then
  echo "building tarn at $base_ref"
  if ! { git worktree add -q --detach "$tmp/base" "$base_ref" &&
    cmake -S "$tmp/base" -B "$tmp/base/build" -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF &&
    cmake --build "$tmp/base/build" -j2 --target tarn; } >"$tmp/base-build.log" 2>&1; then
    tail -n 20 "$tmp/base-build.log" >&2
    echo "export_bench: could not build tarn at $base_ref" >&2
    exit 2
  fi
  base_tarn=$tmp/base/build/cli/tarn
fi

# export PROG URL FORMAT OUT: one export to a file; its status in OUT.rc.
export_to() {
  local rc=0
  "$1" --host "$2" --format "$3" query bench db select >"$4" 2>"$4.err" || rc=$?
  echo "$rc" >"$4.rc"
}

serve cells --file "$tmp/cells.json"
for f in csv tsv json table; do
  export_to "$base_tarn" "$url" "$f" "$tmp/base.$f"
  export_to "$tarn" "$url" "$f" "$tmp/new.$f"
  detail=""
  same=1
  if [ "$(cat "$tmp/base.$f.rc")" != 0 ] || [ "$(cat "$tmp/new.$f.rc")" != 0 ]; then
    same=0
    detail="exit $(cat "$tmp/base.$f.rc") before, $(cat "$tmp/new.$f.rc") now: $(head -c 200 "$tmp/new.$f.err" "$tmp/base.$f.err" | tr '\n' ' ')"
  elif [ ! -s "$tmp/base.$f" ]; then
    same=0
    detail="$base_ref printed nothing"
  elif ! cmp -s "$tmp/base.$f" "$tmp/new.$f"; then
    same=0
    detail=$(cmp "$tmp/base.$f" "$tmp/new.$f" 2>&1 | sed 's/.*differ: /differs at /' | head -n 1 || true)
  fi
  check "every cell kind, --format $f, same as before" "$same" "$detail"
  if [ "$same" = 0 ] && [ -s "$tmp/new.$f" ]; then
    diff "$tmp/base.$f" "$tmp/new.$f" | head -n 8 | cat -v | sed 's/^/    /' || true
  fi
done
# Ten rows: a reply not read whole would still compare equal when both
# versions lost the same rows.
rows_shown=$(tail -n 1 "$tmp/new.table")
check "every cell kind, all rows printed" "$([ "$rows_shown" = "(10 rows)" ] && echo 1 || echo 0)" \
  "table ends with: $rows_shown"
stop_last

serve numbers --file "$tmp/numbers.json"
export_to "$tarn" "$url" csv "$tmp/new.num.csv"
export_to "$base_tarn" "$url" csv "$tmp/base.num.csv"
for row in "exponent,1E2" "trailing zero,43.0" "wide,123456789012345678901234567890"; do
  if grep -qxF "$row"$'\r' "$tmp/new.num.csv"; then
    check "number as sent: ${row#*,}" 1
  else
    printed=$(grep -F "${row%%,*}," "$tmp/new.num.csv" | tr -d '\r' || true)
    check "number as sent: ${row#*,}" 0 "printed: ${printed:-nothing, exit $(cat "$tmp/new.num.csv.rc")}"
  fi
done
if cmp -s "$tmp/base.num.csv" "$tmp/new.num.csv"; then
  echo "(numbers reply: csv the same as $base_ref's)"
else
  echo "(numbers reply: csv differs from $base_ref's, which printed: $(tail -n +2 "$tmp/base.num.csv" | tr -d '\r' | paste -sd ';' -))"
fi
stop_last

# time_export ROWS RUNS WARMUP: times and sizes one export against its floor.
time_export() {
  local rows=$1 n=$2 warmup=$3
  serve "big$rows" "$rows"
  local size mb label query lines cmd
  size=$(curl -s "$url/query" -o /dev/null -w '%{size_download}')
  mb=$(awk -v s="$size" 'BEGIN { printf "%.0f", s / 1e6 }')
  label="$mb MB"
  echo
  echo "== export of $rows rows x 8 ($size bytes)"
  cmd=("$tarn" --host "$url" --format csv query bench db select)
  query="${cmd[*]}"
  # A fast failure would meet the time target: the rows must all arrive.
  lines=$("${cmd[@]}" | wc -l || true)
  if [ "$lines" -ne $((rows + 1)) ]; then
    check "$label: csv holds every row" 0 "$lines lines, not $((rows + 1))"
    stop_last
    return
  fi
  if ! hyperfine -N --style none --warmup "$warmup" --runs "$n" --output null \
    --export-csv "$tmp/t$rows.csv" -n tarn "$query" -n curl "curl -s $url/query -o /dev/null" >/dev/null ||
    ! /usr/bin/time -v "${cmd[@]}" 2>"$tmp/time$rows.txt" >/dev/null; then
    check "$label: exports ran" 0 "a run failed"
    stop_last
    return
  fi
  stop_last
  local parse_ms parse_bytes
  read -r parse_ms parse_bytes < <("$parse" --touched "$rows")
  if [ "$parse_bytes" != "$size" ]; then
    check "$label: floor parsed the served bytes" 0 "$parse_bytes bytes parsed, $size served"
    return
  fi
  local tq cu floor peak_kb peak_mb
  tq=$(awk -v s="$(median_of "$tmp/t$rows.csv" tarn)" 'BEGIN { print s * 1000 }')
  cu=$(awk -v s="$(median_of "$tmp/t$rows.csv" curl)" 'BEGIN { print s * 1000 }')
  floor=$(awk -v a="$cu" -v b="$parse_ms" 'BEGIN { print a + b }')
  peak_kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$tmp/time$rows.txt")
  peak_mb=$(awk -v k="$peak_kb" 'BEGIN { print k * 1024 / 1e6 }')
  printf 'medians of %d: tarn --format csv %.1f ms; floor %.1f ms (curl to /dev/null %.1f + yyjson parse, pool touched beforehand, %.1f)\n' \
    "$n" "$tq" "$floor" "$cu" "$parse_ms"
  printf 'peak RSS of tarn: %.1f MB (reply %.1f MB)\n' "$peak_mb" "$(awk -v s="$size" 'BEGIN { print s / 1e6 }')"
  verdict "csv $label: time / floor" "$(awk -v a="$tq" -v b="$floor" 'BEGIN { print a / b }')" "$time_target"
  verdict "csv $label: peak RSS, MB (10^6 bytes)" "$peak_mb" "$peak_target_mb"
}

for rows in $sizes; do
  if [ "$rows" -ge 5000000 ]; then
    time_export "$rows" "$big_runs" 0
  else
    time_export "$rows" "$runs" 1
  fi
done

echo
echo "== summary"
cat "$tmp/summary"
exit "$missed"
