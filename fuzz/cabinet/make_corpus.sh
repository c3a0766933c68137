#!/bin/sh
# Seed corpus for fdi_copy_fuzzer: small cabinets made by gcab, stored and
# MSZIP-compressed, with one file, several files, an empty file and one
# large enough for several data blocks.
# Usage: make_corpus.sh DIR
set -e
out=${1:?usage: make_corpus.sh DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'hello\n' > a.txt
printf 'second file\n' > b.txt
: > empty.txt
# Two data blocks of text that compresses; the second refers back to the first.
awk 'BEGIN { for (i = 0; i < 3000; i++) printf "line %d of the seed\n", i % 97 }' > big.txt
gcab -c "$out/stored-one.cab" a.txt
gcab -c -z "$out/mszip-one.cab" a.txt
gcab -c -z "$out/mszip-three.cab" a.txt b.txt empty.txt
gcab -c -z "$out/mszip-blocks.cab" big.txt
