#!/usr/bin/env bash
# Sets up, builds and runs every test: lint, the native suites, the Python
# package, the installed tree and the Debian packages as their users get
# them, the same suites under AddressSanitizer and UndefinedBehaviorSanitizer,
# under valgrind's memcheck, a minute of fuzzing per target, and the Windows
# build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

step() { printf '\n== %s\n' "$*"; }

step setup
bash scripts/setup.sh --test

step format
bash scripts/lint.sh format

step build
# Tests and benchmarks named: scripts/run.sh may have made build/ without them.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON \
  -DTARN_BUILD_TESTS=ON -DTARN_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"

step tidy
bash scripts/lint.sh tidy build

step exports
bash scripts/check_exports.sh build/client/libtarn-client.so

step "manual and completions"
bash scripts/check_cli_docs.sh

step tests
ctest --test-dir build --output-on-failure -j"$jobs"

step python
bash scripts/python_check.sh

step consumer
bash scripts/consumer_check.sh

step "debian packages"
bash scripts/deb_check.sh

step sanitizers
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTARN_SANITIZE=ON -DTARN_WERROR=ON -DTARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

step "thread sanitizer"
# The loopback suites, sessions on many threads among them.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_TSAN=ON -DTARN_WERROR=ON \
  -DTARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target tarn_transport_tests tarn_hostile_tests
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1 build-tsan/tests/tarn_transport_tests
# Streamed rows: the receiving thread hands the body to the reading one.
TSAN_OPTIONS=halt_on_error=1:abort_on_error=1 build-tsan/tests/tarn_hostile_tests \
  --gtest_filter='*StreamRows*'

step memcheck
bash scripts/memcheck.sh build

step fuzz
bash scripts/fuzz.sh 60

step windows
TARN_NATIVE_BUILD=build bash scripts/test_windows.sh

step windows zip
bash scripts/package_windows.sh
