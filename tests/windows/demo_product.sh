# Sourced by the Wine scripts that patch the demo product: installs it with
# the system's msiexec from WXS (built with wixl in $work) and sets package
# (the cached package's native path), folder, stem, installed (the product's
# folder as verify names it) and $work/original.msi, a copy of the package as
# installed. Needs bin, source, work, product and the qltmsi function.
install_demo_product() {
  local wxs=$1
  cp "$source/examples/demo/v1/"* "$work/"
  (cd "$work" && wixl -o demo.msi "$wxs") || return 1
  wine msiexec /i "$(winepath -w "$work/demo.msi")" /qn || { echo "msiexec could not install the product"; return 1; }
  local package_win
  package_win=$(qltmsi products | awk -F'\t' -v p="$product" '$1 == p { print $4 }')
  package=$(realpath "$(winepath -u "$package_win")")
  [[ -f $package ]] || { echo "no cached package"; return 1; }
  folder=$(dirname "$package") stem=$(basename "$package" .msi)
  cp "$package" "$work/original.msi"
  installed=$(qltmsi verify --product "$product" | sed -n 's/^ok   \(.*\)\\notes\.txt .*/\1/p')
  [[ -n $installed ]] || { echo "verify does not name the installed folder"; return 1; }
}
