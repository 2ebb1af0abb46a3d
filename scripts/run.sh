#!/usr/bin/env bash
# Sets up, builds and runs tarn with the given arguments.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh >/dev/null
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tarn >/dev/null
exec ./build/cli/tarn "$@"
