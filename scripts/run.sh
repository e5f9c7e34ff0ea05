#!/usr/bin/env bash
# Installs what is needed, builds Vellumo and starts it.
#
# On a first run, when no default table is set, it makes a small example table
# once (scripts/example-table.sh) and sets it as the default table, so the
# program opens on addresses. Started directly, the program itself opens only
# a default table the user has set.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target vellumo vellumo-table

program=build/default/src/app/vellumo
tool=build/default/tools/vellumo-table/vellumo-table

# Setup.ini lies where the program keeps it: beside the program when that
# directory is writable, otherwise in the user's configuration (README, "Settings").
settings=$(dirname "$program")
if [[ ! -w $settings ]]; then
    config=${XDG_CONFIG_HOME:-}
    [[ $config == /* ]] || config=$HOME/.config
    settings=$config/Vellumo
fi

bash scripts/example-table.sh "$tool" "$settings/Setup.ini"

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Kein Bildschirm gefunden (DISPLAY ist nicht gesetzt)."
    echo "Vellumo ist gebaut. Ohne Bildschirm starten Sie es so in einem virtuellen:"
    echo "  xvfb-run -a -s \"-screen 0 1024x768x24\" $program"
    exit 0
fi
exec "$program"
