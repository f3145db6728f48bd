#!/usr/bin/env bash
# Installs what the programs and their tests need from Debian's archive, when
# something is missing. Run as root (or with sudo) on a Debian machine.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libgl-dev ccache
  libcfitsio-dev libcfitsio-bin fitsverify nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  python3 python3-astropy
  fonts-dejavu-core xvfb xauth
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
