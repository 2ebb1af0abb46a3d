#!/usr/bin/env bash
# lint.sh format       fails when a tracked source differs from .clang-format
# lint.sh tidy BUILD   runs clang-tidy over the project's sources
set -euo pipefail
cd "$(dirname "$0")/.."

sources() { git ls-files -- '*.c' '*.cpp' '*.h' | grep -v '^tests/data/'; }

case "${1:-}" in
  format)
    sources | xargs clang-format --dry-run -Werror
    echo "format: clean"
    ;;
  tidy)
    build=${2:?build directory}
    git ls-files -- 'client/*.cpp' 'transport/*.cpp' 'cli/*.cpp' 'demo/*.cpp' |
      grep -v -E 'winhttp|_win\.cpp$' |
      xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet 2>/dev/null
    echo "tidy: clean"
    ;;
  *)
    echo "usage: lint.sh format | tidy BUILD" >&2
    exit 2
    ;;
esac
