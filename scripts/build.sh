#!/usr/bin/env bash
# Configures and builds the suite. Usage: scripts/build.sh [build-dir] [extra cmake args...]
# SENTRA_TARGETS="a b" builds only those targets (and what they need).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
shift || true
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for t in ${SENTRA_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
