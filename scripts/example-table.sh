#!/usr/bin/env bash
# Usage: example-table.sh VELLUMO-TABLE SETUP-INI
#
# When SETUP-INI names no default table, makes the example table once
# (resources/demo/Beispiel.vcf through vellumo-table) in
# $XDG_DATA_HOME/Vellumo/Beispiel.db (by default ~/.local/share) and sets it
# as the default table. An example table the user has since let go (the
# default cleared, the file kept) is not set again.
set -euo pipefail
tool=$(realpath "$1")
setup=$2
cards=$(realpath "$(dirname "$0")/../resources/demo/Beispiel.vcf")

if current=$("$tool" setting "$setup" Standardtabelle FileName) && [[ -n $current ]]; then
    exit 0
fi
data=${XDG_DATA_HOME:-}
[[ $data == /* ]] || data=$HOME/.local/share
data=$data/Vellumo
example=$data/Beispiel.db
[[ ! -e $example ]] || exit 0

mkdir -p "$data" "$(dirname "$setup")"
# Made aside and moved in whole, so a failed run leaves no half table behind.
work=$(mktemp -d "$data/.Beispiel.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$tool" create "$work/Beispiel.db" >/dev/null
"$tool" import "$work/Beispiel.db" "$cards" >/dev/null
for file in "$work"/Beispiel.*; do
    mv -n "$file" "$data/"
done
"$tool" setting "$setup" Standardtabelle FileName "$example"
echo "Beispieltabelle angelegt und als Standardtabelle eingetragen: $example"
