#!/usr/bin/env bash
# Runs fuzz_reader, seeded from the sample tables beside the project.
#   fuzz/run-fuzz-reader.sh [seconds] [extra libFuzzer options...]
# The seeds are made at run time from ../shared/paradox-samples; they are not
# part of the repository. Findings land in build/fuzz/findings/.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${FUZZ_BUILD:-$root/build/fuzz}
samples=${VELLUMO_SHARED_DIR:-$root/../shared}/paradox-samples
seconds=${1:-1800}
shift || true

corpus=$build/corpus
seeds=$build/seeds
mkdir -p "$corpus" "$seeds" "$build/findings"
sep=$'\n--vellumo-fuzz-piece--\n'

companion() { # table path, extension -> the companion whatever its case
    find "$(dirname "$1")" -maxdepth 1 -type f -iname "$(basename "${1%.*}").$2" | head -n 1
}

if [[ -d "$samples" ]]; then
    while IFS= read -r -d '' db; do
        name=$(basename "$db")
        px=$(companion "$db" px)
        mb=$(companion "$db" mb)
        {
            cat "$db"
            if [[ -n "$px" || -n "$mb" ]]; then
                printf '%s' "$sep"
                [[ -n "$px" ]] && cat "$px"
                if [[ -n "$mb" ]]; then
                    printf '%s' "$sep"
                    cat "$mb"
                fi
            fi
        } >"$seeds/$name.seed"
    done < <(find "$samples" -type f -iname '*.db' -print0)
fi

printf 'sep="%s"\n' '\x0a--vellumo-fuzz-piece--\x0a' >"$build/fuzz_reader.dict"

cd "$build/findings"
exec "$build/fuzz/fuzz_reader" "$corpus" "$seeds" -dict="$build/fuzz_reader.dict" \
    -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=5 -max_len=131072 \
    -print_final_stats=1 "$@"
