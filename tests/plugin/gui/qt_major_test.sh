#!/usr/bin/env bash
# The configure step's answer to "which Qt does the installed Wireshark run",
# checked against ldd on real programs, and the window module a default
# configure builds.
# Usage: qt_major_test.sh <cmake> <WiresharkQtMajor.cmake> <build-dir> <program linking the build's Qt> <its Qt major>
set -uo pipefail
cmake=$1 module=$2 build=$3 qtprog=$4 qtmajor=$5
status=0
check() { # what expected got
  if [ "$2" = "$3" ]; then echo "ok: $1 -> '$3'"; else echo "FAIL: $1: expected '$2', got '$3'"; status=1; fi
}
detect() { "$cmake" -DPROGRAM="$1" -P "$module" 2>&1 | sed -n 's/^qt-major: *//p'; }
ldd_major() { ldd "$1" 2>/dev/null | sed -n 's/^[[:space:]]*libQt\([0-9]\)Core\.so.*/\1/p' | head -1; }

check "a program linking Qt $qtmajor" "$qtmajor" "$(detect "$qtprog")"
check "a program without Qt (cmake)" "" "$(detect "$cmake")"
check "a file that does not exist" "" "$(detect /nonexistent/wireshark)"

if ws=$(command -v wireshark); then
  hostqt=$(ldd_major "$ws")
  check "wireshark ($ws)" "$hostqt" "$(detect "$ws")"
  # A default configure (SENTRA_QT_MAJOR=auto) builds the module for that Qt.
  if grep -q '^SENTRA_QT_MAJOR:STRING=auto$' "$build/CMakeCache.txt"; then
    found=$(cd "$build/plugin/core/zelanalyzer-gui" 2>/dev/null && ls zelanalyzer_gui_qt*.so 2>/dev/null | tr '\n' ' ')
    check "window module of the default build" "zelanalyzer_gui_qt$hostqt.so " "$found"
  fi
else
  echo "no wireshark installed: only the detection itself was checked"
fi
exit "$status"
