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
