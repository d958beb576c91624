#!/usr/bin/env bash
# Installs the Debian packages that building and running (run) or testing
# (test) or benchmarking (bench) need, when they are missing.
# Usage: scripts/setup.sh [run|test|bench]
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-tools-dev qt6-l10n-tools qt6-translations-l10n libqcustomplot-dev libgl-dev
  libcurl4-openssl-dev libssl-dev libeigen3-dev libnanoflann-dev libgdal-dev
  libgtest-dev libbenchmark-dev libcli11-dev
)
# Tests also read the grid and GIS files with GDAL, check the KML with
# xmllint and fuzz with clang's libFuzzer; benchmarks time whole commands and
# compare with GDAL's gridding.
[ "${1:-run}" = test ] && packages+=(gdal-bin libxml2-utils poppler-utils clang libclang-rt-14-dev)
[ "${1:-run}" = bench ] && packages+=(gdal-bin time)

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
