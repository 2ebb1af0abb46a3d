#!/usr/bin/env bash
# Builds the Windows zip: tarn.exe, the library tarn-client.dll with its
# import library (lib/libtarn-client.dll.a), the headers, README, LICENSE
# and the third-party notices. Cross-built with mingw-w64 in the
# same build folder and configuration as scripts/test_windows.sh.
#
#   bash scripts/package_windows.sh     -> build-win/tarn-VERSION-win64.zip
#
# TARN_DEPS_DIR: where setup.sh keeps the yyjson source (/opt/tarn-deps).
set -euo pipefail
cd "$(dirname "$0")/.."

deps=${TARN_DEPS_DIR:-/opt/tarn-deps}
build=build-win
fail() {
  echo "package_windows: $*" >&2
  exit 1
}
[ -f "$deps/yyjson-0.10.0/src/yyjson.c" ] || fail "no yyjson source in $deps; run scripts/setup.sh"

cmake -S . -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARN_YYJSON_SOURCE_DIR="$deps/yyjson-0.10.0" \
  -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 \
  -DTARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tarn tarn-client
rm -f "$build"/tarn-*-win64.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/tarn-*-win64.zip)

# The zip holds exactly these files, and its headers and import library
# are enough to link a program against tarn-client.dll.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 -m zipfile -e "$zip" "$tmp"
top=$(basename "$zip" .zip)
want="tarn.exe
tarn-client.dll
README.md
LICENSE
THIRD-PARTY-NOTICES.md
include/tarn_client.h
include/tarn_client_version.h
lib/libtarn-client.dll.a"
have=$(cd "$tmp/$top" && find . -type f | sed 's|^\./||' | sort)
[ "$have" = "$(sort <<<"$want")" ] || fail "$zip holds: $(tr '\n' ' ' <<<"$have")"
x86_64-w64-mingw32-gcc-posix -Wall -Werror -I"$tmp/$top/include" examples/c/query_grid.c \
  -L"$tmp/$top/lib" -ltarn-client -o "$tmp/query_grid.exe" || fail "cannot link against the import library"
bash scripts/check_exports.sh "$tmp/$top/tarn-client.dll" >/dev/null ||
  fail "the zip's tarn-client.dll exports other functions than the header's"
x86_64-w64-mingw32-objdump -p "$tmp/query_grid.exe" >"$tmp/headers"
grep -q 'DLL Name: tarn-client.dll' "$tmp/headers" ||
  fail "a program linked with the import library does not import from tarn-client.dll"
echo "$zip:"
sed 's/^/  /' <<<"$have"
