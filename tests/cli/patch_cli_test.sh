#!/bin/bash
# qltmsi patch, verify, run and restore end to end on a wixl-made product in a
# fresh prefix, and the refusals: each must print a message, exit 1 and leave
# the cached package byte for byte as it was.
set -uo pipefail
bin=$1 source=$2
export PATH=$bin:$PATH
work=$(mktemp -d "${TMPDIR:-/tmp}/qltmsi-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QLTMSI_PREFIX=$work/prefix TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$work/undo"
passed=0 failed=0
check() {  # name, then a command that must succeed
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

cp "$source/examples/demo/v1/"* "$work/"
(cd "$work" && wixl -o demo.msi "$source/examples/demo/sample.wxs") || exit 1
qltmsi install "$work/demo.msi" >/dev/null || exit 1
product='{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}'
package=$(qltmsi products | awk -F'\t' -v p="$product" '$1 == p { print $4 }')
installed='C:\Program Files\Demo Notes'
native_installed=$QLTMSI_PREFIX/drive_c/Program\ Files/Demo\ Notes
package_native=$QLTMSI_PREFIX/drive_c/${package:3}
package_native=${package_native//\\//}
cp "$package_native" "$work/original.msi"

unchanged() { cmp -s "$package_native" "$work/original.msi"; }
# A refusal: exit code 1, a message naming the cause, the package unchanged.
refused() {
  local pattern=$1; shift
  local out status
  out=$(qltmsi patch "$@" 2>&1 >/dev/null); status=$?
  echo "  refused ($status): $out"
  [[ $status -eq 1 ]] || { echo "exit $status, wanted 1: $out"; return 1; }
  grep -qiE "$pattern" <<<"$out" || { echo "message '$out' lacks /$pattern/"; return 1; }
  unchanged || { echo "the package changed"; return 1; }
}

check "verify a fresh install" qltmsi verify --product "$product" >/dev/null
check "usage error" bash -c "qltmsi patch --product x >/dev/null 2>&1; [[ \$? -eq 2 ]]"
check "help has an example" bash -c "qltmsi patch --help | grep -q example"
check "unknown product" refused "product|1605" --product '{00000000-0000-0000-0000-000000000000}' \
  --replace "$installed\\notes.txt=$source/examples/demo/v2/notes.txt"
check "missing new file" refused "." --product "$product" \
  --replace "$installed\\notes.txt=$work/no-such-file.txt"
check "file not in the package" refused "." --product "$product" \
  --replace "$installed\\other.txt=$source/examples/demo/v2/notes.txt"
check "bad backup directory" refused "." --product "$product" \
  --replace "$installed\\notes.txt=$source/examples/demo/v2/notes.txt" --backup "$work/no/such/dir"
chmod a-w "$package_native"
check "read-only package" refused "." --product "$product" \
  --replace "$installed\\notes.txt=$source/examples/demo/v2/notes.txt"
chmod u+w "$package_native"

# The patch itself: native paths for the new files, a Windows path for one
# installed file and a native one for the other.
backup=$(qltmsi patch --product "$product" \
  --replace "$installed\\notes.txt=$source/examples/demo/v2/notes.txt" \
  --replace "$native_installed/settings.ini=$source/examples/demo/v2/settings.ini" \
  --backup "$work/undo" 2>"$work/patch.err")
status=$?
if [[ $status -ne 0 ]] && grep -q "status 120" "$work/patch.err"; then
  echo "patch not available in this build: $(cat "$work/patch.err")"
else
  check "patch succeeds" test "$status" -eq 0
  check "patch prints the backup string" grep -q "QltMsiBackupSvr" <<<"$backup"
  check "patch is quiet off a terminal" test ! -s "$work/patch.err"
  check "the package changed" bash -c "! cmp -s '$package_native' '$work/original.msi'"
  size=$(stat -c %s "$source/examples/demo/v2/notes.txt")
  check "File row has the new size" bash -c "qltmsi db dump '$package' File | grep -P '^notes.txt\t' | grep -qw $size"
  cp "$source/examples/demo/v2/notes.txt" "$native_installed/notes.txt"
  cp "$source/examples/demo/v2/settings.ini" "$native_installed/settings.ini"
  check "verify after the patch" qltmsi verify --product "$product" >/dev/null
  check "verify lists the cab cache" bash -c "qltmsi verify --product '$product' | grep -q QuilletCab"
  # One flipped byte in the data of a cabinet (the cab cache's, then the
  # package's own): verify reads every member, so it must find it; --quick
  # only lists the members, which are intact. Each stream goes back through
  # msibuild, intact first, so that the rewrite alone is shown harmless.
  windows_to_native() { local p=${1//\\//}; echo "$QLTMSI_PREFIX/drive_c/${p:3}"; }
  verify_out=$(qltmsi verify --product "$product")
  for stream in QuilletCab demo.cab; do
    holder=$(sed -n "s/^cabinet stream $stream of \(.*\):\$/\1/p" <<<"$verify_out")
    holder_native=$(windows_to_native "$holder")
    cp "$holder_native" "$work/holder.msi"
    rm -rf "$work/dump" && mkdir "$work/dump" && msidump -s -d "$work/dump" "$holder_native" >/dev/null
    cab=$work/dump/_Streams/$stream
    check "$stream is dumped" test -s "$cab"
    msibuild "$holder_native" -a "$stream" "$cab"
    check "verify after $stream is written back intact" qltmsi verify --product "$product" >/dev/null
    # First data block: the folder's offset to it, its 8-byte header, then
    # the middle of its compressed bytes.
    start=$(od -An -tu4 -j36 -N4 "$cab" | tr -d ' ')
    length=$(od -An -tu2 -j$((start + 4)) -N2 "$cab" | tr -d ' ')
    at=$((start + 8 + length / 2))
    byte=$(od -An -tu1 -j$at -N1 "$cab" | tr -d ' ')
    printf "\\x$(printf %02x $((byte ^ 0x10)))" | dd of="$cab" bs=1 seek=$at conv=notrunc status=none
    msibuild "$holder_native" -a "$stream" "$cab"
    out=$(qltmsi verify --product "$product"); status=$?
    echo "$out" | grep -E "^DIFF" | sed "s/^/  /"
    check "verify fails on a flipped byte in $stream" test "$status" -eq 1
    check "verify says $stream is damaged" grep -q "^DIFF stream $stream of .*: damaged" <<<"$out"
    check "verify --quick still lists $stream" qltmsi verify --product "$product" --quick >/dev/null
    cp "$work/holder.msi" "$holder_native"
    check "verify after $stream is put back" qltmsi verify --product "$product" >/dev/null
  done
  check "run refuses an unknown entry" bash -c "qltmsi run '${backup% *} nosuch' >/dev/null 2>&1; [[ \$? -eq 1 ]]"
  check "run the backup string" qltmsi run "$backup"
  check "running it again finds no entry" bash -c "qltmsi run '$backup' >/dev/null 2>&1; [[ \$? -eq 1 ]]"
  check "File table restored" bash -c "diff <(qltmsi db dump '$work/original.msi' File) <(qltmsi db dump '$package' File)"
  check "defrag the restored package" qltmsi defrag "$package_native"
  check "db dump still reads it" bash -c "diff <(qltmsi db dump '$work/original.msi' File) <(qltmsi db dump '$package' File)"
  check "remove a file beside a replacement" qltmsi patch --product "$product" --replace "$installed\\notes.txt=$source/examples/demo/v2/notes.txt" --remove "$installed\\license.txt"
  check "its File row is gone" bash -c "! qltmsi db dump '$package' File | grep -q '^license.txt'"
fi
echo "plain text" > "$work/plain.txt"
defrag_fails() {  # a path that can't be compacted: exit 1 with the reason, nothing changed
  local out status
  out=$(qltmsi defrag "$1" 2>&1); status=$?
  echo "  defrag $1 ($status): $out"
  [[ $status -eq 1 ]] && grep -qiE "$2" <<<"$out"
}
check "defrag of a missing file fails" defrag_fails "$work/none.msi" "no such file"
check "defrag of a plain file fails" defrag_fails "$work/plain.txt" "not a Windows Installer package"
check "the plain file is unchanged" bash -c "[[ \$(cat '$work/plain.txt') == 'plain text' ]]"
cp "$work/original.msi" "$work/again.msi"
check "a compacted package is said to be compact" bash -c "qltmsi defrag '$work/again.msi' >/dev/null && qltmsi defrag '$work/again.msi' | grep -q 'already compact'"
check "db dump of a missing package" bash -c "qltmsi db dump '$work/none.msi' >/dev/null 2>&1; [[ \$? -eq 1 ]]"
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
