#!/usr/bin/env bash
# Cross-builds the Windows program, tarn-client.dll and the tests with
# mingw-w64, runs the tests under Wine, checks what tarn.exe and the DLL
# export, runs the C example linked against the DLL against the native demo
# service, and runs the command-line suite against tarn.exe.
#
#   bash scripts/test_windows.sh        (after scripts/setup.sh)
#
# TARN_DEPS_DIR: where setup.sh keeps the yyjson source (/opt/tarn-deps).
# TARN_NATIVE_BUILD: native build holding tests/tarn_cli_tests and
# demo/tarn-demo-service (build).
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
# nothing else, from the program and from the DLL.
dll=build-win/client/tarn-client.dll
[ -f "$dll" ] || fail "$dll was not built"
[ -f build-win/client/libtarn-client.dll.a ] || fail "no import library beside $dll"
bash scripts/check_exports.sh "$program" || fail "$program exports other functions than the header's"
bash scripts/check_exports.sh "$dll" || fail "$dll exports other functions than the header's"
# Self-contained: the DLL needs no runtime DLL of the compiler.
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '[:upper:]' '[:lower:]')
if grep -E '^(libstdc|libgcc|libwinpthread)' <<<"$imports"; then
  fail "$dll imports the compiler's runtime (above)"
fi
echo "$dll imports: $(tr '\n' ' ' <<<"$imports")"

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

# The native parts below: from the native build, else built here.
native_tool() {
  if [ -x "$native/$1" ]; then
    echo "$native/$1"
    return
  fi
  cmake -S . -B build-wnat -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_WERROR=ON -DTARN_BUILD_BENCH=OFF >/dev/null
  cmake --build build-wnat -j2 --target "$(basename "$1")" >&2 || fail "cannot build $1"
  echo "build-wnat/$1"
}

step "C example against the DLL"
# examples/c/query_grid.c linked with the import library, run beside the
# DLL under Wine against the native demo service on the loopback address.
demo=$(native_tool demo/tarn-demo-service)
mkdir -p "$tmp/example"
x86_64-w64-mingw32-gcc-posix -Wall -Wextra -Werror -Iclient/include -Ibuild-win/client/include \
  examples/c/query_grid.c -Lbuild-win/client -ltarn-client -o "$tmp/example/query_grid.exe" ||
  fail "cannot link the C example against the import library"
# Through a file: grep -q ending early would fail the pipe under pipefail.
"$objdump" -p "$tmp/example/query_grid.exe" >"$tmp/example.headers"
grep -q 'DLL Name: tarn-client.dll' "$tmp/example.headers" ||
  fail "the C example does not import from tarn-client.dll"
cp "$dll" "$tmp/example/"
"$demo" --listen 127.0.0.1:0 --data "$tmp/data" >"$tmp/demo.out" 2>"$tmp/demo.err" &
demo_pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/demo.out" ] && break
  kill -0 "$demo_pid" 2>/dev/null || break
  sleep 0.1
done
url=$(head -n 1 "$tmp/demo.out")
[ -n "$url" ] || fail "the demo service did not start: $(cat "$tmp/demo.err")"
(cd "$tmp/example" && "$wine" query_grid.exe "$url" local shop \
  "select id, name from customers order by id limit 3") >"$tmp/example.out" 2>"$tmp/example.log" ||
  fail "the C example failed under Wine: $(cat "$tmp/example.log" "$tmp/example.out")"
tr -d '\r' <"$tmp/example.out" >"$tmp/example.txt"
tr -d '\r' <"$tmp/example.log" >"$tmp/example.log.txt"
head -n 1 "$tmp/example.txt" | grep -q '^built against tarn-client 1\.0\.0, running tarn-client 1\.0\.0 ' ||
  fail "the C example's versions: $(head -n 1 "$tmp/example.txt")"
sed -n 2p "$tmp/example.txt" | grep -qx $'id\tname' || fail "no column names: $(cat "$tmp/example.txt")"
grep -qx '(3 rows)' "$tmp/example.txt" || fail "not 3 rows: $(cat "$tmp/example.txt")"
grep -qx '<   HTTP 200' "$tmp/example.log.txt" || fail "its transport logged no reply: $(cat "$tmp/example.log")"
kill "$demo_pid" 2>/dev/null || true
wait "$demo_pid" 2>/dev/null || true
demo_pid=""
cat "$tmp/example.txt"

step cli suite
# The native suite drives tarn.exe through Wine against its own test service.
cli_tests=$(native_tool tests/tarn_cli_tests)
[ -x "$cli_tests" ] || fail "no command-line suite at $cli_tests"
TARN_CLI_PROGRAM="$PWD/$program" TARN_CLI_LAUNCHER="$wine" "$cli_tests" | tee "$tmp/cli.log" ||
  fail "the command-line suite failed against $program"
# A suite that ran nothing has not shown anything.
grep -q '^\[  PASSED  \] [1-9][0-9]* test' "$tmp/cli.log" ||
  fail "the command-line suite ran no tests against $program"

step shell script
# tarn.exe shell reads a script from standard input (console line input,
# no libedit) against the native demo service ($demo, found above).
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
