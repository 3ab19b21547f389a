#!/usr/bin/env bash
# Builds the plug-in with the Qt 5 window module (the variant a Qt 5
# Wireshark, such as Debian 12's 4.0, loads) and runs the window tests on it;
# -DSENTRA_QT_MAJOR=6 among the extra arguments does the same for Qt 6.
# Usage: scripts/test_qt5_gui.sh [build-dir] [extra cmake args...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-qt5}
shift || true
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSENTRA_QT_MAJOR=5 -DSENTRA_BUILD_BENCH=OFF "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" --target zel_gui_tests
cd "$build"
ctest --output-on-failure -L gui --timeout 300
