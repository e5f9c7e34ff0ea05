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
    # pictures: GraphicsMagick++ decodes BMP, WMF, GIF, PCX, JPEG and TGA
    libgraphicsmagick++1-dev
    # printing to the system's printer; a PDF queue for the printer test
    cups printer-driver-cups-pdf poppler-utils
    # help: Qt Help and qhelpgenerator
    qt6-tools-dev qt6-tools-dev-tools qt6-documentation-tools
    # vCard cross-check with an independent parser
    python3 python3-vobject
    # dBase and FoxPro fixtures of the import's tests, and an independent reader of them
    python3-dbf python3-dbfread
    # a display, a window manager and X tools for looking at the program
    xvfb xauth openbox x11-utils xclip imagemagick xdotool
    # shared compiler cache for the several build trees; the style check
    ccache clang-format
    # transliteration of names the table's code page cannot hold; the quick
    # search's folding of accents
    libicu-dev
    # phone numbers compared by their digits (country codes, national prefixes)
    libphonenumber-dev libprotobuf-dev
    # independent readers of what we write: vCards (khard), calendars
    khard python3-icalendar python3-dateutil
    # the screen reader's view of the program: the accessibility bus and its
    # Python client, a session bus under Xvfb
    at-spi2-core python3-pyatspi dbus-x11
    # the label makers' sheet formats, read at run time
    glabels-data
    # bank details: the Bundesbank's bank code list (names, places, BICs) and the
    # banks' account check-digit methods
    libktoblzcheck1-dev
    # a real CardDAV server for the sync tests, on the loopback only, and
    # vdirsyncer as the phone that syncs the same book into a folder of cards
    radicale vdirsyncer
    # the sync state beside a table: SQLite through Qt SQL
    libqt6sql6-sqlite
    # sync passwords in the desktop's keyring (Secret Service); GNOME Keyring
    # and a session bus stand in for the desktop in the keyring test
    libsecret-1-dev gnome-keyring dbus-x11
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
