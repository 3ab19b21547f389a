#!/usr/bin/env bash
# Renders every window of the plug-in (the openSAFETY analysis dialog with each
# of its pages, and the about dialog) to PNG files, offscreen: no display or
# Xvfb needed. The data come from a generated openSAFETY network dissected by
# Wireshark's own dissectors in the renderer's process.
# Usage: scripts/gui_screenshots.sh [build-dir] [output-dir]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=${2:-$root/docs/images/gui}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target zel_gui_screenshots -j"$(nproc)"
mkdir -p "$out"
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# libwireshark wants a writable home for its profile folder.
HOME="$home" QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
  "$build/tests/plugin/gui/zel_gui_screenshots" "$out" 2> >(grep -v -e 'XDG_RUNTIME_DIR' -e 'graph has no data' >&2)
