#!/usr/bin/env bash
# Configures and builds into build/ (release with debug info).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh "${1:-run}"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build --parallel
