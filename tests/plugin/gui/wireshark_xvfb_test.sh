#!/usr/bin/env bash
# The plug-in inside the real Wireshark GUI, under Xvfb, driven by xdotool.
#
# Usage: wireshark_xvfb_test.sh <cmake> <build-dir> <plugin-install-dir> <zel_gui_screenshots> <shot-dir> [expect]
#   The build's plug-in component is installed (cmake --install --component zelanalyzer) below a
#   scratch prefix, and Wireshark runs with that installed plug-in folder.
#   expect = auto     (default) "windows" when the installation holds the module for the Qt major
#                     that wireshark links, else "refused"
#   expect = windows  the window module for Wireshark's Qt is there: Tools > openSAFETY >
#                     openSAFETY Analysis shows "Zelmar Analyzer:: openSAFETY Network" for a generated
#                     capture, Help > About Zelmar Analyzer > General information shows the about dialog;
#                     screenshots of both go to <shot-dir>.
#   expect = refused  the module for Wireshark's Qt is removed from the installation (any module for
#                     the other Qt major stays): the entry opens no window but an error message box
#                     naming the missing module and its folder, Wireshark keeps running (no second Qt
#                     in its process); a screenshot of the box goes to <shot-dir>.
# Exits 77 (skipped) when wireshark, Xvfb, xdotool or setpriv is missing.
set -uo pipefail
cmake=$1 build=$2 installdir=$3 tool=$4 shots=$5 expect=${6:-auto}

for prog in wireshark Xvfb xdotool setpriv; do
  command -v "$prog" >/dev/null || { echo "SKIP: $prog not installed"; exit 77; }
done

# start_xvfb; this test's own helpers below replace the others.
. "$(dirname "$0")/xvfb_wireshark.sh"

work=$(mktemp -d /tmp/zel-wsgui.XXXXXX)
chmod 755 "$work"
xpid="" wpid=""
cleanup() {
  [ -n "$wpid" ] && kill "$wpid" 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"; echo "--- wireshark log"; cat "$work/home/ws.log" 2>/dev/null
  [ -n "$xpid" ] && mkdir -p "$shots" && grab "$shots/failure.png" && echo "screen: $shots/failure.png"
  exit 1
}

# The plug-in as its component installs it. Wireshark reads personal
# plug-ins from <dir>/<major.minor>/epan, and only when not run as root: the
# GUI runs as nobody, with the installation readable by it.
ver=$(wireshark --version | sed -n '1s/^Wireshark \([0-9]*\.[0-9]*\).*/\1/p')
"$cmake" --install "$build" --component zelanalyzer --prefix "$work/prefix" >/dev/null || fail "install failed"
epan="$work/prefix/$installdir"
plugins=${epan%/epan}
[ -f "$epan/zelanalyzer.so" ] && [ "${plugins##*/}" = "$ver" ] || fail "no plug-in installed for Wireshark $ver in $epan"
plugins=${plugins%/*}
guidir="$epan/zelanalyzer-gui"
hostqt=$(ldd "$(command -v wireshark)" | sed -n 's/.*libQt\([0-9]\)Core.*/\1/p' | head -1)
if [ "$expect" = auto ]; then
  if [ -n "$hostqt" ] && [ -f "$guidir/zelanalyzer_gui_qt$hostqt.so" ]; then expect=windows; else expect=refused; fi
  echo "wireshark runs Qt ${hostqt:-?}: expecting $expect"
elif [ "$expect" = refused ]; then
  rm -f "$guidir/zelanalyzer_gui_qt$hostqt.so"
fi
mkdir -p "$work/home" "$work/run"
HOME="$work" QT_QPA_PLATFORM=offscreen "$tool" --capture "$work/osa.pcapng" 2>/dev/null || fail "no capture"
chmod -R a+rX "$work"
[ "$(id -u)" -eq 0 ] && chown 65534:65534 "$work/home" "$work/run"
chmod 700 "$work/run"

start_xvfb 90 139

# Wireshark ignores WIRESHARK_PLUGIN_DIR for root: run it as nobody then.
asuser=()
[ "$(id -u)" -eq 0 ] && asuser=(setpriv --reuid=65534 --regid=65534 --clear-groups)
"${asuser[@]}" env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" \
  HOME="$work/home" XDG_RUNTIME_DIR="$work/run" WIRESHARK_PLUGIN_DIR="$plugins" \
  wireshark -r "$work/osa.pcapng" >"$work/home/ws.log" 2>&1 &
wpid=$!

window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
# The visible window whose whole title is $1 (every visible window is asked:
# a search by name misses Qt's message boxes here).
titled() {
  for w in $(xdotool search --onlyvisible --name '' 2>/dev/null); do
    [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
  done
  return 1
}
# Waits up to $2 tenths of a second (default 30 s) for a window titled $1
# ($3 = titled: the whole title).
wait_window() {
  for _ in $(seq "${2:-300}"); do
    w=$(${3:-window} "$1"); [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$wpid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
grab() { HOME="$work" QT_QPA_PLATFORM=xcb "$tool" --grab-screen "$1" 2>/dev/null; }
# Opens the last entry of a menu-bar menu (the plug-in's menus are appended
# last) and activates the first item of its submenu.
open_last_submenu_entry() {
  main=$(window "osa.pcapng") || return 1
  xdotool windowfocus "$main"; sleep 0.3
  xdotool key "$1"; sleep 0.5
  xdotool key Up; sleep 0.3
  xdotool key Right; sleep 0.5
  xdotool key Return
}

# Start-up is slow on a loaded machine (CI runs tests in parallel).
wait_window "osa.pcapng" 1200 >/dev/null || fail "Wireshark did not show the capture"

open_last_submenu_entry alt+t
if [ "$expect" = windows ]; then
  dialog=$(wait_window "Zelmar Analyzer:: openSAFETY Network") || fail "the analysis dialog did not open"
  sleep 1
  mkdir -p "$shots"
  grab "$shots/wireshark_opensafety_analysis.png" || fail "no screenshot"
  xdotool key Escape
  for _ in $(seq 50); do [ -z "$(window 'Zelmar Analyzer::')" ] && break; sleep 0.1; done
  [ -z "$(window 'Zelmar Analyzer::')" ] || fail "the analysis dialog did not close"

  open_last_submenu_entry alt+h
  wait_window "About Zelmar Analysis Tools" >/dev/null || fail "the about dialog did not open"
  sleep 0.5
  grab "$shots/wireshark_about.png" || fail "no screenshot"
  xdotool key Return
  echo "PASS: both windows opened inside Wireshark $ver; screenshots in $shots"
else
  # Wireshark's error box ("Wireshark") says which module is missing and where.
  box=$(wait_window Wireshark 300 titled) || fail "no message box about the missing window module"
  mkdir -p "$shots"
  grab "$shots/wireshark_missing_module.png" || fail "no screenshot"
  [ -z "$(window 'Zelmar Analyzer::')" ] || fail "a window opened although the host's Qt has no module"
  grep -q "zelanalyzer: cannot load the window module for Qt $hostqt" "$work/home/ws.log" || fail "no warning logged"
  xdotool windowfocus "$box"; sleep 0.3
  xdotool key Return
  for _ in $(seq 50); do titled Wireshark >/dev/null || break; sleep 0.1; done
  titled Wireshark >/dev/null && fail "the message box did not close"
  # every click says it again, and still opens nothing
  open_last_submenu_entry alt+h
  box=$(wait_window Wireshark 300 titled) || fail "no message box on the second entry"
  xdotool windowfocus "$box"; sleep 0.3
  xdotool key Return
  echo "PASS: a message box instead of a window without the Qt $hostqt module, Wireshark $ver still running"
fi
kill -0 "$wpid" 2>/dev/null || fail "Wireshark died"
exit 0
