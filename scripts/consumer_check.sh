#!/usr/bin/env bash
# Uses tarn as an outside project would, from the installed tree alone:
# installs a build into a temporary prefix and checks its file list and
# SONAME; builds the C example through pkg-config and through
# find_package(tarn-client) (shared and static); runs them and the Python
# example against the installed demo service; builds the Debian packages,
# unpacks them into a scratch root, checks their file lists, runs the
# packaged program and library, and runs lintian (errors fail).
#
#   bash scripts/consumer_check.sh        (after a build in build/)
#
# TARN_BUILD: the build to install (build). TARN_DEB_BUILD: see package_deb.sh.
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
tables=$(python3 examples/python/list_tables.py "$url" "$prefix/lib/libtarn-client.so.1")
[ "$(sort <<<"$tables" | tr '\n' ' ')" = "customers order_lines orders products " ] ||
  fail "the Python example listed: $tables"
echo "python: $(tr '\n' ' ' <<<"$tables")"

step debian packages
deb_build=${TARN_DEB_BUILD:-build-deb}
TARN_DEB_BUILD=$deb_build bash scripts/package_deb.sh >"$tmp/cpack.log" 2>&1 ||
  fail "packaging failed: $(cat "$tmp/cpack.log")"
runtime_deb=$deb_build/tarn_${version}_amd64.deb
dev_deb=$deb_build/libtarn-client-dev_${version}_amd64.deb
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
contents() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||'; }
contents "$runtime_deb" | same_list "usr/bin/tarn
usr/bin/tarn-demo-service
usr/lib/$multiarch/libtarn-client.so.1
usr/lib/$multiarch/libtarn-client.so.1.0.0
usr/share/man/man1/tarn.1.gz
usr/share/man/man1/tarn-demo-service.1.gz
usr/share/bash-completion/completions/tarn
usr/share/zsh/site-functions/_tarn
usr/share/doc/tarn/copyright
usr/share/doc/tarn/changelog.gz" || fail "$runtime_deb holds other files than the list above"
contents "$dev_deb" | same_list "usr/include/tarn_client.h
usr/include/tarn_client_version.h
usr/lib/$multiarch/libtarn-client.a
usr/lib/$multiarch/libtarn-client.so
usr/lib/$multiarch/pkgconfig/tarn-client.pc
usr/lib/$multiarch/cmake/tarn-client/tarn-client-config.cmake
usr/lib/$multiarch/cmake/tarn-client/tarn-client-config-version.cmake
usr/lib/$multiarch/cmake/tarn-client/tarn-client-targets.cmake
usr/lib/$multiarch/cmake/tarn-client/tarn-client-targets-relwithdebinfo.cmake
usr/share/doc/libtarn-client-dev/copyright
usr/share/doc/libtarn-client-dev/changelog.gz" || fail "$dev_deb holds other files than the list above"
for deb in "$runtime_deb" "$dev_deb"; do
  echo "$deb:"
  dpkg-deb -f "$deb" Package Version Section Depends | sed 's/^/  /'
  contents "$deb" | sed 's/^/  /'
done

root=$tmp/root
dpkg-deb -x "$runtime_deb" "$root"
dpkg-deb -x "$dev_deb" "$root"
[ "$(readlink "$root/usr/lib/$multiarch/libtarn-client.so")" = libtarn-client.so.1 ] ||
  fail "the dev package's symlink does not name the runtime package's library"
"$root/usr/bin/tarn" --host "$url" ping >/dev/null || fail "the packaged tarn cannot ping"
[ "$(python3 examples/python/list_tables.py "$url" "$root/usr/lib/$multiarch/libtarn-client.so.1")" = "$tables" ] ||
  fail "the packaged library lists other tables"

step lintian
# Exits non-zero on errors; warnings are printed for the record.
lintian --fail-on error --tag-display-limit 0 "$runtime_deb" "$dev_deb" | tee "$tmp/lintian.out" ||
  fail "lintian found errors"
echo "lintian: $(grep -c '^E:' "$tmp/lintian.out" || true) errors, $(grep -c '^W:' "$tmp/lintian.out" || true) warnings"

echo
echo "consumer: all passed"
