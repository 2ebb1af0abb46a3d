#!/usr/bin/env bash
# Runs the unit, integration and command-line suites under valgrind's
# memcheck and fails on any memory error or any byte definitely or
# indirectly lost, in the suites and in every tarn process the command-line
# suite starts.
#
#   bash scripts/memcheck.sh [BUILD]    (a native build holding the suites; build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
fail() {
  echo "memcheck: $*" >&2
  exit 1
}
command -v valgrind >/dev/null || fail "valgrind is missing; run scripts/setup.sh --test"
for suite in tarn_unit_tests tarn_transport_tests tarn_hostile_tests tarn_cli_tests; do
  [ -x "$build/tests/$suite" ] || fail "no $build/tests/$suite; build first"
done

logs="$build/memcheck"
rm -rf "$logs"
mkdir -p "$logs"
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full
  --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect
  --num-callers=30)

run() {
  local name=$1
  shift
  printf '\n== memcheck: %s\n' "$name"
  if ! "${memcheck[@]}" --log-file="$logs/$name.%p.log" "$@" >"$logs/$name.out" 2>&1; then
    tail -n 40 "$logs/$name.out" >&2
    grep -h -A 30 -E 'ERROR SUMMARY: [1-9]|definitely lost: [1-9]|indirectly lost: [1-9]' \
      "$logs"/*.log >&2 || true
    fail "$name failed under memcheck (logs in $logs)"
  fi
  grep -h '^\[  PASSED  \]' "$logs/$name.out" || fail "$name ran no tests"
}

run unit "$build/tests/tarn_unit_tests"
run transport "$build/tests/tarn_transport_tests"
# The 200 MB reply takes minutes under memcheck and reaches no code the
# other cases miss; it runs natively and under ASan instead.
run hostile "$build/tests/tarn_hostile_tests" --gtest_filter='-*reply_of_200_MB'

# The program itself, started by the suite through a launcher: a memory
# error or leak in it makes that run exit 99, which fails its test.
launcher="$logs/tarn-under-memcheck"
{
  echo '#!/bin/sh'
  printf 'exec'
  printf ' %q' "${memcheck[@]}" "--log-file=$PWD/$logs/tarn.%p.log"
  echo ' "$@"'
} >"$launcher"
chmod +x "$launcher"
TARN_CLI_LAUNCHER="$PWD/$launcher" run cli "$build/tests/tarn_cli_tests"

# Totals over every process: the suites and each tarn run.
awk '
  /ERROR SUMMARY:/ { errors += $4; processes++ }
  /definitely lost:/ { gsub(",", "", $4); definite += $4 }
  /indirectly lost:/ { gsub(",", "", $4); indirect += $4 }
  END {
    printf "\nmemcheck: %d processes, %d errors, %d bytes definitely lost, %d bytes indirectly lost\n",
      processes, errors, definite, indirect
    exit (errors + definite + indirect > 0)
  }' "$logs"/*.log || fail "errors or leaks found (logs in $logs)"
