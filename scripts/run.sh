#!/usr/bin/env bash
# Sets up, builds and runs tarn.
#   scripts/run.sh ARGS...   runs build/cli/tarn ARGS...
#   scripts/run.sh           a short session against a loopback demo service
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarn tarn_demo_service >/dev/null

if [ "$#" -gt 0 ]; then
  exec ./build/cli/tarn "$@"
fi

out=$(mktemp)
./build/tests/tarn_demo_service >"$out" &
pid=$!
trap 'kill "$pid" 2>/dev/null || true; rm -f "$out"' EXIT
for _ in $(seq 50); do
  [ -s "$out" ] && break
  sleep 0.1
done
TARN_HOST=$(head -n 1 "$out")
export TARN_HOST
echo "demo service at $TARN_HOST (TARN_HOST)"

show() {
  echo
  printf '$ tarn'
  printf ' %q' "$@"
  echo
  ./build/cli/tarn "$@" || echo "(exit status $?)"
}
show ping
show connections
show query local shop "select name, type, rows from objects"
show activity local
show kill local abc
show admin local jobs
