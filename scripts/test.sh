#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the Linux
# build over winsys (with the peer checks), then the Windows DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Wine runs in a prefix of its own, made fresh for this run; the Linux
# differential probes and the Windows build both use it. Creating it takes
# 10-20 s, so it starts now and builds while the Linux part compiles.
export WINEDEBUG=-all
WINEPREFIX=$(mktemp -d /tmp/qltmsi-wine.XXXXXX)
export WINEPREFIX
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
wineboot -i >/dev/null 2>&1 &
wineboot_pid=$!

cmake --preset default >/dev/null
cmake --build --preset default
wait "$wineboot_pid" || true
ctest --preset default

# The Windows builds: qltmsi32.dll and its test program, run under Wine
# (the prefix runs both the 32-bit and the 64-bit program).
wine_part_started=$SECONDS
for preset in mingw-i686 mingw-x86_64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  status=0
  ctest --preset "$preset" || status=$?
  # The Windows programs' own summary lines, which CTest keeps in its log.
  grep -hE '^\[  (PASSED|FAILED)  \] [0-9]+ test|[0-9]+ passed, [0-9]+ failed|^narrow path:|qltmsi32.dll: [0-9]+ imports' \
    "build/$preset/Testing/Temporary/LastTest.log" | sed "s/^/$preset: /" || true
  [[ $status -eq 0 ]] || exit "$status"
done
echo "Wine part (mingw-i686 and mingw-x86_64, build and tests): $((SECONDS - wine_part_started)) s"
