#!/usr/bin/env bash
# Installs the Debian packages Quelvin needs to build, run and test, and any
# named as arguments, when missing.
# view3dscene brings tovrmlx3d, a second VRML 97 reader the tests check saved files with.
set -euo pipefail
pkgs=(
  build-essential cmake pkg-config
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev qtdeclarative5-dev
  libcoin-dev libsoqt520-dev libqwt-qt5-dev libsimage-dev zlib1g-dev
  xvfb xauth libgl1-mesa-dri mesa-utils
  python3
  view3dscene
  desktop-file-utils appstream man-db dpkg-dev file
  "$@"
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
