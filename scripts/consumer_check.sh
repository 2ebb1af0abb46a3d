#!/usr/bin/env bash
# Uses tarn as an outside project would, from the installed tree alone:
# installs a build into a temporary prefix and checks its file list and
# SONAME; builds the C example through pkg-config and through
# find_package(tarn-client) (shared and static); runs them and the Python
# examples against the installed demo service. The Debian packages have
# their own check, scripts/deb_check.sh.
#
#   bash scripts/consumer_check.sh        (after a build in build/ with a
#                                          system yyjson: setup.sh --test)
#
# TARN_BUILD: the build to install (build).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${TARN_BUILD:-build}" && pwd)

step() { printf '\n== consumer: %s\n' "$*"; }
fail() {
  echo "consumer: $*" >&2
  exit 1
}
# Fails unless the file list on stdin is exactly the list in $1.
same_list() {
  local got
  got=$(sort)
  if [ "$got" != "$(sort <<<"$1")" ]; then
    diff <(sort <<<"$1") <(printf '%s\n' "$got") >&2 || true
    return 1
  fi
}

tmp=$(mktemp -d)
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

step install
# The static library, and so half of these checks, exists only with a
# system yyjson.
grep -q '^TARN_YYJSON_BUNDLED:INTERNAL=OFF' "$build/CMakeCache.txt" ||
  fail "$build compiles yyjson in, so it installs no static library to check; install libyyjson-dev (scripts/setup.sh --test) and build again"
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
config=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" | tr '[:upper:]' '[:lower:]')
(cd "$prefix" && find . ! -type d | sed 's|^\./||') | same_list "bin/tarn
bin/tarn-demo-service
include/tarn_client.h
include/tarn_client_version.h
lib/libtarn-client.a
lib/libtarn-client.so
lib/libtarn-client.so.1
lib/libtarn-client.so.1.0.0
lib/pkgconfig/tarn-client.pc
lib/cmake/tarn-client/tarn-client-config.cmake
lib/cmake/tarn-client/tarn-client-config-version.cmake
lib/cmake/tarn-client/tarn-client-targets.cmake
lib/cmake/tarn-client/tarn-client-targets-${config:-noconfig}.cmake
share/doc/tarn/LICENSE
share/doc/tarn/THIRD-PARTY-NOTICES.md
share/man/man1/tarn.1
share/man/man1/tarn-demo-service.1
share/bash-completion/completions/tarn
share/zsh/site-functions/_tarn" || fail "the installed files differ from the list above (< expected, > installed)"
(cd "$prefix" && find . ! -type d | sed 's|^\./||' | sort)
soname=$(objdump -p "$prefix/lib/libtarn-client.so.1.0.0" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = libtarn-client.so.1 ] || fail "SONAME is '$soname', not libtarn-client.so.1"
[ "$(readlink "$prefix/lib/libtarn-client.so")" = libtarn-client.so.1 ] || fail "bad dev symlink"
bash scripts/check_exports.sh "$prefix/lib/libtarn-client.so.1.0.0"

# Everything below builds from the installed tree and examples/ only.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
version=$(pkg-config --modversion tarn-client)
[ "$version" = 1.0.0 ] || fail "pkg-config says version '$version'"
echo "pkg-config: $(pkg-config --cflags --libs tarn-client)"
grep -q "$src/\|$build" "$PKG_CONFIG_PATH/tarn-client.pc" "$prefix"/lib/cmake/tarn-client/*.cmake &&
  fail "the installed .pc or CMake files point into the source or build tree"

step build examples
mkdir -p "$tmp/pc"
make -s -C "$tmp/pc" -f "$src/examples/c/Makefile" VPATH="$src/examples/c"
cmake -S examples/cmake -B "$tmp/cm" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/cm" >/dev/null
cmake -S examples/cmake -B "$tmp/cms" -DCMAKE_PREFIX_PATH="$prefix" -DTARN_EXAMPLE_STATIC=ON >/dev/null
cmake --build "$tmp/cms" >/dev/null
# The README's program and its static link line.
awk '/^## Using the library/ {sec = 1} sec && /^```c$/ {grab = 1; next}
     grab && /^```$/ {exit} grab' README.md >"$tmp/hello.c"
[ -s "$tmp/hello.c" ] || fail "no C program under 'Using the library' in README.md"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror "$tmp/hello.c" $(pkg-config --cflags --libs tarn-client) \
  -Wl,-rpath,"$prefix/lib" -o "$tmp/hello"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror examples/c/query_grid.c $(pkg-config --cflags tarn-client) \
  "$(pkg-config --variable=libdir tarn-client)/libtarn-client.a" \
  $(pkg-config --libs libcurl libcrypto yyjson) -lstdc++ -o "$tmp/query_grid_static"
for exe in "$tmp/pc/query_grid" "$tmp/cm/query_grid" "$tmp/hello"; do
  lib=$(ldd "$exe" | awk '$1 == "libtarn-client.so.1" {print $3}')
  [ -n "$lib" ] && [ "$(realpath "$lib")" = "$(realpath "$prefix/lib/libtarn-client.so.1")" ] ||
    fail "$exe loads '$lib', not the installed library"
done
for exe in "$tmp/cms/query_grid" "$tmp/query_grid_static"; do
  ldd "$exe" >"$tmp/ldd"
  grep -q libtarn-client "$tmp/ldd" && fail "$exe, linked statically, loads libtarn-client.so"
done

step demo service
"$prefix/bin/tarn-demo-service" --listen 127.0.0.1:0 --data "$tmp/data" >"$tmp/service.out" 2>"$tmp/service.err" &
service_pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/service.out" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
url=$(head -n 1 "$tmp/service.out")
[ -n "$url" ] || fail "the demo service did not start: $(cat "$tmp/service.err")"
echo "demo service at $url"

step run examples
sql="select id, name from customers order by id limit 3"
for exe in "$tmp/pc/query_grid" "$tmp/cm/query_grid" "$tmp/cms/query_grid" "$tmp/query_grid_static"; do
  "$exe" "$url" local shop "$sql" >"$tmp/out" 2>"$tmp/log" || fail "$exe failed: $(cat "$tmp/log")"
  head -n 1 "$tmp/out" | grep -q "^built against tarn-client $version, running tarn-client $version " ||
    fail "$exe: versions differ: $(head -n 1 "$tmp/out")"
  sed -n 2p "$tmp/out" | grep -qx $'id\tname' || fail "$exe: no column names: $(cat "$tmp/out")"
  grep -qx '(3 rows)' "$tmp/out" || fail "$exe: not 3 rows: $(cat "$tmp/out")"
  grep -q "^> POST $url/query" "$tmp/log" || fail "$exe: its transport logged no request"
  grep -qx '<   HTTP 200' "$tmp/log" || fail "$exe: its transport logged no reply"
done
cat "$tmp/log" "$tmp/out"
"$tmp/hello" "$url" >"$tmp/out" || fail "the README's program failed"
grep -qE '^[0-9]+: .+' "$tmp/out" || fail "the README's program printed: $(cat "$tmp/out")"
# The Python examples use the package from the source tree.
tables=$(PYTHONPATH=$src/python python3 examples/python/list_tables.py "$url" "$prefix/lib/libtarn-client.so.1")
[ "$(sort <<<"$tables" | tr '\n' ' ')" = "customers order_lines orders products " ] ||
  fail "the Python example listed: $tables"
echo "python: $(tr '\n' ' ' <<<"$tables")"
PYTHONPATH=$src/python TARN_CLIENT_LIBRARY=$prefix/lib/libtarn-client.so.1 \
  python3 examples/python/cancel_query.py "$url" 0.5 >"$tmp/out" ||
  fail "the Python cancel example failed: $(cat "$tmp/out")"
echo "python: $(cat "$tmp/out")"
# A query that would count for minutes, cancelled from the same program.
long_sql="with recursive n(i) as (select 1 union all select i + 1 from n) select count(*) from n"
started=$(date +%s)
"$tmp/pc/cancel_query" "$url" local shop "$long_sql" 1 >"$tmp/out" ||
  fail "cancel_query did not see its query cancelled: $(cat "$tmp/out")"
[ $(($(date +%s) - started)) -lt 15 ] || fail "cancel_query took over 15 s"
echo "cancel: $(cat "$tmp/out")"

echo
echo "consumer: all passed"
