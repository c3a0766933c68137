#!/bin/sh
# What the Windows test program left behind, read from Linux with msitools:
# the package it compacted must hold the same tables and streams as the
# package it started from (the stream it added and deleted is gone again).
set -eu
dir=$1
original=$dir/sample_product.msi
compacted=$dir/defrag_compacted.msi
if [ ! -f "$compacted" ]; then
  echo "no compacted package: windows_dll_test did not leave one" >&2
  exit 1
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/original" "$scratch/compacted"
(cd "$scratch/original" && msidump -t -s "$original" >/dev/null)
(cd "$scratch/compacted" && msidump -t -s "$compacted" >/dev/null)
diff -r "$scratch/original" "$scratch/compacted"
[ "$(msiinfo streams "$original" | sort)" = "$(msiinfo streams "$compacted" | sort)" ]
echo "compacted package dumps as the original"

# The commit's cab cache: a package whose QuilletCab stream is a sound
# cabinet holding the replaced file under its File key with the new bytes.
cabcache=$dir/committed_cabcache.msi
if [ -f "$cabcache" ]; then
  msiinfo streams "$cabcache" | grep -qx QuilletCab
  mkdir "$scratch/cab"
  (cd "$scratch/cab" && msiinfo extract "$cabcache" QuilletCab > QuilletCab.cab)
  cabextract -q -t "$scratch/cab/QuilletCab.cab"
  (cd "$scratch/cab" && cabextract -q QuilletCab.cab)
  [ "$(cat "$scratch/cab/readme.txt")" = "version three, longer" ]
  msiinfo export "$dir/committed_package.msi" File | grep -q "readme.txt"
  echo "committed cab cache holds the new readme.txt"
fi
