#!/usr/bin/env bash
# The extended text column inside the real Wireshark GUI, under Xvfb, driven
# by xdotool: a capture opened with the column configured (as the README
# says: an "Expert Info" column beside the default ones, no custom column)
# shows each frame's text. What the packet list holds is read back through
# Wireshark's own export (File > Export Packet Dissections > As CSV) and
# compared with the texts of a one-pass tshark run; a screenshot is kept.
#
# Usage: wireshark_column_xvfb_test.sh <zelanalyzer.so> <capture> <shot-dir> <zel_gui_screenshots>
#   WIRESHARK, TSHARK  the programs to run (default: wireshark, tshark from PATH)
# Exits 77 (skipped) when wireshark, tshark, Xvfb, xdotool, setpriv or python3 is missing.
set -uo pipefail
plugin=$1 capture=$2 shots=$3 tool=$4
wireshark=${WIRESHARK:-wireshark} tshark=${TSHARK:-tshark}

. "$(dirname "$0")/xvfb_wireshark.sh"
need_programs "$wireshark" "$tshark" Xvfb xdotool setpriv python3
[ -r "$capture" ] || { echo "SKIP: $capture not found"; exit 77; }

make_work zel-wscol

# Personal plug-ins: <dir>/<major.minor>/epan.
ver=$(wireshark_version "$wireshark")
# The column's field: named by its title up to Wireshark 4.2, by its type from 4.4 on.
column_field=_ws.col.Zelmar
case "$ver" in 4.[0-3]) ;; *) column_field=_ws.col.expert ;; esac
mkdir -p "$work/plugins/$ver/epan" "$work/home/.config/wireshark"
cp "$plugin" "$work/plugins/$ver/epan/"
cp "$capture" "$work/capture.pcapng"
format='"No.", "%m", "Info", "%i", "Zelmar", "%a"'
echo "gui.column.format: $format" >"$work/home/.config/wireshark/preferences"
prepare_user_dirs

# The reference: one tshark pass with the same column.
run_as "$tshark" -r "$work/capture.pcapng" -o "gui.column.format:$format" -T fields -E quote=n \
  -e frame.number -e "$column_field" -e epl.mtyp >"$work/tshark.tsv" 2>"$work/tshark.err" ||
  fail "tshark: $(cat "$work/tshark.err")"

start_xvfb 140 144

run_as DISPLAY="$DISPLAY" "$wireshark" -r "$work/capture.pcapng" >"$work/ws.log" 2>&1 &
wpid=$!

main=$(wait_window "capture.pcapng" 1200) || fail "Wireshark did not show the capture"
xdotool windowsize "$main" 1270 1000
sleep 2
mkdir -p "$shots"
HOME="$work" QT_QPA_PLATFORM=xcb "$tool" --grab-screen "$shots/wireshark_column.png" 2>/dev/null ||
  fail "no screenshot"

export_csv "$main" "$work/out/list.csv" || fail "no export written"
cp "$work/out/list.csv" "$shots/wireshark_column.csv"

python3 - "$work/out/list.csv" "$work/tshark.tsv" <<'PY' || fail "the packet list differs from tshark"
import csv, sys
rows = list(csv.reader(open(sys.argv[1], newline='')))
head, rows = rows[0], rows[1:]
column = head.index("Zelmar")
shown = {int(r[0]): r[column] for r in rows}
expected, powerlink = {}, 0
for line in open(sys.argv[2]):
    number, text, mtyp = (line.rstrip("\n").split("\t") + ["", ""])[:3]
    expected[int(number)] = text
    if mtyp:
        powerlink += 1
        if not shown.get(int(number)):
            sys.exit("frame %s: no text in the packet list" % number)
if shown != expected:
    bad = sorted(n for n in expected if shown.get(n) != expected[n])
    sys.exit("%d frames differ, first %d: %r / %r" % (len(bad), bad[0], shown.get(bad[0]), expected[bad[0]]))
print("%d frames, %d POWERLINK frames with text, equal to tshark's" % (len(shown), powerlink))
PY
kill -0 "$wpid" 2>/dev/null || fail "Wireshark died"
echo "PASS: the column shows every frame's text in Wireshark $ver; screenshot in $shots"
exit 0
