#!/usr/bin/env bash
# The layering rules of docs/ARCHITECTURE.md, checked on every #include:
# no subsystem includes anything of app/ (the main window and start-up hand
# every window its collaborators, so none needs to look them up), nothing in
# platform/ includes a subsystem, the sync's library (sync/ outside its windows
# in sync/ui/) includes no windows of the program, so the tool links it without
# widgets, and the table engine includes nothing of Qt.
# Prints every offending line; fails if there is one.
set -uo pipefail
src="${1:-$(dirname "$0")/../src}"
cd "$src" || exit 2

found=0
offend() {
    echo "$1: $2"
    found=1
}

include_re='^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)"'
while IFS= read -r -d '' file; do
    folder=${file%%/*}
    lineno=0
    while IFS= read -r line; do
        lineno=$((lineno + 1))
        [[ $line =~ $include_re ]] || continue
        target=${BASH_REMATCH[1]}
        where="$file:$lineno"
        case $folder in
        data | find | print | pictures | aids | sync | search | address)
            if [[ $target == app/* ]] || [[ $target == ui_hauptformular.h ]]; then
                offend "$where" "a subsystem includes app/ ($target)"
            fi
            if [[ $folder == sync ]] && [[ $file != sync/ui/* ]]; then
                top=${target%%/*}
                if { [[ $top =~ ^(data|find|print|pictures|aids)$ ]] && [[ $target != data/address* ]]; } ||
                    [[ $target == ui_* ]] ||
                    [[ $target == sync/ui/* ]] || [[ $target == platform/ui/* ]]; then
                    offend "$where" "the sync's library includes a window ($target)"
                fi
            fi
            ;;
        platform)
            top=${target%%/*}
            if [[ $top =~ ^(app|data|find|print|pictures|aids|sync|search|address)$ ]]; then
                offend "$where" "platform/ includes a subsystem ($target)"
            fi
            ;;
        esac
    done <"$file"
done < <(find data find print pictures aids sync search address platform -type f \( -name '*.h' -o -name '*.cpp' \) -print0 2>/dev/null)

if grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]Q' \
    platform/paradox; then
    offend "platform/paradox" "the table engine includes Qt (lines above)"
fi

# The search rules are a library without windows (the tool uses them).
if grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]Q(Widget|Abstract|LineEdit|Tree)' \
    search address; then
    offend "search" "a library without windows includes widgets (lines above)"
fi

[[ $found -eq 0 ]] || exit 1
echo "include rules hold"
