#!/usr/bin/env bash
# Installs what building and testing qltmsi needs on Debian 12, skipping what
# is already there. Wine needs the i386 architecture for its 32-bit half.
set -euo pipefail

packages=(
  build-essential cmake pkg-config zlib1g-dev libsqlite3-dev libattr1-dev
  googletest libgtest-dev libgmock-dev
  msitools wixl gcab cabextract
  mingw-w64 g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 wine wine32:i386 wine64
  python3-pefile python3-olefile clang libclang-rt-14-dev
  libmspack-dev libisal-dev time gcc-multilib
)

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}
  arch=""
  [[ $p == *:* ]] && arch=":${p##*:}"
  if ! dpkg-query -W -f='${Status}' "${name}${arch}" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo=sudo
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
  fi
  echo "installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
