#!/usr/bin/env bash
# Checks the Debian packages as a user of a stock system gets them: builds
# them (scripts/package_deb.sh), checks each one's files and that only the
# demo service depends on the demo service's libraries, resolves every
# dependency with apt against this release's own archive alone (a private
# apt configuration: no other source, no pin, nothing installed counted),
# runs the packaged tarn, library and Python package against the packaged
# demo service from a scratch root, builds a program against the packaged
# development files, and runs lintian: errors and warnings not explained
# below fail.
# The README's first command (scripts/setup.sh) is resolved the same way
# and must pull in none of the test toolchain.
#
#   bash scripts/deb_check.sh
#
# TARN_DEB_BUILD: see package_deb.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
# shellcheck source=scripts/own_release.sh
. scripts/own_release.sh

step() { printf '\n== deb: %s\n' "$*"; }
fail() {
  echo "deb: $*" >&2
  exit 1
}
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

step build
build=${TARN_DEB_BUILD:-build-deb}
TARN_DEB_BUILD=$build bash scripts/package_deb.sh >"$tmp/cpack.log" 2>&1 ||
  fail "packaging failed: $(cat "$tmp/cpack.log")"
grep '^package_deb: yyjson' "$tmp/cpack.log"
bundled=0
grep -q '^TARN_YYJSON_BUNDLED:INTERNAL=ON' "$build/CMakeCache.txt" && bundled=1
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
arch=$(dpkg --print-architecture)
libdir=usr/lib/$multiarch

step contents
# Package, then its files; the dev package's static library and its yyjson
# dependency exist only with a system yyjson.
static=""
[ "$bundled" -eq 1 ] || static="$libdir/libtarn-client.a"
contents() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | grep -v '^$'; }
while read -r package files; do
  deb=$build/${package}_${version}_${arch}.deb
  [ "$package" != python3-tarn ] || deb=$build/${package}_${version}_all.deb
  [ -f "$deb" ] || fail "no $deb"
  # shellcheck disable=SC2086
  printf '%s\n' $files usr/share/doc/$package/copyright usr/share/doc/$package/changelog.gz |
    sed "s|@LIB@|$libdir|g; s|@PY@|usr/lib/python3/dist-packages/tarn|g" | grep -v '^$' >"$tmp/want"
  contents "$deb" | same_list "$(cat "$tmp/want")" || fail "$deb holds other files than expected (< expected, > packaged)"
  debs+=("$deb")
done <<EOF
tarn usr/bin/tarn usr/share/man/man1/tarn.1.gz usr/share/bash-completion/completions/tarn usr/share/zsh/site-functions/_tarn
libtarn-client1 @LIB@/libtarn-client.so.1 @LIB@/libtarn-client.so.1.0.0
libtarn-client-dev usr/include/tarn_client.h usr/include/tarn_client_version.h @LIB@/libtarn-client.so $static @LIB@/pkgconfig/tarn-client.pc @LIB@/cmake/tarn-client/tarn-client-config.cmake @LIB@/cmake/tarn-client/tarn-client-config-version.cmake @LIB@/cmake/tarn-client/tarn-client-targets.cmake @LIB@/cmake/tarn-client/tarn-client-targets-relwithdebinfo.cmake
tarn-demo-service usr/bin/tarn-demo-service usr/share/man/man1/tarn-demo-service.1.gz
python3-tarn @PY@/__init__.py @PY@/_native.py @PY@/_params.py @PY@/_result.py @PY@/_values.py @PY@/connection.py @PY@/cursor.py @PY@/exceptions.py @PY@/py.typed
EOF
for deb in "${debs[@]}"; do
  echo "$deb:"
  dpkg-deb -f "$deb" Package Version Section Depends Suggests | sed 's/^/  /'
done

step dependencies
# Package, whether it must (+) or must not (-) depend on a package whose
# name matches the pattern: the client never pulls in the demo service's
# libraries, and a compiled-in yyjson is never asked for.
no_yyjson=-
[ "$bundled" -eq 1 ] || no_yyjson=skip
while read -r package rule pattern; do
  deb=$build/${package}_${version}_${arch}.deb
  [ "$package" != python3-tarn ] || deb=$build/${package}_${version}_all.deb
  depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '{print $1}')
  case "$rule" in
    -) grep -qE "^($pattern)\$" <<<"$depends" && fail "$package depends on $(grep -E "^($pattern)\$" <<<"$depends" | tr '\n' ' ')" ;;
    +) grep -qE "^($pattern)\$" <<<"$depends" || fail "$package does not depend on $pattern" ;;
    skip) ;;
  esac
done <<EOF
tarn - libsqlite3-.*|libcpp-httplib.*|libtarn-client1
libtarn-client1 - libsqlite3-.*|libcpp-httplib.*
libtarn-client-dev + libtarn-client1
tarn-demo-service + libsqlite3-0
python3-tarn + libtarn-client1
python3-tarn + python3(:any)?
python3-tarn - libsqlite3-.*|libcpp-httplib.*|tarn
tarn $no_yyjson libyyjson.*
libtarn-client1 $no_yyjson libyyjson.*
libtarn-client-dev $no_yyjson libyyjson.*
tarn-demo-service $no_yyjson libyyjson.*
EOF
echo "dependency rules hold (yyjson $([ "$bundled" -eq 1 ] && echo compiled in || echo from the system))"

step "apt, $(own_codename) only"
[ "$(. /etc/os-release && echo "$ID")" = debian ] || fail "this check knows Debian's archive only"
codename=$(own_codename)
uri=$(debian_uri)
if [ -z "$codename" ] || [ -z "$uri" ]; then
  fail "cannot tell this release's codename or Debian mirror"
fi
apt_root=$tmp/apt
mkdir -p "$apt_root/lists/partial" "$apt_root/cache/archives/partial"
: >"$apt_root/status"
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $codename main" >"$apt_root/sources.list"
# An empty dpkg status: nothing installed on this machine satisfies anything.
apt_private=(-o Dir::Etc::SourceList="$apt_root/sources.list" -o Dir::Etc::SourceParts=/dev/null
  -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null
  -o Dir::State::Lists="$apt_root/lists" -o Dir::State::status="$apt_root/status"
  -o Dir::State::extended_states="$apt_root/extended_states" -o Dir::Cache="$apt_root/cache"
  -o APT::Architecture="$arch" -o APT::Architectures::="$arch" -o Debug::NoLocking=1
  -o APT::Get::List-Cleanup=0 -o APT::Sandbox::User=root)
apt-get "${apt_private[@]}" update -qq >"$tmp/update.log" 2>&1 || fail "apt-get update failed: $(cat "$tmp/update.log")"
resolve() {
  local what=$1
  shift
  LC_ALL=C apt-get "${apt_private[@]}" install --simulate --no-install-recommends "$@" >"$tmp/sim.out" 2>&1 ||
    fail "$what does not resolve against $codename alone: $(cat "$tmp/sim.out")"
  grep '^Inst ' "$tmp/sim.out" | awk '{print $2}' >"$tmp/inst"
  echo "$what: resolves against $codename main, $(wc -l <"$tmp/inst") packages in all"
}
resolve "the packages" "${debs[@]/#/./}"
for p in tarn libtarn-client1 libtarn-client-dev tarn-demo-service python3-tarn; do
  grep -qx "$p" "$tmp/inst" || fail "apt would not install $p"
done
# The first command of the README: the tools of the test toolchain stay out.
mapfile -t first < <(bash scripts/setup.sh --list)
resolve "setup.sh (${#first[@]} packages asked for)" "${first[@]}"
if grep -E '^(wine|mingw|g\+\+-mingw|clang|libclang|llvm|valgrind|lintian|hyperfine|groff|zsh|libgtest)' "$tmp/inst"; then
  fail "setup.sh without --test pulls in the test toolchain (above)"
fi
echo "setup.sh: none of the test toolchain"

step "packaged programs"
root=$tmp/root
for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root"; done
"$root/usr/bin/tarn-demo-service" --listen 127.0.0.1:0 --data "$tmp/data" >"$tmp/service.out" 2>"$tmp/service.err" &
service_pid=$!
for _ in $(seq 100); do
  [ -s "$tmp/service.out" ] && break
  kill -0 "$service_pid" 2>/dev/null || break
  sleep 0.1
done
url=$(head -n 1 "$tmp/service.out")
[ -n "$url" ] || fail "the packaged demo service did not start: $(cat "$tmp/service.err")"
echo "packaged demo service at $url"
reply=$("$root/usr/bin/tarn" --host "$url" ping) || fail "the packaged tarn cannot ping the packaged service"
grep -q '"service":"tarn-demo-service"' <<<"$reply" || fail "ping replied: $reply"
echo "tarn ping: $reply"
"$root/usr/bin/tarn" --host "$url" --format tsv query local shop "select count(*) as n from customers" >"$tmp/out" ||
  fail "the packaged tarn cannot query"
[ "$(sed -n 2p "$tmp/out")" -gt 0 ] 2>/dev/null || fail "query printed: $(cat "$tmp/out")"

# The development files as packaged: the README's program through
# pkg-config, run against the packaged shared library.
awk '/^## Using the library/ {sec = 1} sec && /^```c$/ {grab = 1; next}
     grab && /^```$/ {exit} grab' README.md >"$tmp/hello.c"
[ -s "$tmp/hello.c" ] || fail "no C program under 'Using the library' in README.md"
flags=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig pkg-config --cflags --libs tarn-client) ||
  fail "pkg-config cannot read the packaged tarn-client.pc"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -Werror "$tmp/hello.c" $flags -Wl,-rpath,"$root/$libdir" -o "$tmp/hello" ||
  fail "the README's program does not build against the packaged files ($flags)"
lib=$(ldd "$tmp/hello" | awk '$1 == "libtarn-client.so.1" {print $3}')
[ "$(realpath "$lib")" = "$(realpath "$root/$libdir/libtarn-client.so.1")" ] ||
  fail "the program loads '$lib', not the packaged library"
"$tmp/hello" "$url" >"$tmp/out" || fail "the README's program failed against the packaged library"
grep -qE '^[0-9]+: .+' "$tmp/out" || fail "the README's program printed: $(cat "$tmp/out")"
echo "README program, packaged library: $(wc -l <"$tmp/out") customers"

# The Python package as packaged, on the packaged library; it finds the
# library by its name, as on an installed system.
tables=$(PYTHONPATH=$root/usr/lib/python3/dist-packages LD_LIBRARY_PATH=$root/$libdir \
  /usr/bin/python3 -c 'import sys, tarn
print(tarn.__file__)
with tarn.connect(sys.argv[1], server="local", db="shop") as c:
    print(" ".join(sorted(r[1] for r in c.tree("tables").rows)))' "$url") ||
  fail "the packaged Python package failed: $tables"
[ "$(sed -n 1p <<<"$tables")" = "$root/usr/lib/python3/dist-packages/tarn/__init__.py" ] ||
  fail "python imported $(sed -n 1p <<<"$tables"), not the packaged module"
[ "$(sed -n 2p <<<"$tables")" = "customers order_lines orders products" ] ||
  fail "the packaged Python package listed: $tables"
echo "python3-tarn, packaged library: $(sed -n 2p <<<"$tables")"

step lintian
# Explained warnings: CPack writes postinst and postrm scripts that call
# ldconfig beside the trigger that does the work (redundant, not wrong).
explained=maintscript-calls-ldconfig
lintian --fail-on error,warning --suppress-tags "$explained" --tag-display-limit 0 "${debs[@]}" |
  tee "$tmp/lintian.out" || fail "lintian found errors or unexplained warnings"
echo "lintian: no errors; warnings only of: $explained"
cd "$src"
echo
echo "deb: all passed"
