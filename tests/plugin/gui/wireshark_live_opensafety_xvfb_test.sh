#!/usr/bin/env bash
# The openSAFETY windows after the first live capture of a freshly started
# Wireshark (no tap reset before it), under Xvfb: the analyzer simulator packs
# a generated openSAFETY-over-POWERLINK network into dump frames, Wireshark
# captures them live through sentra_extcap's replay interface, then
# Tools > openSAFETY > openSAFETY Analysis must open on "openSAFETY Network"
# (not on Help alone), and "Apply as Filter" on the first node's SCM UDID must
# leave the frames tshark finds with that UDID displayed (read back through
# Wireshark's CSV export of the displayed packets). Screenshots are kept.
#
# Usage: wireshark_live_opensafety_xvfb_test.sh <zelanalyzer.so> <window-module-dir> <sentra_extcap>
#          <ta5521_sim> <osa_gen> <zel_gui_screenshots> <shot-dir>
#   WIRESHARK, TSHARK  the programs to run (default: wireshark, tshark from PATH)
# Exits 77 (skipped) when a program is missing or no window module matches Wireshark's Qt.
set -uo pipefail
plugin=$1 guidir=$2 extcap=$3 sim=$4 gen=$5 tool=$6 shots=$7
wireshark=${WIRESHARK:-wireshark} tshark=${TSHARK:-tshark}

. "$(dirname "$0")/xvfb_wireshark.sh"
need_programs "$wireshark" "$tshark" Xvfb xdotool setpriv python3
hostqt=$(ldd "$(command -v "$wireshark")" | sed -n 's/.*libQt\([0-9]\)Core.*/\1/p' | head -1)
[ -f "$guidir/zelanalyzer_gui_qt$hostqt.so" ] || { echo "SKIP: no window module for Qt $hostqt"; exit 77; }

make_work zel-wslive

ver=$(wireshark_version "$wireshark")
mkdir -p "$work/plugins/$ver/epan/zelanalyzer-gui" "$work/extcap"
cp "$plugin" "$work/plugins/$ver/epan/"
cp "$guidir/zelanalyzer_gui_qt$hostqt.so" "$work/plugins/$ver/epan/zelanalyzer-gui/"
cp "$extcap" "$work/extcap/"
"$gen" --powerlink --pcapng -o "$work/osa.pcapng" >/dev/null || fail "no generated capture"
"$sim" --fcs "$work/osa.pcapng" "$work/raw.pcapng" >/dev/null || fail "no dump frames"
prepare_user_dirs

# The reference: the frames whose SCM UDID Wireshark's dissector decodes.
udid_frames=$(run_as "$tshark" -r "$work/osa.pcapng" -Y opensafety.scm_udid.auto -T fields -e frame.number | wc -l)
[ "$udid_frames" -gt 0 ] || fail "tshark decodes no SCM UDID"

start_xvfb 145 149
run_as DISPLAY="$DISPLAY" WIRESHARK_EXTCAP_DIR="$work/extcap" "$wireshark" -i sentra_ta5521_file \
  -o "extcap.sentra_ta5521_file.ta5521capturefile:$work/raw.pcapng" \
  -o extcap.sentra_ta5521_file.capturemode:livecapture -k >"$work/ws.log" 2>&1 &
wpid=$!
main=$(wait_window "sentra_ta5521_file" 1200) || fail "Wireshark did not start the capture"
# The replay ends the capture; the title then loses "Capturing from".
for _ in $(seq 600); do
  xdotool getwindowname "$main" 2>/dev/null | grep -q "^Capturing" || break
  sleep 0.1
done
sleep 2

# Tools > openSAFETY (the plug-in's menu comes last) > openSAFETY Analysis.
xdotool windowfocus "$main"; sleep 0.3
xdotool key alt+t; sleep 0.5
xdotool key Up; sleep 0.3
xdotool key Right; sleep 0.5
xdotool key Return
dialog=$(wait_window "Zelmar Analyzer:: openSAFETY Network") ||
  fail "the analysis did not open on the network page: $(xdotool search --name 'Zelmar Analyzer' getwindowname %@ 2>/dev/null)"
sleep 1
mkdir -p "$shots"
grab() { HOME="$work" QT_QPA_PLATFORM=xcb "$tool" --grab-screen "$1" 2>/dev/null || fail "no screenshot"; }
grab "$shots/wireshark_live_opensafety_network.png"

# The first row's SCM UDID cell (sixth column of the 860x600 dialog), its
# context menu, "&Apply as Filter".
xdotool mousemove --window "$dialog" 748 163 click 1; sleep 0.5
xdotool click 3; sleep 0.8
xdotool key a; sleep 2
xdotool key Escape
for _ in $(seq 50); do [ -z "$(window 'Zelmar Analyzer::')" ] && break; sleep 0.1; done
sleep 1
grab "$shots/wireshark_live_opensafety_filtered.png"
export_csv "$main" "$work/out/displayed.csv" 9 || fail "no export written"
displayed=$(python3 -c 'import csv,sys; print(len(list(csv.reader(open(sys.argv[1], newline=""))))-1)' \
  "$work/out/displayed.csv")
[ "$displayed" -eq "$udid_frames" ] ||
  fail "the SCM UDID filter displays $displayed packets, tshark finds $udid_frames with that UDID"
kill -0 "$wpid" 2>/dev/null || fail "Wireshark died"
echo "PASS: first live capture, network page, SCM UDID filter displays $displayed packets; screenshots in $shots"
exit 0
