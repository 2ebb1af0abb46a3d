#!/usr/bin/env bash
# Checks the manual pages and the shell completions kept beside the programs:
# both pages render without a warning, both completions parse, and the bash
# completion offers what it should.
set -euo pipefail
cd "$(dirname "$0")/.."

for page in cli/tarn.1 demo/tarn-demo-service.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    printf 'manual: groff warnings in %s:\n%s\n' "$page" "$warnings" >&2
    exit 1
  fi
done
echo "manual: both pages render without warnings"
bash -n cli/completions/tarn.bash
zsh -n cli/completions/_tarn
echo "completions: both parse"
bash tests/cli/completion_test.sh
