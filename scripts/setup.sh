#!/usr/bin/env bash
# Installs what tarn needs on Debian or Ubuntu.
#
#   bash scripts/setup.sh          what building and running need
#   bash scripts/setup.sh --test   that and the test toolchain
#   bash scripts/setup.sh --list [--test]   prints the packages asked for
#
# yyjson: the release's own libyyjson-dev when it offers 0.10.0 or later;
# otherwise (Debian 12) its source tarball, checked against a known SHA-256
# digest and unpacked into /opt/tarn-deps, which the build compiles in.
# That download uses a private apt configuration: no source or pin is
# added to the system. --test also keeps the tarball for the Windows build
# and, where the release has no yyjson package, adds a trixie apt source
# pinned so that only libyyjson-dev comes from it (the static library and
# its checks need an installed yyjson).
# Safe to run again: each step checks before it changes anything.
set -euo pipefail

# Building and running: the program, the library, the demo service, and the
# shell's line editor (libedit).
BUILD_PACKAGES=(
  build-essential cmake pkg-config ca-certificates xz-utils
  libcurl4-openssl-dev libssl-dev libsqlite3-dev libedit-dev
)
TEST_PACKAGES=(
  libgtest-dev clang-format clang-tidy
  openssl curl hyperfine dpkg-dev
  g++-mingw-w64-x86-64 wine64
  groff zsh
  # tarn shell's tests drive it through a pseudo-terminal.
  python3-pexpect python3-pytest
  # Fuzzing (clang with libFuzzer) and the memcheck job.
  clang libclang-rt-dev valgrind
  # bench/run.sh: peak memory (GNU time) and the curl | jq comparison;
  # bench/demo_load.sh builds the service of an earlier release, which
  # used cpp-httplib.
  time jq libcpp-httplib-dev
  # Packages and the consumer check: lintian, file (dpkg-shlibdeps via
  # CPack), python3 (the ctypes example, zip listing).
  lintian file python3
  # The Python package: its tests, and pip install without a network.
  python3-pytest python3-venv python3-setuptools python3-wheel
)

test_too=0
list_only=0
for arg in "$@"; do
  case "$arg" in
    --test) test_too=1 ;;
    --list) list_only=1 ;;
    *)
      echo "usage: setup.sh [--test] [--list]" >&2
      exit 2
      ;;
  esac
done
if [ "$list_only" -eq 1 ]; then
  if [ "$test_too" -eq 1 ]; then printf '%s\n' "${TEST_PACKAGES[@]}"; else printf '%s\n' "${BUILD_PACKAGES[@]}"; fi
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E bash "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
# shellcheck source=scripts/own_release.sh
. "$(dirname "$0")/own_release.sh"

# Where the yyjson source is kept.
TARN_DEPS_DIR=${TARN_DEPS_DIR:-/opt/tarn-deps}
YYJSON_VERSION=0.10.0
YYJSON_TARBALL=yyjson_${YYJSON_VERSION}+ds.orig.tar.xz
YYJSON_SHA256=ae6fde69a193e10afab426ef13f113d6903446405f9db9ee98bfb572bd6c961a

PACKAGES=("${BUILD_PACKAGES[@]}")
[ "$test_too" -eq 1 ] && PACKAGES+=("${TEST_PACKAGES[@]}")

updated=0
apt_update() {
  if [ "$updated" -eq 0 ]; then
    apt-get update -qq
    updated=1
  fi
}
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

missing=()
for p in "${PACKAGES[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt_update
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A yyjson package of this release itself, new enough.
own_yyjson=""
if ! installed libyyjson-dev; then
  apt_update
fi
for v in $(own_release_versions libyyjson-dev); do
  if dpkg --compare-versions "$v" ge "$YYJSON_VERSION"; then
    own_yyjson=$v
    break
  fi
done
if [ -n "$own_yyjson" ] && ! installed libyyjson-dev; then
  apt-get install -y -qq --no-install-recommends libyyjson-dev
fi

trixie_list=/etc/apt/sources.list.d/tarn-trixie.sources
add_trixie() {
  [ -f "$trixie_list" ] && return 0
  local uri
  uri=$(debian_uri)
  if [ -z "$uri" ]; then
    echo "setup: cannot find a Debian mirror in the apt sources" >&2
    exit 1
  fi
  cat >"$trixie_list" <<SRC
Types: deb
URIs: $uri
Suites: trixie
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  # Only what is asked for by name comes from trixie.
  cat >/etc/apt/preferences.d/tarn-trixie <<PIN
Package: *
Pin: release n=trixie
Pin-Priority: 100
PIN
  updated=0
}

if [ "$test_too" -eq 1 ] && [ -z "$own_yyjson" ] && ! installed libyyjson-dev; then
  add_trixie
  apt_update
  apt-get install -y -qq --no-install-recommends -t trixie libyyjson-dev
fi

# The yyjson source: Debian's tarball, checked against its known digest,
# fetched through a private apt configuration with only trixie's source
# index, so the system's sources stay as they are.
fetch_yyjson_tarball() {
  local tarball=$1 uri dl
  uri=$(debian_uri)
  if [ -z "$uri" ]; then
    echo "setup: cannot find a Debian mirror in the apt sources" >&2
    exit 1
  fi
  dl=$(mktemp -d)
  mkdir -p "$dl/lists/partial" "$dl/cache/archives/partial" "$dl/src"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri trixie main" >"$dl/sources.list"
  local apt_private=(-o Dir::Etc::SourceList="$dl/sources.list" -o Dir::Etc::SourceParts=/dev/null
    -o Dir::State::Lists="$dl/lists" -o Dir::Cache="$dl/cache" -o APT::Get::List-Cleanup=0
    -o APT::Sandbox::User=root)
  apt-get "${apt_private[@]}" update -qq
  # The .dsc may fail to download; the tarball is all that is needed.
  (cd "$dl/src" && apt-get "${apt_private[@]}" source --download-only \
    "yyjson=${YYJSON_VERSION}+ds-1" >/dev/null 2>&1) || true
  if [ ! -f "$dl/src/$YYJSON_TARBALL" ]; then
    rm -rf "$dl"
    echo "setup: could not download $YYJSON_TARBALL" >&2
    exit 1
  fi
  mv "$dl/src/$YYJSON_TARBALL" "$tarball"
  rm -rf "$dl"
}

src_dir="$TARN_DEPS_DIR/yyjson-$YYJSON_VERSION"
if { [ -z "$own_yyjson" ] || [ "$test_too" -eq 1 ]; } &&
  { [ ! -f "$src_dir/src/yyjson.c" ] || [ ! -f "$src_dir/src/yyjson.h" ]; }; then
  mkdir -p "$TARN_DEPS_DIR"
  tarball="$TARN_DEPS_DIR/$YYJSON_TARBALL"
  if [ ! -f "$tarball" ] || ! echo "$YYJSON_SHA256  $tarball" | sha256sum -c --quiet - 2>/dev/null; then
    fetch_yyjson_tarball "$tarball"
  fi
  echo "$YYJSON_SHA256  $tarball" | sha256sum -c --quiet - || {
    echo "setup: checksum mismatch for $tarball" >&2
    exit 1
  }
  tmp=$(mktemp -d)
  tar -xJf "$tarball" -C "$tmp"
  top=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)
  mkdir -p "$src_dir/src"
  cp "$top/src/yyjson.c" "$top/src/yyjson.h" "$src_dir/src/"
  rm -rf "$tmp"
fi

echo "setup: done"
