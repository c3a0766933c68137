#!/bin/sh
# Seed corpus for idt_fuzz: tables as msidump writes them from a wixl
# package (rows of every column kind, the summary information, the code
# page), and small hand-written ones for what those lack (an object column,
# a table that exists, escaped characters, a forced code page).
# Usage: make_corpus.sh DIR
set -e
out=${1:?usage: make_corpus.sh DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'read me\n' > readme.txt
printf 'extra\n' > extra.txt
printf 'data' > data.bin
wixl -o product.msi "$here/../../tests/data/msi/product.wxs" 2>/dev/null
mkdir dump
msidump -d dump product.msi >/dev/null
for table in File Property Media Directory _SummaryInformation; do
  [ -f "dump/$table.idt" ] && cp "dump/$table.idt" "$out/wixl-$table.idt"
done
printf 'Name\tData\r\ns72\tv0\r\nBinary\tName\r\nblob\tblob\r\n' > "$out/object.idt"
printf 'Property\tValue\r\ns72\tl0\r\nProperty\tProperty\r\nA\tone\\ttab\\r\\nline\r\nB\t\r\n' > "$out/existing.idt"
printf '\r\n\r\n1252\t_ForceCodepage\r\n' > "$out/codepage.idt"
printf 'Id\tBig\tSmall\tText\r\ni2\tI4\tI2\tS20\r\nNums\tId\tBig\r\n-3\t2147483647\t-32767\t\r\n1\t\t7\tone\r\n' > "$out/numbers.idt"
