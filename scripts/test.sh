#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the Linux
# build over winsys (with the peer checks), then the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake --preset default >/dev/null
cmake --build --preset default
ctest --preset default

# The Windows build runs in a Wine prefix of its own, made fresh for this run.
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/qltmsi-wine.XXXXXX)
export WINEPREFIX
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1 || true
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
ctest --preset mingw-i686
