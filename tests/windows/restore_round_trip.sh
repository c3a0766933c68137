#!/bin/sh
# A whole restore on the Windows platform: the system's installer cannot make
# the reverse transform, so the Linux build makes it from the package as it
# was before windows_dll_test's commit with a backup directory and the
# package that commit left. The undo entry is written as a commit would have
# written it, the restore entry point runs through the system's rundll32, and
# the installed package must then dump exactly as before the commit, with the
# entry and the committed cab cache gone.
# Usage: restore_round_trip.sh TEST_DIR MAKE_REVERSE_TRANSFORM PROCESSOR
set -eu
dir=$1
maker=$2
processor=$3
if [ ! -x "$maker" ]; then
  echo "no $maker: build the default preset first" >&2
  exit 77
fi
before=$dir/before_commit_package.msi
committed=$dir/committed_package.msi
paths=$dir/committed_paths.txt
for f in "$before" "$committed" "$paths"; do
  [ -f "$f" ] || { echo "no $f: windows_dll_test did not commit with a backup" >&2; exit 1; }
done

. "$(dirname "$0")/wine_launcher.sh"

installed_win=$(sed -n 1p "$paths" | tr -d '\r')
cabcache_win=$(sed -n 2p "$paths" | tr -d '\r')
cabcache_before_win=$(sed -n 3p "$paths" | tr -d '\r')
installed=$(winepath -u "$installed_win")
cabcache=$(winepath -u "$cabcache_win")
cmp -s "$installed" "$committed" || { echo "the installed package is not the committed one" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$dir/backup"
transform=$dir/backup/round_trip.mst
rm -f "$transform"
QLTMSI_PREFIX=$scratch/prefix "$maker" "$before" "$committed" "$transform"

product='{6A1F0C3E-2B7D-4E58-9C41-3D8E5F0A7B21}'
package_code=$(msiinfo suminfo "$committed" | sed -n 's/^Revision number (UUID): //p')
[ -n "$package_code" ]
server=$(winepath -w "$dir/qltmsi32.dll")
entry=7e57
key="HKLM\\Software\\Brambleway\\Quillet\\MsiRegUndo\\$entry"
# The entry as the undo record writes it, with the copy of the cab cache the
# package used before the commit when it had one.
wine_reg add 'HKLM\Software\Brambleway\Quillet' /v MsiBackupServer /t REG_SZ /d "$server" /f >/dev/null
wine_reg add "$key" /v ProductGuid /t REG_SZ /d "$product" /f >/dev/null
if [ -n "$cabcache_before_win" ]; then
  cab_backup=$dir/backup/round_trip_cabcache.msi
  cp "$dir/before_commit_cabcache.msi" "$cab_backup"
  wine_reg add "$key" /v QuilletCab /t REG_SZ /d "$(winepath -w "$cab_backup")" /f >/dev/null
  wine_reg add "$key" /v CabBackupIsMsiFile /t REG_DWORD /d 1 /f >/dev/null
fi
wine_reg add "$key" /v RevTransform /t REG_SZ /d "$(winepath -w "$transform")" /f >/dev/null
wine_reg add "$key" /v PackageGuid /t REG_SZ /d "$package_code" /f >/dev/null

# The backup string, as a caller runs it.
"$launcher" rundll32.exe "$server,QltMsiBackupSvr" "$entry"

if wine_reg query "$key" >/dev/null 2>&1; then
  echo "the undo entry is still there after the restore" >&2
  wine_reg delete "$key" /f >/dev/null 2>&1 || true
  exit 1
fi
mkdir "$scratch/before" "$scratch/restored"
(cd "$scratch/before" && msidump -t -s "$before" >/dev/null)
(cd "$scratch/restored" && msidump -t -s "$installed" >/dev/null)
diff -r "$scratch/before" "$scratch/restored"
[ "$(msiinfo streams "$before" | sort)" = "$(msiinfo streams "$installed" | sort)" ]
[ "$(msiinfo suminfo "$before")" = "$(msiinfo suminfo "$installed")" ]
if [ "$cabcache_win" != "$cabcache_before_win" ] && [ -e "$cabcache" ]; then
  echo "the committed cab cache was left behind" >&2
  exit 1
fi
# The cab cache the package names again holds the cabinet it held before.
if [ -n "$cabcache_before_win" ]; then
  cmp "$dir/before_commit_cabcache.msi" "$(winepath -u "$cabcache_before_win")"
fi
echo "restored package dumps as before the commit; entry and cab cache gone"
