#!/usr/bin/env bash
# Checks the manual pages and the shell completions kept beside the
# programs: each page renders without a warning, the demo service's page
# names every option its --help lists, both completions parse, and the bash
# completion offers what it should.
#
#   bash scripts/check_cli_docs.sh      (after a build in build/)
#
# TARN_BUILD: the build whose demo service is asked for its options (build).
set -euo pipefail
cd "$(dirname "$0")/.."

for page in cli/tarn.1 demo/tarn-demo-service.1; do
  warnings=$(groff -man -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    printf 'manual: %s: groff warnings:\n%s\n' "$page" "$warnings" >&2
    exit 1
  fi
done
echo "manual: both pages render without warnings"

service=${TARN_BUILD:-build}/demo/tarn-demo-service
[ -x "$service" ] || { echo "manual: $service is not built" >&2; exit 1; }
options=$("$service" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
[ -n "$options" ] || { echo "manual: $service --help lists no option" >&2; exit 1; }
for option in $options; do
  grep -qF -- "${option//-/\\-}" demo/tarn-demo-service.1 ||
    { echo "manual: demo/tarn-demo-service.1 does not describe $option" >&2; exit 1; }
done
echo "manual: the demo service's page describes $(wc -w <<<"$options") options"
bash -n cli/completions/tarn.bash
zsh -n cli/completions/_tarn
echo "completions: both parse"
bash tests/cli/completion_test.sh
