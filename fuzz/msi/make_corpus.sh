#!/bin/sh
# Seed corpus for msi_fuzz: packages made by the peers (wixl from the test
# sources, msibuild with tables of every column type and a stream), kept
# small: a run reads every table of every input.
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
wixl -a x64 -o "$out/x64.msi" "$here/../../tests/data/msi/x64.wxs" 2>/dev/null
printf 'Id\tBig\tSmall\tText\tLocal\r\ni2\tI4\tI2\tS20\tL0\r\nNums\tId\r\n-3\t2147483647\t-32767\t\tone\r\n1\t\t7\tone\t\r\n' > Nums.idt
msibuild "$out/msibuild.msi" -i Nums.idt -a cab.stream data.bin \
    -q "CREATE TABLE \`Two\` (\`A\` CHAR(10) NOT NULL, \`B\` SHORT NOT NULL PRIMARY KEY \`A\`, \`B\`)" \
    -q "INSERT INTO \`Two\` (\`A\`,\`B\`) VALUES ('b',2)" \
    -s 'Title' 'Someone' 'Intel;1033' '{12345678-1234-1234-1234-123456789ABC}'
