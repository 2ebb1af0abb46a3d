#!/usr/bin/env bash
# Builds the Debian packages: tarn (the program), libtarn-client1 (the
# shared library), tarn-demo-service (the demo service) and
# libtarn-client-dev (header, link to the shared library,
# pkg-config file, CMake package; the static library too when yyjson is a
# system package), in a build of their own: -O2 with debug information and
# Debian's hardening flags, as Debian builds, stripped by CPack.
#
# The packages depend only on what this release itself offers: yyjson is
# taken from the system only when the installed libyyjson-dev is this
# release's own; otherwise (a yyjson from another release, or none) the
# checked source that scripts/setup.sh unpacks is compiled in.
#
#   bash scripts/package_deb.sh        -> build-deb/*.deb
#
# TARN_DEB_BUILD: the build folder (build-deb). TARN_DEPS_DIR: where
# setup.sh keeps the yyjson source (/opt/tarn-deps).
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/own_release.sh
. scripts/own_release.sh
build=${TARN_DEB_BUILD:-build-deb}
deps=${TARN_DEPS_DIR:-/opt/tarn-deps}

for tool in dpkg-shlibdeps file; do
  command -v "$tool" >/dev/null || {
    echo "package_deb: $tool is missing; run scripts/setup.sh --test" >&2
    exit 1
  }
done

yyjson_source=""
installed=$(dpkg-query -W -f='${Version}' libyyjson-dev 2>/dev/null || true)
if [ -z "$installed" ] || ! own_release_versions libyyjson-dev | grep -qxF "$installed"; then
  yyjson_source=$deps/yyjson-0.10.0
  [ -f "$yyjson_source/src/yyjson.c" ] || {
    echo "package_deb: no yyjson source in $deps; run scripts/setup.sh" >&2
    exit 1
  }
fi
if [ -n "$yyjson_source" ]; then
  echo "package_deb: yyjson compiled in from $yyjson_source"
else
  echo "package_deb: yyjson from libyyjson-dev $installed"
fi

# Debian's hardening flags (fortify, stack protector, relro, bindnow), as
# its own packages are built; CMake reads no CPPFLAGS, so they go in here.
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$(flags CPPFLAGS) $(flags CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  -DTARN_PACKAGE_DEB=ON -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF \
  -DTARN_YYJSON_SOURCE_DIR="$yyjson_source" >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/*.deb
