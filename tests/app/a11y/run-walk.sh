#!/bin/sh
# The accessibility walk needs a display, a D-Bus session and the
# accessibility bus; it brings its own, so it runs the same as root in CI.
# Exit 77: skipped, and why is printed.
for tool in dbus-run-session xvfb-run; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
# The system's Python has the Debian bindings; another one first on PATH may not.
python=
for candidate in /usr/bin/python3 python3; do
    if "$candidate" -c 'import pyatspi' 2>/dev/null; then python=$candidate; break; fi
done
[ -n "$python" ] || { echo "SKIP: python3-pyatspi is not installed"; exit 77; }
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d)}"
# The display first: the bus's services (the registry that types the keys)
# must know it.
exec xvfb-run -a -s "-screen 0 1024x768x24" \
    dbus-run-session -- "$python" "$(dirname "$0")/walk.py" "$1"
