#!/usr/bin/env bash
# Builds the program and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
exec build/src/app/quenor-grad "$@"
