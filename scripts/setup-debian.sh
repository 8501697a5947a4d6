#!/usr/bin/env bash
# Installs everything the build, the program under Wine and the tests need on Debian 12 and Debian 13.
set -euo pipefail
packages=(
  cmake make g++ libgtest-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 fonts-wine fonts-liberation2 fonts-dejavu-core fonts-roboto-unhinted
  xvfb xdotool x11-utils imagemagick
  python3 python3-pil python3-numpy python3-pefile libjpeg-turbo-progs
  clang libclang-rt-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
