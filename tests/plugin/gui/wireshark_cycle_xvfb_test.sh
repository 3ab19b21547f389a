#!/usr/bin/env bash
# The POWERLINK Cycle page inside the real Wireshark GUI, under Xvfb, driven
# by xdotool, on the real robot capture: Tools > POWERLINK > Cycle Analysis
# must open the analysis dialog on "POWERLINK Cycle" with the plug-in's own
# samples, and a click on the cycle-time line must select an SoC frame in
# Wireshark's packet list (the selected frame is marked with Ctrl+M, shown
# with the filter frame.marked == 1 and read back through Wireshark's CSV
# export; tshark names the SoC frames). Screenshots are kept.
#
# Usage: wireshark_cycle_xvfb_test.sh <zelanalyzer.so> <window-module-dir> <capture[.gz]>
#          <zel_gui_screenshots> <shot-dir>
#   WIRESHARK, TSHARK  the programs to run (default: wireshark, tshark from PATH)
# Exits 77 (skipped) when a program or the capture is missing, or no window module matches Wireshark's Qt.
set -uo pipefail
plugin=$1 guidir=$2 capture=$3 tool=$4 shots=$5
wireshark=${WIRESHARK:-wireshark} tshark=${TSHARK:-tshark}

. "$(dirname "$0")/xvfb_wireshark.sh"
need_programs "$wireshark" "$tshark" Xvfb xdotool setpriv python3 gzip
[ -r "$capture" ] || { echo "SKIP: $capture not found"; exit 77; }
hostqt=$(ldd "$(command -v "$wireshark")" | sed -n 's/.*libQt\([0-9]\)Core.*/\1/p' | head -1)
[ -f "$guidir/zelanalyzer_gui_qt$hostqt.so" ] || { echo "SKIP: no window module for Qt $hostqt"; exit 77; }

make_work zel-wscycle

ver=$(wireshark_version "$wireshark")
mkdir -p "$work/plugins/$ver/epan/zelanalyzer-gui"
cp "$plugin" "$work/plugins/$ver/epan/"
cp "$guidir/zelanalyzer_gui_qt$hostqt.so" "$work/plugins/$ver/epan/zelanalyzer-gui/"
case "$capture" in
  *.gz) gzip -dc "$capture" >"$work/robot.pcapng" || fail "cannot unpack $capture" ;;
  *) cp "$capture" "$work/robot.pcapng" ;;
esac
prepare_user_dirs

# The reference: the SoC frames, as Wireshark's own POWERLINK dissector finds them.
run_as "$tshark" -r "$work/robot.pcapng" -Y "epl.mtyp == 1" -T fields -e frame.number >"$work/soc.txt" \
  2>"$work/tshark.err" || fail "tshark: $(cat "$work/tshark.err")"
[ -s "$work/soc.txt" ] || fail "tshark finds no SoC in the capture"

start_xvfb 150 159
run_as DISPLAY="$DISPLAY" "$wireshark" -r "$work/robot.pcapng" >"$work/ws.log" 2>&1 &
wpid=$!
main=$(wait_window "robot.pcapng" 1200) || fail "Wireshark did not show the capture"
xdotool windowsize "$main" 1270 1000
sleep 2
grab() { HOME="$work" QT_QPA_PLATFORM=xcb "$tool" --grab-screen "$@" 2>/dev/null || fail "no screenshot"; }
mkdir -p "$shots"

# Frame 2 (a PReq) selected: a click that selected nothing would leave it.
xdotool windowfocus "$main"; sleep 0.3
xdotool key ctrl+g; sleep 0.5
xdotool type --delay 50 "2"; xdotool key Return; sleep 1

# Tools > POWERLINK > Cycle Analysis: the plug-in's menus come last, POWERLINK
# before openSAFETY.
xdotool windowfocus "$main"; sleep 0.3
xdotool key alt+t; sleep 0.5
xdotool key Up; sleep 0.3
xdotool key Up; sleep 0.3
xdotool key Right; sleep 0.5
xdotool key Return
dialog=$(wait_window "Zelmar Analyzer:: POWERLINK Cycle") ||
  fail "the cycle page did not open: $(xdotool search --name 'Zelmar Analyzer' getwindowname %@ 2>/dev/null)"
sleep 2
grab "$shots/wireshark_powerlink_cycle_screen.png"
eval "$(xdotool getwindowgeometry --shell "$dialog")"
# The dialog alone, for the documentation.
grab "$shots/wireshark_powerlink_cycle.png" "$X" "$Y" "$WIDTH" "$HEIGHT"

# The cycle-time line (nominal 2000 us, drawn low in the upper plot, away from
# the event marks at its top): clicks down a vertical line through the middle
# of the plot until one hits it; misses select nothing.
x=$((X + WIDTH * 55 / 100))
for y in $(seq $((Y + HEIGHT * 22 / 100)) 3 $((Y + HEIGHT * 40 / 100))); do
  xdotool mousemove "$x" "$y" click 1
  sleep 0.15
done
sleep 1
grab "$shots/wireshark_powerlink_cycle_clicked.png"
xdotool key Escape
for _ in $(seq 50); do [ -z "$(window 'Zelmar Analyzer::')" ] && break; sleep 0.1; done
[ -z "$(window 'Zelmar Analyzer::')" ] || fail "the analysis dialog did not close"

# Mark the selected frame, show the marked frames only, export them.
xdotool windowfocus "$main"; sleep 0.5
xdotool key ctrl+m; sleep 0.5
xdotool key ctrl+slash; sleep 0.5
xdotool type --delay 20 "frame.marked == 1"
xdotool key Return; sleep 2
export_csv "$main" "$work/out/marked.csv" || fail "no export written"
python3 - "$work/out/marked.csv" "$work/soc.txt" <<'PY' || fail "the click did not select an SoC frame"
import csv, sys
rows = list(csv.reader(open(sys.argv[1], newline='')))[1:]
socs = {int(line) for line in open(sys.argv[2]) if line.strip()}
if len(rows) != 1:
    sys.exit("%d frames marked, expected the one selected" % len(rows))
frame = int(rows[0][0])
if frame not in socs:
    sys.exit("frame %d is selected, which is no SoC" % frame)
print("the click selected SoC frame %d" % frame)
PY
kill -0 "$wpid" 2>/dev/null || fail "Wireshark died"
echo "PASS: Tools > POWERLINK > Cycle Analysis shows the cycle page in Wireshark $ver; screenshots in $shots"
exit 0
