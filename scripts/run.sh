#!/usr/bin/env bash
# Sets up, builds and runs tarn.
#   scripts/run.sh ARGS...   runs build/cli/tarn ARGS...
#   scripts/run.sh           a short tutorial session against the demo service
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
# A first configure leaves out the tests and benchmarks, whose tools only
# `setup.sh --test` installs; a build/ that has them keeps them.
options=()
[ -f build/CMakeCache.txt ] || options=(-DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
# Everything `cmake --install build` installs, so the build serves the examples too.
cmake --build build -j"$(nproc)" \
  --target tarn tarn-demo-service tarn-client tarn-client-static >/dev/null

if [ "$#" -gt 0 ]; then
  exec ./build/cli/tarn "$@"
fi

# A fresh data folder and a free port, so nothing on this machine is touched.
work=$(mktemp -d)
./build/demo/tarn-demo-service --listen 127.0.0.1:0 --data "$work/data" \
  >"$work/url" 2>"$work/service.log" &
pid=$!
stop_service() {
  if kill "$pid" 2>/dev/null; then wait "$pid" || true; fi
  rm -rf "$work"
}
trap stop_service EXIT
for _ in $(seq 100); do
  [ -s "$work/url" ] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -s "$work/url" ]; then
  echo "run: the demo service did not start:" >&2
  cat "$work/service.log" >&2
  exit 1
fi
TARN_HOST=$(head -n 1 "$work/url")
export TARN_HOST
echo "demo service at $TARN_HOST (exported as TARN_HOST), data in a temporary folder"

tarn() { ./build/cli/tarn "$@"; }
# The command line as one would type it: words with blanks or quotes in
# single quotes.
say() {
  local line='$ tarn' w
  for w in "$@"; do
    if [[ "$w" =~ ^[A-Za-z0-9_./:=@%+-]+$ ]]; then
      line+=" $w"
    else
      line+=" '${w//\'/\'\\\'\'}'"
    fi
  done
  printf '\n%s\n' "$line"
}
# Prints the command line, then runs it; a failure is shown, not fatal.
show() {
  say "$@"
  tarn "$@" || echo "(exit status $?)"
}

show ping
show connections
show tree local tables shop
show query local shop "select status, count(*) as orders from orders group by status order by orders desc"
show query local shop "select name, price from products order by price desc limit 3"

# A query that would count for minutes, stopped by its token from a second tarn.
long="with recursive n(i) as (select 1 union all select i + 1 from n where i < 5000000000) select count(*) from n"
say query local shop "$long" 0 600 demo-long
echo '(started in the background)'
tarn query local shop "$long" 0 600 demo-long >"$work/long.out" 2>&1 &
long_pid=$!
for _ in $(seq 100); do
  tarn activity local 2>/dev/null | grep -q demo-long && break
  sleep 0.1
done
show activity local
show cancel local demo-long
long_status=0
wait "$long_pid" || long_status=$?
echo
echo "# the first tarn ended, exit status $long_status:"
cat "$work/long.out"

show editgrid-load local shop main products 3
show editgrid-apply '{"server":"local","table":"products","updates":[{"rowid":1,"values":{"price":9.99}}]}'
show query local shop "select id, name, price from products where id = 1"

show admin local jobs
show job local 1 start
for _ in $(seq 50); do
  tarn admin local history 1 2>/dev/null | grep -q running || break
  sleep 0.1
done
show admin local history "" 1

echo
echo "stopping the demo service"
