#!/bin/bash
# The installed package is never half-written on Windows' own file calls:
# qltmsi.exe patch runs under Wine with a preloaded shim that lets only half
# of the package's size be written to the package and to the files named
# qlt* beside it, then either fills the disk or kills the process. After each
# the cached package must be byte for byte as it was, and a later patch must
# go through and leave nothing of the failed one beside the package.
# QLTMSI_REPLACE_BIN names another folder holding qltmsi.exe and its DLL (an
# older build) to run the same checks against.
# Usage: replace_under_wine.sh BIN_DIR SOURCE_DIR PROCESSOR
# Exits 77 when no host compiler can build the shim for PROCESSOR.
set -uo pipefail
bin=$1 source=$2 processor=$3
run_bin=${QLTMSI_REPLACE_BIN:-$bin}
. "$source/tests/windows/wine_launcher.sh"
. "$source/tests/windows/demo_product.sh"
product='{5C2E7A19-3D4B-4E6F-8A90-B1C2D3E4F5A6}'
work=$bin/replace_under_wine
rm -rf "$work"
mkdir -p "$work"
uninstall() { wine msiexec /x "$product" /qn >/dev/null 2>&1 || true; }
# A build that leaves the cached package half-written would keep the product
# from being uninstalled: it goes back first.
package=
finish() {
  [[ -n $package && -f $work/original.msi ]] && cp "$work/original.msi" "$package"
  uninstall
}
trap 'finish' EXIT

case $processor in
  x86_64|AMD64|amd64) bits=-m64 ;;
  *) bits=-m32 ;;
esac
cc $bits -shared -fPIC -O1 -o "$work/write_limit_shim.so" \
  "$source/tests/windows/host/write_limit_shim.c" -ldl 2>"$work/cc.err" ||
  { echo "no host compiler for $processor: $(head -1 "$work/cc.err")"; exit 77; }

qltmsi() { wine "$run_bin/qltmsi.exe" "$@" | tr -d '\r'; return "${PIPESTATUS[0]}"; }

uninstall
sed "s/{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}/$product/" "$source/examples/demo/sample.wxs" \
  >"$work/sample.wxs"
install_demo_product sample.wxs || exit 1
v2=$(winepath -w "$source/examples/demo/v2")
patch=(patch --product "$product" --replace "$installed\\notes.txt=$v2\\notes.txt"
       --replace "$installed\\settings.ini=$v2\\settings.ini")
limit=$(( $(stat -c %s "$package") / 2 ))

reset() {
  cp "$work/original.msi" "$package"
  find "$folder" -maxdepth 1 \( -name "$stem.*.msi" -o -name 'qlt*' \) -delete
}
beside() { find "$folder" -maxdepth 1 -name 'qlt*' -printf '%f '; }

failed=0
for action in full kill; do
  reset
  QLT_LIMIT_FOLDER=$folder QLT_LIMIT_NAMES="$(basename "$package")/qlt*" \
    QLT_LIMIT_BYTES=$limit QLT_LIMIT_ACTION=$action LD_PRELOAD=$work/write_limit_shim.so \
    wine "$run_bin/qltmsi.exe" "${patch[@]}" >"$work/$action.out" 2>&1
  status=$?
  if cmp -s "$package" "$work/original.msi"; then
    state="as it was"
  else
    state="changed: $(stat -c %s "$package") of $(stat -c %s "$work/original.msi") bytes, $(msiinfo tables "$package" >/dev/null 2>&1 && echo opens || echo does not open)"
    failed=1
  fi
  left=$(beside)
  echo "disk $action after $limit bytes: exit $status, package $state${left:+, beside it: $left}"
  [[ $action == full && -n $left ]] && failed=1
  if ! qltmsi "${patch[@]}" >/dev/null 2>"$work/later.err"; then
    echo "  a later patch failed: $(tr -d '\r' <"$work/later.err")"
    failed=1
  else
    cache=$(msiinfo export "$package" Property | tr -d '\r' | awk -F'\t' '$1 == "QuilletCabCache" { print $2 }')
    cache=$(winepath -u "$cache" 2>/dev/null)
    if ! { [[ -f $cache ]] && msiinfo extract "$cache" QuilletCab >"$work/check.cab" 2>/dev/null &&
           cabextract -q -t "$work/check.cab" >/dev/null 2>&1; }; then
      echo "  the later patch's cab cache does not read back"
      failed=1
    fi
  fi
  left=$(beside)
  [[ -z $left ]] || { echo "  left beside the package after the later patch: $left"; failed=1; }
done
exit $failed
