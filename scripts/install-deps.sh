#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Vellumo need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
    # build
    g++ cmake ninja-build pkg-config
    # Qt 6: widgets, printing, tests, German translations of Qt's own dialogs
    qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-image-formats-plugins
    qt6-translations-l10n libxkbcommon-dev
    # fonts with the metrics of the layouts' fonts
    fonts-liberation fonts-liberation2
    # tests and benchmarks: GoogleTest for the engine, pxlib as an independent reader
    libgtest-dev libbenchmark-dev pxlib-dev
    # a display for looking at the program on a machine without one
    xvfb xauth
)
if [[ "${1:-}" == "--fuzz" ]]; then
    packages+=(clang libclang-rt-14-dev)
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${packages[@]}"
