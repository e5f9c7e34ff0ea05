#!/usr/bin/env bash
# Installs what is needed, builds Vellumo and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target vellumo

program=build/default/src/app/vellumo
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Kein Bildschirm gefunden (DISPLAY ist nicht gesetzt)."
    echo "Vellumo ist gebaut. Ohne Bildschirm starten Sie es so in einem virtuellen:"
    echo "  xvfb-run -a -s \"-screen 0 1024x768x24\" $program"
    exit 0
fi
exec "$program"
