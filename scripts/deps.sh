#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, when missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev
  qt6-base-dev libgl-dev xvfb xauth fonts-dejavu-core fonts-dejavu-extra fonts-liberation
  clang libclang-rt-14-dev dpkg-dev file nlohmann-json3-dev
  gettext lintian desktop-file-utils appstream man-db
  socat ser2net python3-pymodbus python3-serial python3-serial-asyncio
  g++-mingw-w64-x86-64-posix wine wine64
  fonts-wine nsis imagemagick pandoc)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
