#!/bin/bash
# Two qltmsi.exe runs on one product at once under Wine, on a product the
# system's msiexec installs: two patches started together, and a restore
# racing a patch, with pauses between the starts drawn from a fixed seed.
# Every trial must end as if the runs had gone one after the other, or with
# one of them refused with the library's message; the cached package must
# name a cab cache holding exactly the files its patches changed (read back
# from Linux with msitools and cabextract), no second cab cache may be left
# beside it, and an undo entry not superseded must still restore. The
# system's installer cannot make reverse transforms, so the Linux build's
# make_reverse_transform makes them and the undo entries are written as a
# commit would have written them.
# Usage: race_under_wine.sh BIN_DIR SOURCE_DIR MAKE_REVERSE_TRANSFORM PROCESSOR [TRIALS]
set -uo pipefail
bin=$1 source=$2 maker=$3 processor=$4 trials=${5:-5}
if [[ ! -x $maker ]]; then
  echo "no $maker: build the default preset first" >&2
  exit 77
fi
. "$source/tests/windows/wine_launcher.sh"
. "$source/tests/windows/demo_product.sh"
product='{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}'
undo_key='HKLM\Software\Brambleway\Quillet\MsiRegUndo'
work=$bin/race_under_wine
rm -rf "$work"
mkdir -p "$work/new" "$work/undo"
uninstall() { wine msiexec /x "$product" /qn >/dev/null 2>&1 || true; }
trap 'uninstall; wine_reg delete "$undo_key" /f >/dev/null 2>&1; rm -rf "$work"' EXIT
qltmsi() { wine "$bin/qltmsi.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

uninstall
install_demo_product "$source/examples/demo/sample.wxs" || exit 1
wine_reg add 'HKLM\Software\Brambleway\Quillet' /v MsiBackupServer /t REG_SZ \
  /d "$(winepath -w "$bin/qltmsi32.dll")" /f >/dev/null
keys=(notes.txt settings.ini)
refusals='Error opening msi database\. The file may be in use\.|Error committing changes to msi database'

# Back to the package as installed, without any cab cache or undo entry.
reset() {
  cp "$work/original.msi" "$package"
  find "$folder" -maxdepth 1 -name "$stem.*.msi" -delete
  wine_reg delete "$undo_key" /f >/dev/null 2>&1
}
serial=0
# A new copy of one installed file with bytes of its own, in a folder of its
# own; $made is its native path.
new_file() {  # key, trial, side
  serial=$((serial + 1))
  mkdir -p "$work/new/$serial"
  made=$work/new/$serial/$1
  { echo "trial $2 side $3"; head -c $((RANDOM * 2)) /dev/zero | tr '\0' "$3"; } >"$made"
}
start_patch() {  # key, new file (Windows path); sets $!
  wine "$bin/qltmsi.exe" patch --product "$product" --replace "$installed\\$1=$2" \
    >"$work/$1.out" 2>"$work/$1.err" &
}
# 0 when the run exited 0, 1 when it was refused with the library's message;
# anything else is reported and counts as refused.
outcome() {  # exit status, error file, what
  [[ $1 -eq 0 ]] && return 0
  if tr -d '\r' <"$2" | grep -qE "$refusals"; then return 1; fi
  echo "FAILED: $3 exited $1 without the library's message: $(tr -d '\r' <"$2")"
  failures=$((failures + 1))
  return 1
}
pause() { sleep "0.$(printf '%03d' $((RANDOM % 400)))"; }
cab_cache_of() {
  msiinfo export "$package" Property | tr -d '\r' | awk -F'\t' '$1 == "QuilletCabCache" { print $2 }'
}
# Empty when the package names one cab cache holding exactly the files given
# as KEY=FILE pairs (none: no cab cache at all), each row at its size;
# otherwise what is wrong.
check_package() {
  msiinfo tables "$package" >/dev/null 2>&1 || { echo "the package does not open"; return; }
  local cache others
  cache=$(cab_cache_of)
  others=$(find "$folder" -maxdepth 1 -name "$stem.*.msi" | wc -l)
  if [[ $# -eq 0 ]]; then
    [[ -z $cache ]] || echo "the package names a cab cache with nothing patched"
    [[ $others -eq 0 ]] || echo "$others cab caches are left beside the package"
    return
  fi
  [[ -n $cache ]] || { echo "the patched package names no cab cache"; return; }
  cache=$(realpath "$(winepath -u "$cache")" 2>/dev/null)
  [[ -f $cache ]] || { echo "the cab cache it names is missing"; return; }
  [[ $others -eq 1 ]] || echo "$others cab caches beside the package, not one"
  rm -rf "$work/cab" && mkdir -p "$work/cab/files"
  msiinfo extract "$cache" QuilletCab >"$work/cab/check.cab" 2>/dev/null &&
    cabextract -q -d "$work/cab/files" "$work/cab/check.cab" >/dev/null 2>&1 ||
    { echo "the cabinet does not read back"; return; }
  [[ $(ls "$work/cab/files" | wc -l) -eq $# ]] || echo "the cabinet holds $(ls "$work/cab/files" | tr '\n' ' '), not $*"
  local pair key file size
  for pair in "$@"; do
    key=${pair%%=*} file=${pair#*=}
    cmp -s "$work/cab/files/$key" "$file" || echo "$key in the cabinet is not the new copy"
    size=$(stat -c %s "$file")
    msiinfo export "$package" File | tr -d '\r' | grep -P "^$key\t" | grep -qw "$size" ||
      echo "the File row of $key does not give $size bytes"
  done
}
report() {  # trial description, problems
  [[ -z $2 ]] && return
  failures=$((failures + 1))
  echo "FAILED: $1: $2"
}
# An undo entry for the commit that turned BEFORE into the package as it is
# now, with the values that commit would have written.
undo_entry() {  # entry name, package before
  local key="$undo_key\\$1"
  rm -f "$work/undo/$1.mst"
  QLTMSI_PREFIX=$work/host-prefix "$maker" "$2" "$package" "$work/undo/$1.mst" || return 1
  wine_reg add "$key" /v ProductGuid /t REG_SZ /d "$product" /f >/dev/null &&
    wine_reg add "$key" /v RevTransform /t REG_SZ /d "$(winepath -w "$work/undo/$1.mst")" /f >/dev/null &&
    wine_reg add "$key" /v PackageGuid /t REG_SZ \
      /d "$(msiinfo suminfo "$package" | sed -n 's/^Revision number (UUID): //p')" /f >/dev/null &&
    wine_reg add "$key" /v CommittedCabCache /t REG_SZ /d "$(cab_cache_of)" /f >/dev/null
}
entry_present() { wine_reg query "$undo_key\\$1" >/dev/null 2>&1; }
same_tables() {  # package, package
  local a b
  a=$(mktemp -d) b=$(mktemp -d)
  (cd "$a" && msidump -t -s "$1" >/dev/null) && (cd "$b" && msidump -t -s "$2" >/dev/null) &&
    diff -r "$a" "$b" >/dev/null
  local result=$?
  rm -rf "$a" "$b"
  return $result
}

RANDOM=20261207
failures=0 both=0 one=0

# Two patches of one product started together, each of its own file; the
# files patched pile up over the trials, as the cab cache's carry-over keeps
# them.
reset
declare -A patched=()
for ((trial = 0; trial < trials; trial++)); do
  first=${keys[$((RANDOM % 2))]}
  [[ $first == notes.txt ]] && second=settings.ini || second=notes.txt
  new_file "$first" "$trial" a; file_a=$made
  new_file "$second" "$trial" b; file_b=$made
  win_a=$(winepath -w "$file_a") win_b=$(winepath -w "$file_b")
  start_patch "$first" "$win_a"; a=$!
  pause
  start_patch "$second" "$win_b"; b=$!
  wait $a; status_a=$?
  wait $b; status_b=$?
  applied=0
  outcome $status_a "$work/$first.err" "patch $trial a" && { patched[$first]=$file_a; applied=$((applied + 1)); }
  outcome $status_b "$work/$second.err" "patch $trial b" && { patched[$second]=$file_b; applied=$((applied + 1)); }
  [[ $applied -eq 2 ]] && both=$((both + 1)) || one=$((one + 1))
  echo "  patches $trial: exits $status_a and $status_b"
  [[ $applied -gt 0 ]] || report "patches $trial" "neither patch was applied"
  expected=()
  for key in "${!patched[@]}"; do expected+=("$key=${patched[$key]}"); done
  report "patches $trial" "$(check_package "${expected[@]}")"
done
echo "two patches together, $trials trials: both applied $both, one refused $one"

# The undo entries written here restore when nothing races them.
reset
new_file notes.txt alone a
qltmsi patch --product "$product" --replace "$installed\\notes.txt=$(winepath -w "$made")" >/dev/null &&
  undo_entry alone "$work/original.msi" && qltmsi restore alone >"$work/restore.out" 2>&1 &&
  same_tables "$work/original.msi" "$package" ||
  report "an undo entry alone" "it did not restore: $(tr -d '\r' <"$work/restore.out")"

# A patch made alone, then its restore and a second patch at once.
restored_first=0 patch_first=0 left=0
for ((trial = 0; trial < trials; trial++)); do
  reset
  first=${keys[$((RANDOM % 2))]}
  [[ $first == notes.txt ]] && second=settings.ini || second=notes.txt
  new_file "$first" "$trial" a; file_a=$made
  new_file "$second" "$trial" b; file_b=$made
  win_b=$(winepath -w "$file_b")
  qltmsi patch --product "$product" --replace "$installed\\$first=$(winepath -w "$file_a")" >/dev/null ||
    { report "restore race $trial" "the first patch failed"; continue; }
  entry=t$trial
  undo_entry "$entry" "$work/original.msi" || { report "restore race $trial" "no undo entry"; continue; }
  if ((RANDOM % 2)); then
    wine "$bin/qltmsi.exe" restore "$entry" >"$work/restore.out" 2>&1 & r=$!
    pause
    start_patch "$second" "$win_b"; b=$!
  else
    start_patch "$second" "$win_b"; b=$!
    pause
    wine "$bin/qltmsi.exe" restore "$entry" >"$work/restore.out" 2>&1 & r=$!
  fi
  wait $r; status_r=$?
  wait $b; status_b=$?
  echo "  restore race $trial: restore exited $status_r, patch $status_b"
  [[ $status_r -eq 0 ]] || echo "    the restore: $(tr -d '\r' <"$work/restore.out" | head -c 300)"
  problems=""
  entry_present "$entry" && restored=0 || restored=1
  if [[ $status_r -eq 0 && $restored -eq 0 ]] || [[ $status_r -ne 0 && $restored -eq 1 ]]; then
    problems+=" the restore exited $status_r but its entry is $( ((restored)) && echo gone || echo there)"
  fi
  applied_b=0
  outcome $status_b "$work/$second.err" "restore race $trial patch" && applied_b=1
  ((applied_b || restored)) || problems+=" neither the restore nor the patch happened"
  expected=()
  ((restored)) || expected+=("$first=$file_a")
  ((applied_b)) && expected+=("$second=$file_b")
  problems+=$(check_package "${expected[@]}")
  if ((restored)); then
    restored_first=$((restored_first + 1))
  elif ((applied_b)); then
    patch_first=$((patch_first + 1))
  else
    # Refused and not superseded: the entry must still put the package back.
    left=$((left + 1))
    if qltmsi restore "$entry" >/dev/null 2>&1; then
      same_tables "$work/original.msi" "$package" || problems+=" the left entry did not restore the tables"
      problems+=$(check_package)
    else
      problems+=" the left entry did not restore"
    fi
  fi
  report "restore race $trial" "$problems"
done
echo "a restore racing a patch, $trials trials: restore first $restored_first, patch first $patch_first, patch refused $left"
echo "$failures failed"
[[ $failures -eq 0 ]]
