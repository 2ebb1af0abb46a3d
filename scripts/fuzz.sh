#!/usr/bin/env bash
# Builds every libFuzzer target (tests/fuzz/fuzz_*.cpp) with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs each for SECONDS
# (60 by default) from its seed corpus in tests/fuzz/corpus/<target>/.
# Fails when a target crashes, leaks or trips a sanitizer; the input that
# did it is left in build-fuzz/artifacts/.
#
#   bash scripts/fuzz.sh            (CI: a minute per target)
#   bash scripts/fuzz.sh 1800       (a longer run, half an hour per target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build-fuzz
fail() {
  echo "fuzz: $*" >&2
  exit 1
}
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || fail "SECONDS must be a positive whole number, not '$seconds'"

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_FUZZ=ON \
  -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF >/dev/null
targets=(tests/fuzz/fuzz_*.cpp)
[ -e "${targets[0]}" ] || fail "no targets in tests/fuzz"
names=()
for source in "${targets[@]}"; do names+=("$(basename "$source" .cpp)"); done
# Only the targets: the shared library does not link with clang's ASan.
cmake --build "$build" -j2 --target "${names[@]}"

mkdir -p "$build/artifacts"
summary=()
for source in "${targets[@]}"; do
  name=$(basename "$source" .cpp)
  program="$build/tests/fuzz/$name"
  seeds="tests/fuzz/corpus/$name"
  [ -x "$program" ] || fail "$program was not built"
  [ -d "$seeds" ] && [ -n "$(ls -A "$seeds")" ] || fail "no seed corpus in $seeds"
  # New inputs go to a scratch folder; the committed seeds stay as they are.
  work="$build/corpus/$name"
  mkdir -p "$work"
  printf '\n== fuzz: %s for %ss\n' "$name" "$seconds"
  log="$build/$name.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    "$program" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$work" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    fail "$name failed; the input is in $build/artifacts/"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1)
  summary+=("$name: $runs executions, $cov")
done

printf '\n== fuzz: all targets ran %ss without a failure\n' "$seconds"
printf '%s\n' "${summary[@]}"
