#!/usr/bin/env bash
# Installs the Python package as a user without a network does (a venv of
# Debian's python3, its setuptools and wheel, no build isolation) and runs
# the package's pytest suite against that installed copy, with the
# library and demo service of a build.
#
#   bash scripts/python_check.sh        (after building tarn-client and
#                                        tarn-demo-service in build/)
#
# TARN_BUILD: the build (build).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${TARN_BUILD:-build}" && pwd)
# Debian's interpreter, which python3-pytest serves; another python3 may
# come first on PATH.
python=/usr/bin/python3

fail() {
  echo "python: $*" >&2
  exit 1
}
"$python" -c 'import pytest, setuptools, wheel' 2>/dev/null ||
  fail "pytest, setuptools or wheel is missing for $python; run scripts/setup.sh --test"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$python" -m venv --system-site-packages "$tmp/venv"
"$tmp/venv/bin/pip" install -q --no-index --no-build-isolation ./python >"$tmp/pip.log" 2>&1 ||
  fail "pip install ./python failed: $(cat "$tmp/pip.log")"

# From another folder and without the source on the path, the tests
# import the installed copy.
status=0
(cd "$tmp" && TARN_BUILD=$build "$tmp/venv/bin/python" -m pytest -p no:cacheprovider -rs \
  -c "$src/python/pyproject.toml" -o pythonpath= --rootdir "$src/python" "$src/python/tests") |
  tee "$tmp/pytest.log" || status=$?
[ "$status" -ne 5 ] || fail "pytest ran no tests"
[ "$status" -eq 0 ] || fail "pytest failed (exit $status)"
grep -q "^tarn package: $tmp/venv/" "$tmp/pytest.log" || fail "the tests did not use the installed package"
