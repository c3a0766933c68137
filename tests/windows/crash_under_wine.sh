#!/bin/bash
# qltmsi.exe patch killed with SIGKILL at moments drawn from a fixed seed over
# the length of a clean run, under Wine, on a product the system's msiexec
# installs. After every kill the cached package is either byte for byte as it
# was or a complete patched state (it opens, and the cab cache it names holds
# a sound cabinet with both new files at the sizes their rows give), never a
# half-written file; and a later patch completes. The packages are read back
# from Linux with msitools and cabextract.
# Usage: crash_under_wine.sh BIN_DIR SOURCE_DIR PROCESSOR [TRIALS]
set -uo pipefail
bin=$1 source=$2 processor=$3 trials=${4:-10}
. "$source/tests/windows/wine_launcher.sh"
. "$source/tests/windows/demo_product.sh"
product='{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}'
work=$bin/crash_under_wine
rm -rf "$work"
mkdir -p "$work"
uninstall() { wine msiexec /x "$product" /qn >/dev/null 2>&1 || true; }
trap 'uninstall' EXIT
qltmsi() { wine "$bin/qltmsi.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

uninstall
install_demo_product "$source/examples/demo/sample.wxs" || exit 1
v2=$(winepath -w "$source/examples/demo/v2")
patch=(patch --product "$product" --replace "$installed\\notes.txt=$v2\\notes.txt"
       --replace "$installed\\settings.ini=$v2\\settings.ini")

# Back to the package as installed, without any cab cache the patches made.
reset() {
  cp "$work/original.msi" "$package"
  find "$folder" -maxdepth 1 -name "$stem.*.msi" -delete
}
# Empty when the package is as it was or complete; else what is wrong.
check_package() {
  cmp -s "$package" "$work/original.msi" && return 0
  msiinfo tables "$package" >/dev/null 2>&1 || { echo "the package does not open"; return 0; }
  local cache
  cache=$(msiinfo export "$package" Property | tr -d '\r' | awk -F'\t' '$1 == "QuilletCabCache" { print $2 }')
  [[ -n $cache ]] || { echo "the patched package names no cab cache"; return 0; }
  cache=$(winepath -u "$cache" 2>/dev/null)
  [[ -f $cache ]] || { echo "the cab cache $cache is missing"; return 0; }
  msiinfo extract "$cache" QuilletCab >"$work/check.cab" 2>/dev/null &&
    cabextract -q -t "$work/check.cab" >/dev/null 2>&1 || { echo "the cabinet does not read back"; return 0; }
  local key size
  for key in notes.txt settings.ini; do
    size=$(stat -c %s "$source/examples/demo/v2/$key")
    cabextract -l "$work/check.cab" 2>/dev/null | grep -qE "^ +$size \|.*\| $key\$" ||
      echo "$key is not in the cabinet with $size bytes"
    msiinfo export "$package" File | tr -d '\r' | grep -P "^$key\t" | grep -qw "$size" ||
      echo "the File row of $key does not give $size bytes"
  done
}

reset
started=$(date +%s%N)
qltmsi "${patch[@]}" >/dev/null || { echo "a clean patch failed"; exit 1; }
clean_ms=$(( ($(date +%s%N) - started) / 1000000 ))
problem=$(check_package)
[[ -z $problem ]] || { echo "after a clean patch: $problem"; exit 1; }

RANDOM=20261207
broken=0 unchanged=0 patched=0
for ((trial = 0; trial < trials; trial++)); do
  reset
  # Up to half as long again: a process started in the background is slower
  # to get going, and its last steps must be hit too.
  delay_ms=$(( RANDOM % (clean_ms * 3 / 2 + 1) ))
  wine "$bin/qltmsi.exe" "${patch[@]}" >/dev/null 2>&1 &
  victim=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 "$victim" 2>/dev/null
  wait "$victim" 2>/dev/null
  problem=$(check_package)
  if cmp -s "$package" "$work/original.msi"; then unchanged=$((unchanged + 1)); else patched=$((patched + 1)); fi
  echo "  trial $trial: killed after $delay_ms ms, package $(cmp -s "$package" "$work/original.msi" && echo as it was || echo patched)"
  if qltmsi "${patch[@]}" >/dev/null 2>"$work/later.err"; then
    later=$(check_package)
    [[ -z $later ]] || problem+=" after a later patch: $later"
  else
    problem+=" a later patch failed: $(tr -d '\r' <"$work/later.err")"
  fi
  if [[ -n $problem ]]; then
    broken=$((broken + 1))
    echo "FAILED: trial $trial (killed after $delay_ms ms): $problem"
  fi
done
echo "clean patch $clean_ms ms; $trials kills: package as it was $unchanged, complete patched state $patched, broken $broken"
[[ $broken -eq 0 ]]
