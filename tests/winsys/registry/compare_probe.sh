#!/bin/sh
# Runs the registry probe natively (over winsys, in a fresh prefix) and under
# Wine (the mingw build, in a fresh Wine prefix) and requires the same output.
# usage: compare_probe.sh NATIVE_PROBE WINDOWS_PROBE.exe
set -eu
native=$1
windows=$2
work=$(mktemp -d /tmp/winsys-probe-XXXXXX)
trap 'rm -rf "$work"' EXIT
QLTMSI_PREFIX="$work/prefix" "$native" > "$work/native.txt"
WINEPREFIX="$work/wine" WINEDEBUG=-all wine "$windows" 2>/dev/null | tr -d '\r' > "$work/wine.txt"
if ! diff -u "$work/wine.txt" "$work/native.txt"; then
    echo "winsys differs from Wine (lines marked + are winsys)" >&2
    exit 1
fi
echo "$(wc -l < "$work/native.txt") lines agree"
