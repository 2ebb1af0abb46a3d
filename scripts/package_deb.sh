#!/usr/bin/env bash
# Builds the Debian packages: tarn (program, demo service, shared library)
# and libtarn-client-dev (header, static library, pkg-config file, CMake
# package), in a build of their own: -O2 with debug information, as Debian
# builds, stripped by CPack.
#
#   bash scripts/package_deb.sh        -> build-deb/*.deb
#
# TARN_DEB_BUILD: the build folder (build-deb).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TARN_DEB_BUILD:-build-deb}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DTARN_PACKAGE_DEB=ON -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB)
ls "$build"/*.deb
