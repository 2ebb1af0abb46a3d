#!/usr/bin/env bash
# Sources the bash completion and checks what it offers for a few lines.
set -uo pipefail
cd "$(dirname "$0")/../.."
# shellcheck source=/dev/null
source cli/completions/tarn.bash

failures=0
expect() {  # expect "LINE" "WANTED REPLIES" (the last word of LINE is completed)
    local line=$1 want=$2
    read -r -a COMP_WORDS <<<"$line"
    [[ $line == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tarn
    local got="${COMPREPLY[*]}"
    if [[ $got != "$want" ]]; then
        echo "completion of [$line]: got [$got], want [$want]" >&2
        failures=$((failures + 1))
    fi
}

expect "tarn que" "query"
expect "tarn --format " "raw table csv tsv json"
expect "tarn --format t" "table tsv"
expect "tarn --host http://x ca" "cancel cancel-spid"
expect "tarn --format csv st" "storage storage-post"
expect "tarn query s d --fo" "--format"
expect "tarn -" "--host --format --max-time --keep-going --verbose --version --help -v -V -h --"
expect "tarn sh" "shell"
expect "tarn --keep-going sh" "shell"
expect "tarn help edit" "editgrid-load editgrid-apply"
expect "tarn ping x" ""
expect "tarn query s d @cli/completions/tarn.b" "@cli/completions/tarn.bash"

if [ "$failures" -ne 0 ]; then
    echo "completion: $failures failed" >&2
    exit 1
fi
echo "completion: all passed"
