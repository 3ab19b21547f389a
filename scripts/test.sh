#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
# Usage: scripts/test.sh [build-dir] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build" "$@"
cd "$build"
ctest --output-on-failure -j"$(nproc)" --timeout 600
