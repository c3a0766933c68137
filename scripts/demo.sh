#!/usr/bin/env bash
# The demo: builds qltmsi, installs a sample product into a fresh prefix,
# patches two of its files with a backup, shows what changed, verifies the
# package against the files on disk, and undoes the patch.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Installing what is missing (Debian packages), then building"
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target qltmsi qltmsi-db rundll32 winsys_cabinet qltmsi32 >/dev/null
bin=$root/build/default/bin
export PATH=$bin:$PATH

work=$(mktemp -d /tmp/qltmsi-demo.XXXXXX)
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT
export QLTMSI_PREFIX=$work/prefix TMPDIR=$work/tmp
mkdir -p "$TMPDIR"
started=$SECONDS

step "Making the sample product from examples/demo/sample.wxs with wixl"
cp examples/demo/v1/* "$work/"
(cd "$work" && wixl -o demo.msi "$root/examples/demo/sample.wxs")
echo "made $work/demo.msi"

step "Installing it into the fresh prefix $QLTMSI_PREFIX"
qltmsi install "$work/demo.msi"
product='{6D1F2E3A-4B5C-4D6E-9F70-8192A3B4C5D6}'
qltmsi products
package=$(qltmsi products | awk -F'\t' -v p="$product" '$1 == p { print $4 }')
installed="C:\\Program Files\\Demo Notes"

step "The File rows of the cached package before the patch"
qltmsi db dump "$package" File | tee "$work/file-before.idt"
qltmsi db dump "$package" Media Property > "$work/media-property-before.idt"

step "Patching: replacing notes.txt and settings.ini, removing none, with a backup in $work/undo"
mkdir -p "$work/undo"
set +e
backup=$(qltmsi patch --product "$product" \
  --replace "$installed\\notes.txt=$root/examples/demo/v2/notes.txt" \
  --replace "$installed\\settings.ini=$root/examples/demo/v2/settings.ini" \
  --backup "$work/undo")
status=$?
set -e
if ((status != 0)); then
  echo "The patch did not go through (exit $status); the message above says why."
  echo "(Status 120 means a part of the library this build does not have yet.)"
  exit "$status"
fi
echo "backup string: $backup"

step "The File rows after: new sizes and the new files' sequence numbers"
qltmsi db dump "$package" File | tee "$work/file-after.idt"
diff "$work/file-before.idt" "$work/file-after.idt" || true

step "The Media and Property rows after: the library's own cabinet and its cab cache"
qltmsi db dump "$package" Media Property | tee "$work/media-property-after.idt"

step "Copying the new files into place on disk (the library patches the package; the files are the caller's)"
native_dir="$QLTMSI_PREFIX/drive_c/Program Files/Demo Notes"
cp examples/demo/v2/notes.txt examples/demo/v2/settings.ini "$native_dir/"
ls -l "$native_dir"

step "Verifying: the package describes the files on disk, and every file is in its cabinet (the cab cache's listed too)"
qltmsi verify --product "$product"

step "Running the backup string, as Windows would split it"
qltmsi run "$backup"

step "The File rows back as they were"
qltmsi db dump "$package" File | tee "$work/file-restored.idt"
if diff -q "$work/file-before.idt" "$work/file-restored.idt" >/dev/null; then
  echo "The File table is as it was before the patch."
else
  echo "The File table differs from before:"; diff "$work/file-before.idt" "$work/file-restored.idt" || true
  exit 1
fi
echo
echo "Done in $((SECONDS - started)) s after the build."
