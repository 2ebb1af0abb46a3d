#!/usr/bin/env bash
# Fails unless the shared library exports only tarn_client_* functions.
set -euo pipefail
lib=${1:?shared library}
syms=$(nm -D --defined-only "$lib" | awk '{print $3}')
bad=$(printf '%s\n' "$syms" | grep -v '^tarn_client_' || true)
if [ -n "$bad" ]; then
  echo "exports: unexpected symbols in $lib:" >&2
  printf '  %s\n' $bad >&2
  exit 1
fi
echo "exports: $(printf '%s\n' "$syms" | wc -l) tarn_client_* functions, nothing else"
