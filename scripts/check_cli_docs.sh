#!/usr/bin/env bash
# Checks the manual page and the shell completions kept beside the program:
# the page renders without a warning, both completions parse, and the bash
# completion offers what it should.
set -euo pipefail
cd "$(dirname "$0")/.."

warnings=$(groff -man -ww -z cli/tarn.1 2>&1)
if [ -n "$warnings" ]; then
  printf 'manual: groff warnings:\n%s\n' "$warnings" >&2
  exit 1
fi
echo "manual: renders without warnings"
bash -n cli/completions/tarn.bash
zsh -n cli/completions/_tarn
echo "completions: both parse"
bash tests/cli/completion_test.sh
