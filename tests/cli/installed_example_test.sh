#!/bin/bash
# Installs the build into a directory inside the build tree, then builds and
# runs the example program against it, once through find_package and once
# through pkg-config.
set -euo pipefail
build=$1 source=$2
work=$build/installed-example
rm -rf "$work"
cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/qltmsi bin/rundll32 lib/libqltmsi32.so lib/libwinsys.so lib/cabinet.dll.so \
         include/qltmsi.h lib/cmake/qltmsi/qltmsiConfig.cmake lib/pkgconfig/qltmsi.pc; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
export QLTMSI_PREFIX=$work/wineprefix TMPDIR=$work
cmake -S "$source/examples" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/show_message"
PKG_CONFIG_PATH=$work/prefix/lib/pkgconfig \
  cmake -S "$source/examples" -B "$work/pkgconfig" -DUSE_PKG_CONFIG=ON >/dev/null
cmake --build "$work/pkgconfig" >/dev/null
"$work/pkgconfig/show_message"
# The installed program runs from the installed tree alone.
"$work/prefix/bin/qltmsi" --help >/dev/null
rm -rf "$work"
echo "installed example: 2 passed, 0 failed"
