#!/usr/bin/env bash
# Installs everything tarn needs to build and test on Debian or Ubuntu.
# Safe to run again: each step checks before it changes anything.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  exec sudo -E bash "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive

# Where the yyjson source for the Windows build is kept.
TARN_DEPS_DIR=${TARN_DEPS_DIR:-/opt/tarn-deps}
YYJSON_VERSION=0.10.0
YYJSON_TARBALL=yyjson_${YYJSON_VERSION}+ds.orig.tar.xz
YYJSON_SHA256=ae6fde69a193e10afab426ef13f113d6903446405f9db9ee98bfb572bd6c961a

PACKAGES=(
  build-essential cmake pkg-config ca-certificates
  libgtest-dev libcurl4-openssl-dev libssl-dev
  clang-format clang-tidy
  openssl curl hyperfine xz-utils dpkg-dev
  g++-mingw-w64-x86-64 wine64
  groff zsh
  libcpp-httplib-dev libsqlite3-dev
  # tarn shell: line editing; its tests drive it through a pseudo-terminal.
  libedit-dev python3-pexpect python3-pytest
  # Fuzzing (clang with libFuzzer) and the memcheck job.
  clang libclang-rt-dev valgrind
  # bench/run.sh: peak memory (GNU time) and the curl | jq comparison
  time jq
  # Packages and the consumer check: lintian, file (dpkg-shlibdeps via
  # CPack), python3 (the ctypes example, zip listing).
  lintian file python3
)

updated=0
apt_update() {
  if [ "$updated" -eq 0 ]; then
    apt-get update -qq
    updated=1
  fi
}

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  apt_update
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The first URI of the machine's own Debian sources, so no mirror is written here.
debian_uri() {
  local uri=""
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources)
  fi
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" && $0 !~ /security/ {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
  fi
  printf '%s' "$uri"
}

have_yyjson() { dpkg-query -W -f='${Status}' libyyjson-dev 2>/dev/null | grep -q 'install ok installed'; }

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
Types: deb deb-src
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

if ! have_yyjson; then
  apt_update
  if apt-cache show libyyjson-dev >/dev/null 2>&1 && \
     apt-cache policy libyyjson-dev | grep -q "$YYJSON_VERSION"; then
    apt-get install -y -qq libyyjson-dev
  else
    add_trixie
    apt_update
    apt-get install -y -qq -t trixie libyyjson-dev
  fi
fi

# yyjson source for the mingw build: Debian's tarball, checked against its known digest.
src_dir="$TARN_DEPS_DIR/yyjson-$YYJSON_VERSION"
if [ ! -f "$src_dir/src/yyjson.c" ] || [ ! -f "$src_dir/src/yyjson.h" ]; then
  mkdir -p "$TARN_DEPS_DIR"
  tarball="$TARN_DEPS_DIR/$YYJSON_TARBALL"
  if [ ! -f "$tarball" ] || ! echo "$YYJSON_SHA256  $tarball" | sha256sum -c --quiet - 2>/dev/null; then
    add_trixie
    apt_update
    dl=$(mktemp -d)
    # The .dsc may fail to download; the tarball is all that is needed.
    (cd "$dl" && apt-get source --download-only "yyjson=${YYJSON_VERSION}+ds-1" >/dev/null 2>&1) || true
    if [ ! -f "$dl/$YYJSON_TARBALL" ]; then
      echo "setup: could not download $YYJSON_TARBALL" >&2
      exit 1
    fi
    mv "$dl/$YYJSON_TARBALL" "$tarball"
    rm -rf "$dl"
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
