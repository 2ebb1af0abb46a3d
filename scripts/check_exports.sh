#!/usr/bin/env bash
# Fails unless the shared library (an ELF .so, or a Windows DLL or
# program) exports every function the public header declares, and nothing
# else.
set -euo pipefail
cd "$(dirname "$0")/.."
lib=${1:?shared library}
want=$(sed -n 's/^TARN_API .*\b\(tarn_\(client\|session\|result\)_[a-z0-9_]*\)(.*/\1/p' \
  client/include/tarn_client.h | sort -u)
case "$lib" in
  *.dll | *.exe)
    # The export table's name pointers, as mingw-w64's objdump lists them.
    have=$(x86_64-w64-mingw32-objdump -p "$lib" |
      sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p' |
      sort -u)
    ;;
  *) have=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort -u) ;;
esac
[ -n "$want" ] || { echo "exports: no functions found in the header" >&2; exit 1; }
missing=$(comm -23 <(printf '%s\n' "$want") <(printf '%s\n' "$have"))
extra=$(comm -13 <(printf '%s\n' "$want") <(printf '%s\n' "$have"))
if [ -n "$missing$extra" ]; then
  [ -z "$missing" ] || echo "exports: $lib lacks: $(tr '\n' ' ' <<<"$missing")" >&2
  [ -z "$extra" ] || echo "exports: $lib also exports: $(tr '\n' ' ' <<<"$extra")" >&2
  exit 1
fi
echo "exports: all $(printf '%s\n' "$want" | wc -l) public functions, nothing else"
