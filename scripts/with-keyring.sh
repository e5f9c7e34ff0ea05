#!/usr/bin/env bash
# Runs a command as in a desktop session with a keyring: its own session bus
# and an unlocked GNOME Keyring in a private home. Without them the command
# runs as it is, and a test that needs the keyring skips.
set -uo pipefail
if ! command -v dbus-run-session >/dev/null || ! command -v gnome-keyring-daemon >/dev/null; then
    exec "$@"
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"
HOME=$home XDG_DATA_HOME=$home/share XDG_CONFIG_HOME=$home/config XDG_RUNTIME_DIR=$home/run \
    dbus-run-session -- bash -c \
    'printf test | gnome-keyring-daemon --unlock --components=secrets >/dev/null 2>&1; "$@"' \
    keyring "$@"
