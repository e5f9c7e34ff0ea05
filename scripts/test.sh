#!/usr/bin/env bash
# Installs what is needed, builds everything and runs every test: the whole
# program, then the table engine and the Qt Core libraries with their tests
# again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

# A real default printer (cups-pdf) for the printing tests; they skip without.
bash scripts/print-queue.sh

cmake --preset default
cmake --build --preset default -j "$jobs"
ctest --preset default -j "$jobs"

cmake --preset sanitize
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"   # sanitizer options: CMakePresets.json
