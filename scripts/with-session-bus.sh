#!/usr/bin/env bash
# Runs a command on a session bus of its own, with nothing else on it (no
# keyring): a test starts there what it needs. Without dbus-run-session the
# command runs as it is, and the parts of a test that need the bus skip.
set -uo pipefail
if ! command -v dbus-run-session >/dev/null; then
    exec "$@"
fi
exec dbus-run-session -- "$@"
