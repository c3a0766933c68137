#!/bin/sh
# Runs the registry probe natively (over winsys, in a fresh prefix) and under
# Wine (the mingw build, in a fresh Wine prefix) and requires the same output.
# usage: compare_probe.sh NATIVE_PROBE WINDOWS_PROBE.exe
set -eu
native=$1
windows=$2
work=$(mktemp -d /tmp/winsys-probe-XXXXXX)
# The run's shared Wine prefix serves when there is one; a prefix of our own
# is removed only after its wineserver has gone, or files still appear in it.
if [ -n "${WINEPREFIX:-}" ]; then
    trap 'rm -rf "$work"' EXIT
else
    WINEPREFIX="$work/wine"
    trap 'WINEPREFIX="$work/wine" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fi
export WINEPREFIX
QLTMSI_PREFIX="$work/prefix" "$native" > "$work/native.txt"
WINEDEBUG=-all wine "$windows" 2>/dev/null | tr -d '\r' > "$work/wine.txt"
if ! diff -u "$work/wine.txt" "$work/native.txt"; then
    echo "winsys differs from Wine (lines marked + are winsys)" >&2
    exit 1
fi
echo "$(wc -l < "$work/native.txt") lines agree"
