#!/usr/bin/env bash
# Cross-builds the Windows program and its tests with mingw-w64, runs the
# tests under Wine, checks what tarn.exe exports and runs the command-line
# suite against tarn.exe.
#
#   bash scripts/test_windows.sh        (after scripts/setup.sh)
#
# TARN_DEPS_DIR: where setup.sh keeps the yyjson source (/opt/tarn-deps).
# TARN_NATIVE_BUILD: native build holding tests/tarn_cli_tests (build).
set -euo pipefail
cd "$(dirname "$0")/.."

deps=${TARN_DEPS_DIR:-/opt/tarn-deps}
native=${TARN_NATIVE_BUILD:-build}
wine=/usr/lib/wine/wine64
objdump=x86_64-w64-mingw32-objdump
export WINEDEBUG=-all

step() { printf '\n== windows: %s\n' "$*"; }
fail() {
  echo "windows: $*" >&2
  exit 1
}

for tool in x86_64-w64-mingw32-g++-posix "$objdump" "$wine" openssl curl; do
  command -v "$tool" >/dev/null || fail "$tool is missing; run scripts/setup.sh"
done
[ -f "$deps/yyjson-0.10.0/src/yyjson.c" ] || fail "no yyjson source in $deps; run scripts/setup.sh"

tmp=$(mktemp -d)
tls_pid=""
demo_pid=""
cleanup() {
  if [ -n "$tls_pid" ]; then kill "$tls_pid" 2>/dev/null || true; fi
  if [ -n "$demo_pid" ]; then kill "$demo_pid" 2>/dev/null || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

step build
cmake -S . -B build-win \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARN_YYJSON_SOURCE_DIR="$deps/yyjson-0.10.0" \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$wine" \
  -DTARN_WERROR=ON \
  -DTARN_BUILD_BENCH=OFF >/dev/null
cmake --build build-win -j2
program=build-win/cli/tarn.exe
[ -f "$program" ] || fail "$program was not built"

step exports
# Every function the public header declares, under its plain name, and
# nothing else.
want=$(sed -n 's/^TARN_API .*\b\(tarn_\(client\|session\|result\)_[a-z0-9_]*\)(.*/\1/p' client/include/tarn_client.h | sort -u)
have=$("$objdump" -p "$program" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' | sort -u)
[ -n "$want" ] || fail "no functions found in client/include/tarn_client.h"
missing=$(comm -23 <(printf '%s\n' "$want") <(printf '%s\n' "$have"))
extra=$(comm -13 <(printf '%s\n' "$want") <(printf '%s\n' "$have"))
[ -z "$missing" ] || fail "$program does not export: $(tr '\n' ' ' <<<"$missing")"
[ -z "$extra" ] || fail "$program also exports: $(tr '\n' ' ' <<<"$extra")"
echo "exports: all $(printf '%s\n' "$want" | wc -l) public functions, nothing else"

step wine prefix
# The first start of a new prefix is slow; do it before any timed step.
"$wine" cmd /c exit 0 >/dev/null 2>&1 || fail "wine64 does not start"

step tls server
# A self-signed certificate for another host name, served natively; the
# Windows tests fetch one complete response through WinHTTP.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=tarn-other-host.invalid \
  -addext subjectAltName=DNS:tarn-other-host.invalid \
  -keyout "$tmp/key.pem" -out "$tmp/cert.pem" 2>/dev/null
tls_body='served over tls'
printf 'HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s' \
  "${#tls_body}" "$tls_body" >"$tmp/hello"
# A ping answer for sessions without a password (tests/win/session_test.cpp).
ping_body='{"rows":[["over tls"]]}'
printf 'HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\nConnection: close\r\n\r\n%s' \
  "${#ping_body}" "$ping_body" >"$tmp/ping"
# The hostile case redirect_from_https_to_http (tests/support/hostile_cases.cpp):
# the same bytes, served over TLS.
printf 'HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/end\r\nContent-Length: 9\r\n\r\nnot taken' \
  >"$tmp/redirect"
for _ in 1 2 3 4 5; do
  port=$((20000 + RANDOM % 30000))
  (cd "$tmp" && exec openssl s_server -quiet -accept "127.0.0.1:$port" \
    -cert cert.pem -key key.pem -HTTP) >"$tmp/tls.log" 2>&1 &
  tls_pid=$!
  for _ in $(seq 50); do
    kill -0 "$tls_pid" 2>/dev/null || break
    curl -skf "https://127.0.0.1:$port/hello" >/dev/null 2>&1 && break 2
    sleep 0.1
  done
  kill "$tls_pid" 2>/dev/null || true
  wait "$tls_pid" 2>/dev/null || true
  tls_pid=""
done
[ -n "$tls_pid" ] || fail "the TLS test server did not start: $(cat "$tmp/tls.log")"
export TARN_WIN_TLS_URL="https://127.0.0.1:$port/hello" TARN_WIN_TLS_BODY="$tls_body"
export TARN_WIN_TLS_REDIRECT_URL="https://127.0.0.1:$port/redirect"

step tests
ctest --test-dir build-win --output-on-failure -j2 --timeout 300

step cli suite
# The native suite drives tarn.exe through Wine against its own test service.
cli_tests="$native/tests/tarn_cli_tests"
if [ ! -x "$cli_tests" ]; then
  cmake -S . -B build-wnat -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON -DTARN_BUILD_BENCH=OFF >/dev/null
  cmake --build build-wnat -j2 --target tarn_cli_tests || fail "cannot build the command-line suite"
  cli_tests=build-wnat/tests/tarn_cli_tests
fi
[ -x "$cli_tests" ] || fail "no command-line suite at $cli_tests"
TARN_CLI_PROGRAM="$PWD/$program" TARN_CLI_LAUNCHER="$wine" "$cli_tests" | tee "$tmp/cli.log" ||
  fail "the command-line suite failed against $program"
# A suite that ran nothing has not shown anything.
grep -q '^\[  PASSED  \] [1-9][0-9]* test' "$tmp/cli.log" ||
  fail "the command-line suite ran no tests against $program"

step shell script
# tarn.exe shell reads a script from standard input (console line input,
# no libedit) against the native demo service.
demo="$native/demo/tarn-demo-service"
if [ ! -x "$demo" ]; then
  cmake -S . -B build-wnat -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON -DTARN_BUILD_BENCH=OFF >/dev/null
  cmake --build build-wnat -j2 --target tarn-demo-service || fail "cannot build the demo service"
  demo=build-wnat/demo/tarn-demo-service
fi
mkdir "$tmp/demo"
"$demo" --listen 127.0.0.1:0 --data "$tmp/demo" >"$tmp/demo.url" &
demo_pid=$!
for _ in $(seq 300); do
  [ -s "$tmp/demo.url" ] && break
  sleep 0.1
done
demo_url=$(head -n 1 "$tmp/demo.url")
[ -n "$demo_url" ] || fail "the demo service did not start"
printf 'select 1 as one;\r\nselect 2\r\n  as two; \\format csv\r\nselect 3 as three\r\n' >"$tmp/ok.sql"
printf 'one\n---\n1\n(1 row)\ntwo\n---\n2\n(1 row)\nthree\r\n3\r\n' >"$tmp/ok.want"
printf 'select 1 as one;\nselect * from nope;\nselect 3 as three;\n' >"$tmp/bad.sql"
status=0
TARN_HOST=$demo_url "$wine" "$program" shell local shop <"$tmp/ok.sql" >"$tmp/ok.out" || status=$?
[ "$status" -eq 0 ] || fail "tarn.exe shell ended with status $status on a good script"
cmp -s "$tmp/ok.out" "$tmp/ok.want" || fail "tarn.exe shell printed: $(cat -A "$tmp/ok.out")"
status=0
TARN_HOST=$demo_url "$wine" "$program" shell local shop <"$tmp/bad.sql" >"$tmp/bad.out" \
  2>"$tmp/bad.err" || status=$?
[ "$status" -eq 1 ] || fail "tarn.exe shell ended with status $status on a failing script"
grep -q three "$tmp/bad.out" && fail "tarn.exe shell went on past the failing statement"
grep -qx 'ERROR: HTTP 400: no such table: nope' "$tmp/bad.err" ||
  fail "tarn.exe shell error line: $(cat "$tmp/bad.err")"
echo "tarn.exe shell: a script from standard input runs, and stops at its first error"

echo
echo "windows: all passed"
