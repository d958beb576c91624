#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need,
# when they are missing. Usage: scripts/setup.sh [extra packages...]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libqcustomplot-dev libgl-dev
  libcurl4-openssl-dev libssl-dev libeigen3-dev libnanoflann-dev
  libgtest-dev libbenchmark-dev gdal-bin
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
