#!/bin/bash
# qltmsi.exe, the command line's Windows build, under Wine through the flow a
# person runs: a product installed by the system's msiexec, then products,
# verify, patch (its refusals, a replacement with and without a backup, a
# removal), defrag, and restores through 'run' and 'restore'. Each refusal
# must exit 1 with a message and leave the cached package byte for byte as it
# was; the packages are read back from Linux with msitools. The system's
# installer cannot make reverse transforms, so the Linux build's
# make_reverse_transform makes them and the undo entries are written as a
# commit would have written them.
# Usage: cli_flow.sh BIN_DIR SOURCE_DIR MAKE_REVERSE_TRANSFORM PROCESSOR
set -uo pipefail
bin=$1 source=$2 maker=$3 processor=$4
if [[ ! -x $maker ]]; then
  echo "no $maker: build the default preset first" >&2
  exit 77
fi
. "$source/tests/windows/wine_launcher.sh"
product='{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}'
work=$bin/cli_flow
rm -rf "$work"
mkdir -p "$work/undo"
uninstall() { wine msiexec /x "$product" /qn >/dev/null 2>&1 || true; }
trap 'uninstall; wine_reg delete "HKLM\Software\Brambleway\Quillet\MsiRegUndo" /f >/dev/null 2>&1' EXIT
passed=0 failed=0
check() {  # name, then a command that must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}
# The program's output with the console's line ends taken off.
qltmsi() { wine "$bin/qltmsi.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

uninstall
cp "$source/examples/demo/v1/"* "$work/"
(cd "$work" && wixl -o demo.msi "$source/examples/demo/sample.wxs") || exit 1
wine msiexec /i "$(winepath -w "$work/demo.msi")" /qn || { echo "msiexec could not install the product"; exit 1; }

package_win=$(qltmsi products | awk -F'\t' -v p="$product" '$1 == p { print $4 }')
# Through the prefix's dosdevices link the native path holds "c:", which
# is no file name for the host program; the link resolved, it is plain.
package=$(realpath "$(winepath -u "$package_win")")
check "products lists the product and its cached package" test -f "$package"
cp "$package" "$work/original.msi"
fresh=$(qltmsi verify --product "$product")
check "verify a fresh install" test $? -eq 0
# Where the system's installer put the files (on a 64-bit system a 32-bit
# product goes under Program Files (x86)); verify reads it from the registry.
installed=$(sed -n 's/^ok   \(.*\)\\notes\.txt .*/\1/p' <<<"$fresh")
check "verify names the installed folder" test -n "$installed"
installed_native=$(realpath "$(winepath -u "$installed")")
v2=$(winepath -w "$source/examples/demo/v2")

unchanged() { cmp -s "$package" "$work/original.msi"; }
# A refusal: exit code 1, a message matching the pattern, the package unchanged.
refused() {
  local pattern=$1; shift
  local out status
  out=$(qltmsi "$@" 2>&1 >/dev/null); status=$?
  echo "  refused ($status): $out"
  [[ $status -eq 1 ]] || { echo "exit $status, wanted 1: $out"; return 1; }
  grep -qiE "$pattern" <<<"$out" || { echo "message '$out' lacks /$pattern/"; return 1; }
  unchanged || { echo "the package changed"; return 1; }
}
check "usage error" bash -c "wine '$bin/qltmsi.exe' patch --product x >/dev/null 2>&1; [[ \$? -eq 2 ]]"
check "unknown product" refused "1605" patch --product '{00000000-0000-0000-0000-000000000000}' \
  --replace "$installed\\notes.txt=$v2\\notes.txt"
check "missing new file" refused "does not exist" patch --product "$product" \
  --replace "$installed\\notes.txt=$v2\\no-such-file.txt"
check "file not in the package" refused "status (259|1615)" patch --product "$product" \
  --replace "$installed\\other.txt=$v2\\notes.txt"
check "bad backup directory" refused "does not exist" patch --product "$product" \
  --replace "$installed\\notes.txt=$v2\\notes.txt" --backup 'C:\no\such\dir'
check "unknown undo entry (restore)" refused "no undo entry" restore nosuch
check "unknown undo entry (run)" refused "no undo entry" run "rundll32 qltmsi32.dll,QltMsiBackupSvr nosuch"

# A replacement with a backup: the package is patched; the undo record needs a
# reverse transform, which the system's installer cannot generate, so the
# program says that no undo record was made (message 12, status 4098).
out=$(qltmsi patch --product "$product" --replace "$installed\\notes.txt=$v2\\notes.txt" \
  --backup "$(winepath -w "$work/undo")" 2>&1)
status=$?
echo "  patch with a backup ($status): $out"
if [[ $status -eq 0 ]]; then
  check "patch prints the backup string" grep -q "QltMsiBackupSvr" <<<"$out"
else
  check "patch says no undo record was made" grep -q "no undo record was made.*status 4098" <<<"$out"
fi
check "the package changed" bash -c "! cmp -s '$package' '$work/original.msi'"
size=$(stat -c %s "$source/examples/demo/v2/notes.txt")
check "File row has the new size" bash -c \
  "msiinfo export '$package' File | tr -d '\r' | grep -P '^notes.txt\t' | grep -qw $size"
check "db dump shows the new size" bash -c \
  "wine '$bin/qltmsi.exe' db dump '$package_win' File | tr -d '\r' | grep -P '^notes.txt\t' | grep -qw $size"
check "replace without a backup" qltmsi patch --product "$product" \
  --replace "$installed\\settings.ini=$v2\\settings.ini"
cp "$source/examples/demo/v2/notes.txt" "$source/examples/demo/v2/settings.ini" "$installed_native/"
after=$(qltmsi verify --product "$product")
check "verify after the patch" test $? -eq 0
check "verify lists the cab cache" grep -q QuilletCab <<<"$after"
# One flipped byte in the data of the cab cache's cabinet: verify reads it in
# full through the system's FDI and must fail; put back, it passes again.
holder_win=$(sed -n 's/^cabinet stream QuilletCab of \(.*\):$/\1/p' <<<"$after")
holder=$(realpath "$(winepath -u "$holder_win")")
cp "$holder" "$work/holder.msi"
rm -rf "$work/dump" && mkdir "$work/dump" && msidump -s -d "$work/dump" "$holder" >/dev/null
cab=$work/dump/_Streams/QuilletCab
start=$(od -An -tu4 -j36 -N4 "$cab" | tr -d ' ')
length=$(od -An -tu2 -j$((start + 4)) -N2 "$cab" | tr -d ' ')
at=$((start + 8 + length / 2))
byte=$(od -An -tu1 -j$at -N1 "$cab" | tr -d ' ')
printf "\\x$(printf %02x $((byte ^ 0x10)))" | dd of="$cab" bs=1 seek=$at conv=notrunc status=none
msibuild "$holder" -a QuilletCab "$cab"
damaged=$(qltmsi verify --product "$product"); status=$?
check "verify fails on a flipped byte in the cab cache" test "$status" -eq 1
check "verify names the damaged cabinet" grep -q "^DIFF stream QuilletCab of" <<<"$damaged"
cp "$work/holder.msi" "$holder"
qltmsi verify --product "$product" >/dev/null
check "verify after the cab cache is put back" test $? -eq 0
cp "$package" "$work/patched.msi"

# A restore through 'run', as a caller runs the backup string.
server=$(winepath -w "$bin/qltmsi32.dll")
wine_reg add 'HKLM\Software\Brambleway\Quillet' /v MsiBackupServer /t REG_SZ /d "$server" /f >/dev/null
undo_entry() {  # entry name, package before, package after, package code recorded
  local key="HKLM\\Software\\Brambleway\\Quillet\\MsiRegUndo\\$1"
  rm -f "$work/undo/$1.mst"
  QLTMSI_PREFIX=$work/host-prefix "$maker" "$2" "$3" "$work/undo/$1.mst" || return 1
  wine_reg add "$key" /v ProductGuid /t REG_SZ /d "$product" /f >/dev/null
  wine_reg add "$key" /v RevTransform /t REG_SZ /d "$(winepath -w "$work/undo/$1.mst")" /f >/dev/null
  wine_reg add "$key" /v PackageGuid /t REG_SZ /d "$4" /f >/dev/null
}
package_code() { msiinfo suminfo "$1" | sed -n 's/^Revision number (UUID): //p'; }
entry_present() { wine_reg query "HKLM\\Software\\Brambleway\\Quillet\\MsiRegUndo\\$1" >/dev/null 2>&1; }
entry_gone() { ! entry_present "$1"; }
same_tables() {  # package, package
  local a b
  a=$(mktemp -d) b=$(mktemp -d)
  (cd "$a" && msidump -t -s "$1" >/dev/null) && (cd "$b" && msidump -t -s "$2" >/dev/null) &&
    diff -r "$a" "$b"
  local result=$?
  rm -rf "$a" "$b"
  return $result
}
check "undo entry written" undo_entry r1 "$work/original.msi" "$package" '{00000000-0000-0000-0000-000000000001}'
cp "$package" "$work/before_refusal.msi"
out=$(qltmsi restore r1 2>&1); status=$?
echo "  restore with another package code ($status): $out"
check "restore refuses another package code" test $status -eq 1
check "the refusal names the stop" grep -q "stopped" <<<"$out"
check "the refusal leaves the package" cmp -s "$package" "$work/before_refusal.msi"
check "the refusal leaves the entry" entry_present r1
# The same refusal through the system's rundll32: nothing changes, so the
# child's registry trace shows that the entry point itself ran and read the
# entry (rundll32 alone never opens it).
WINEDEBUG=trace+reg "$launcher" rundll32.exe "$server,QltMsiBackupSvr" r1 2>"$work/rundll32_trace.txt"
check "rundll32 ran the entry point" grep -q 'MsiRegUndo\\\\r1"' "$work/rundll32_trace.txt"
check "its refusal leaves the package" cmp -s "$package" "$work/before_refusal.msi"
check "its refusal leaves the entry" entry_present r1
wine_reg add 'HKLM\Software\Brambleway\Quillet\MsiRegUndo\r1' /v PackageGuid /t REG_SZ /d "$(package_code "$package")" /f >/dev/null
cab_cache=$(msiinfo export "$package" Property | tr -d '\r' | awk -F'\t' '$1 == "QuilletCabCache" { print $2 }')
check "the patched package names its cab cache" test -f "$(realpath "$(winepath -u "$cab_cache")")"
check "run the backup string" qltmsi run "rundll32 $server,QltMsiBackupSvr r1"
check "run removed the entry" entry_gone r1
check "run restored the tables" same_tables "$work/original.msi" "$package"
check "run removed the cab cache" test ! -e "$(winepath -u "$cab_cache")"

# A removal beside a replacement, then a restore through 'restore'.
check "remove a file beside a replacement" qltmsi patch --product "$product" \
  --replace "$installed\\notes.txt=$v2\\notes.txt" --remove "$installed\\license.txt"
check "its File row is gone" bash -c "! msiinfo export '$package' File | grep -q '^license.txt'"
check "undo entry written" undo_entry r2 "$work/original.msi" "$package" "$(package_code "$package")"
check "restore" qltmsi restore r2
check "restore removed the entry" entry_gone r2
check "restore restored the tables" same_tables "$work/original.msi" "$package"

# defrag: the compacted package holds the same tables and streams.
cp "$package" "$work/before_defrag.msi"
check "defrag the restored package" qltmsi defrag "$package_win"
check "defrag kept the tables" same_tables "$work/before_defrag.msi" "$package"
check "defrag kept the streams" bash -c \
  "[ \"\$(msiinfo streams '$work/before_defrag.msi' | sort)\" = \"\$(msiinfo streams '$package' | sort)\" ]"
check "verify after the restores" bash -c "wine '$bin/qltmsi.exe' verify --product '$product' >/dev/null 2>&1; [[ \$? -eq 1 ]]"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
