#!/usr/bin/env bash
# The layering rules of docs/ARCHITECTURE.md, checked on every #include:
# - the main window and start-up (app/) hand every window its collaborators,
#   so nothing else includes app/;
# - a library folder (the address model, the exchange, the sync, the search,
#   the label sheets) includes no window folder, so the tool and the
#   sanitizer build link it without widgets;
# - nothing in platform/ includes a subsystem, and the table engine includes
#   nothing of Qt;
# - no two folders include each other;
# - every folder with sources has its place below; a new folder fails the
#   check until it is given one.
# Prints every offending line; fails if there is one.
set -uo pipefail
src="${1:-$(dirname "$0")/../src}"
cd "$src" || exit 2

top=(app)
windows=(data find pictures aids print exchange/ui sync/ui duplicates/ui)
libraries=(address exchange sync search duplicates print/labels)

found=0
offend() {
    echo "$1: $2"
    found=1
}
in_list() {
    local item=$1
    shift
    local x
    for x in "$@"; do [[ $x == "$item" ]] && return 0; done
    return 1
}
kind_of() {
    if in_list "$1" "${top[@]}"; then echo top
    elif in_list "$1" "${windows[@]}"; then echo windows
    elif in_list "$1" "${libraries[@]}"; then echo library
    elif [[ $1 == platform/* ]]; then echo platform
    else echo none
    fi
}

declare -A edge
include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
while IFS= read -r -d '' file; do
    file=${file#./}
    folder=$(dirname "$file")
    kind=$(kind_of "$folder")
    if [[ $kind == none ]]; then
        offend "$file" "the folder $folder has no place in scripts/check-includes.sh"
        continue
    fi
    lineno=0
    while IFS= read -r line; do
        lineno=$((lineno + 1))
        [[ $line =~ $include_re ]] || continue
        target=${BASH_REMATCH[1]}
        where="$file:$lineno"
        [[ $target == */* ]] || continue # a generated header beside the file
        to=$(dirname "$target")
        [[ $to == "$folder" ]] || edge["$folder>$to"]="$where"
        to_kind=$(kind_of "$to")
        if [[ $kind != top ]] && { [[ $to_kind == top ]] || [[ $target == ui_hauptformular.h ]]; }; then
            offend "$where" "only app/ includes app/ ($target)"
        fi
        if [[ $kind == library ]] && [[ $to_kind == windows ]]; then
            offend "$where" "the library $folder includes the windows of $to ($target)"
        fi
        if [[ $kind == platform ]] && [[ $to != platform/* ]]; then
            offend "$where" "platform/ includes a subsystem ($target)"
        fi
    done <"$file"
done < <(find . -type f \( -name '*.h' -o -name '*.cpp' \) -print0)

for key in "${!edge[@]}"; do
    from=${key%%>*}
    to=${key#*>}
    if [[ -n ${edge["$to>$from"]:-} ]] && [[ $from < $to ]]; then
        offend "${edge[$key]}" "$from and $to include each other (also ${edge["$to>$from"]})"
    fi
done

if grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]Q' \
    platform/paradox; then
    offend "platform/paradox" "the table engine includes Qt (lines above)"
fi

[[ $found -eq 0 ]] || exit 1
echo "include rules hold"
