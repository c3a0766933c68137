#!/bin/sh
# Runs windows_dll_test a second time with Wine reporting Windows 98, in a
# Wine prefix and a directory of its own: GetVersion then answers with the
# high bit set, and qltmsi32.dll fills its platform table with the narrow
# calls. Wine's relay trace of the table's calls shows per test which forms
# the DLL made (count_table_calls.py); any wide form fails the run, since the
# 95 family only stubs those.
# Usage: run_as_win98.sh TEST_DIR
set -eu
dir=$1
work=$(mktemp -d /tmp/qltmsi-win98.XXXXXX)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

mkdir "$work/program"
cp "$dir/windows_dll_test.exe" "$dir/qltmsi32.dll" "$work/program/"
for package in sample_product.msi shortnames_product.msi; do
  [ ! -f "$dir/$package" ] || cp "$dir/$package" "$work/program/"
done

# The platform table's operations, each in its narrow and its wide form.
table="GetShortPathName GetTempPath GetTempFileName DeleteFile CopyFile MoveFile
GetFileAttributes CreateFile RegOpenKeyEx RegCreateKeyEx RegQueryValueEx RegSetValueEx
GetModuleFileName GetFileVersionInfo VerQueryValue GetFileVersionInfoSize
GetWindowsDirectory LoadString RegDeleteKey CreateDirectory RemoveDirectory
FindFirstFile FindNextFile MoveFileEx CreateMutex SetFileAttributes"
relay=""
for name in $table; do relay="$relay${relay:+;}${name}A;${name}W"; done

wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d "$relay" /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Debug' /v RelayFromInclude /d qltmsi32 /f >/dev/null 2>&1

log="$work/run.log"
status=0
(cd "$work/program" && WINEDEBUG=+relay wine windows_dll_test.exe >"$log" 2>&1) || status=$?

# GoogleTest's own lines, then the table calls counted per test.
grep -aE '^\[|^Note' "$log" || true
/usr/bin/python3 "$(dirname "$0")/count_table_calls.py" "$log" "$work/program/qltmsi32.dll" $table || status=1
exit "$status"
