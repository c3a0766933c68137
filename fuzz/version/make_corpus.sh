#!/bin/sh
# Seed corpus for version_fuzz: the smallest modules that carry a version
# resource, PE32 and PE32+ DLLs from mingw-w64, and an ELF object with the
# resource image in the section our own modules carry it in.
# Usage: make_corpus.sh DIR
set -e
out=${1:?usage: make_corpus.sh DIR}
mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cat > version.rc <<'RC'
1 VERSIONINFO
FILEVERSION 1,2,3,4
PRODUCTVERSION 1,2,3,4
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904b0"
    BEGIN
      VALUE "FileVersion", "1.2.3.4"
      VALUE "ProductName", "Seed"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
RC
for arch in i686 x86_64; do
  $arch-w64-mingw32-windres -i version.rc -o $arch.o
  $arch-w64-mingw32-gcc -nostdlib -shared -s -Wl,--entry=0 -o "$out/$arch.dll" $arch.o
done
x86_64-w64-mingw32-windres -O res -i version.rc -o version.res
printf '' | cc -x c -c -o empty.o -
objcopy --add-section winsys_rsrc=version.res empty.o "$out/elf-section.o"
