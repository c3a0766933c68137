# Sourced by the Wine test scripts: sets $launcher to the wine loader that
# runs system programs (reg.exe, rundll32.exe) with the bitness of $processor,
# which the sourcing script sets (sh's `.` passes no arguments). A 64-bit DLL
# only loads into a 64-bit rundll32, and each bitness sees its own registry
# view; Debian's `wine` launcher starts programs named without a PE file to
# inspect as 32-bit ones, so for x86_64 the 64-bit loader is named.
launcher=wine
case $processor in
  x86_64|AMD64|amd64)
    for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)"; do
      if [ -n "$candidate" ] && [ -x "$candidate" ]; then launcher=$candidate; break; fi
    done ;;
esac
wine_reg() { "$launcher" reg.exe "$@"; }
