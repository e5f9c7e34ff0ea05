#!/usr/bin/env bash
# The C++ sources keep the style of .clang-format: prints what clang-format
# would change and fails if it would change anything. Fix with
#   clang-format -i FILE…
# Checks the files git tracks (and new ones not ignored) in a checkout, every
# source file otherwise.
set -uo pipefail
cd "${1:-$(dirname "$0")/..}" || exit 2

formatter=$(command -v clang-format || command -v clang-format-14) || {
    echo "clang-format is missing (Debian package clang-format): scripts/install-deps.sh installs it"
    exit 2
}
folders=(src tools tests bench fuzz)
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' files < <(git ls-files -z --cached --others --exclude-standard -- \
        "${folders[@]/%//*.cpp}" "${folders[@]/%//*.h}")
else
    mapfile -d '' files < <(find "${folders[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) -print0)
fi
existing=()
for file in "${files[@]}"; do
    [[ -f $file ]] && existing+=("$file")
done
[[ ${#existing[@]} -gt 0 ]] || {
    echo "no C++ sources found"
    exit 2
}
"$formatter" --dry-run --Werror "${existing[@]}" || {
    echo "Not formatted as .clang-format asks (above); clang-format -i on those files fixes it."
    exit 1
}
echo "${#existing[@]} files formatted as .clang-format asks"
