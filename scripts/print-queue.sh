#!/usr/bin/env bash
# Makes sure a print server runs with a cups-pdf queue "PDF" as the default
# printer, so the printing tests can print for real (the files land in
# ~/PDF). Safe to run again. Never fails: where CUPS cannot be started the
# real-printer test skips and says why.
set -u

running() { lpstat -r 2>/dev/null | grep -q '^scheduler is running'; }

if ! command -v cupsd >/dev/null || ! command -v lpadmin >/dev/null; then
    echo "print-queue: CUPS is not installed; the real-printer test will skip" >&2
    exit 0
fi

if ! running; then
    /usr/sbin/cupsd >/dev/null 2>&1 || true
    for _ in $(seq 1 50); do
        running && break
        sleep 0.1
    done
fi
if ! running; then
    echo "print-queue: cupsd could not be started; the real-printer test will skip" >&2
    exit 0
fi

if ! lpstat -p PDF >/dev/null 2>&1; then
    ppd=$(ls /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null || true)
    if [ -n "$ppd" ]; then
        lpadmin -p PDF -E -v cups-pdf:/ -P "$ppd" >/dev/null 2>&1 || true
    else
        lpadmin -p PDF -E -v cups-pdf:/ -m lsb/usr/cups-pdf/CUPS-PDF_opt.ppd >/dev/null 2>&1 || true
    fi
fi
# A second cups-pdf queue whose printer description reserves 5 mm at every
# paper edge, as a real printer does: the tests check that no row of the list
# is placed where such a printer cannot print.
if ! lpstat -p PDF-Rand >/dev/null 2>&1; then
    ppd=$(ls /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd 2>/dev/null || true)
    if [ -n "$ppd" ]; then
        margins=$(mktemp --suffix=.ppd)
        awk '/^\*ImageableArea / && match($0, /"[^"]*"/) {
                 split(substr($0, RSTART + 1, RLENGTH - 2), v, " ")
                 printf "%s\"14.17 14.17 %.2f %.2f\"\n", substr($0, 1, RSTART - 1), v[3] - 14.17, v[4] - 14.17
                 next
             }
             /^\*HWMargins:/ { print "*HWMargins: 14.17 14.17 14.17 14.17"; next }
             { print }' "$ppd" >"$margins"
        lpadmin -p PDF-Rand -E -v cups-pdf:/ -P "$margins" >/dev/null 2>&1 || true
        rm -f "$margins"
    fi
fi
if lpstat -p PDF >/dev/null 2>&1; then
    lpadmin -d PDF >/dev/null 2>&1 || true
    echo "print-queue: default printer $(lpstat -d 2>/dev/null | sed 's/.*: //')"
else
    echo "print-queue: the cups-pdf queue could not be set up; the real-printer test will skip" >&2
fi
exit 0
