#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build, and run a
# whole capture. A real POWERLINK capture is packed into Q40TA5521 dump frames
# by the analyzer simulator (with a CRC error, a lost dump and a rising digital
# input), replayed through sentra_extcap's file interface exactly as Wireshark
# would run it, and the resulting pcapng is summarised with tshark.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/setup.sh"
# Only what the demo runs: the capture program, the simulator and the plug-in
# (scripts/test.sh builds the rest).
SENTRA_TARGETS="sentra_extcap ta5521_sim zelanalyzer" "$root/scripts/build.sh" "$build"
extcap="$build/capture/sentra_extcap"
sim="$build/tools/ta5521_sim/ta5521_sim"
sample="$root/samples/powerlink_1cn_boot_part.pcapng"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== Interfaces Wireshark is offered =="
"$extcap" --extcap-interfaces

echo "== Packing $(basename "$sample") into analyzer dump frames =="
# Frames as the analyzer sees them on the wire (padded, with their FCS; the
# sample was taken by a NIC that keeps neither). Port 01 carries the MN's
# frames, port 02 the CN's (by source MAC); port 02's dumps arrive late;
# frame 120 has a CRC error, dump 20 is lost on the way, DI1 rises at frame 300.
"$sim" --fcs --ports=mac --records=8 --late-port2=2 --error=120:crc --drop-dump=20 --di=300:1 \
  "$sample" "$work/raw.pcapng"

echo "== Replaying through sentra_extcap (live capture, DI1 rising edge ends it 200 ms later) =="
"$extcap" --capture --extcap-interface sentra_ta5521_file --ta5521capturefile "$work/raw.pcapng" \
  --fifo "$work/capture.pcapng" --extcap-control-in "$work/control_in" --extcap-control-out "$work/sentra.log" \
  --capturemode livecapture --ta5521capturetrigger di0_pos --ta5521posttriggertime 200 --standalone \
  </dev/null >"$work/console.txt"
cat "$work/sentra.log"

echo "== Summary read back with tshark =="
count() { tshark -r "$work/capture.pcapng" -Y "$1" 2>/dev/null | wc -l; }
capinfos -c -u -a -e "$work/capture.pcapng" | tail -n +2
echo "Frames on port 01:         $(count 'frame.packet_flags_direction == 1')"
echo "Frames on port 02:         $(count 'frame.packet_flags_direction == 2')"
echo "POWERLINK frames:          $(count 'epl')"
echo "Frames with receive error: $(count 'frame.packet_flags & 0xdb000000')"
echo "Frames after a loss:       $(count 'frame.packet_flags & 0x400000')"
triggers=$(tshark -r "$work/capture.pcapng" -Y 'frame.packet_flags & 0x200000' -T fields -e frame.number 2>/dev/null | paste -sd, -)
echo "Trigger packet(s):         ${triggers:-none}"

echo "== The same capture in tshark with the zelanalyzer plug-in =="
# Loaded the way a user loads it from a build: a plug-in folder named by
# WIRESHARK_PLUGIN_DIR (ignored by tshark run as root, so then as "nobody").
plugin="$build/plugin/core/zelanalyzer.so"
version=$(tshark -v 2>/dev/null | sed -n 's/^TShark (Wireshark) \([0-9]*\.[0-9]*\).*/\1/p')
mkdir -p "$work/plugins/$version/epan"
cp "$plugin" "$work/plugins/$version/epan/"
chmod -R a+rX "$work"
as_user=()
[ "$(id -u)" = 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
wireshark_with_plugin() {
  env HOME="$work" WIRESHARK_PLUGIN_DIR="$work/plugins" "${as_user[@]}" tshark -r "$work/capture.pcapng" "$@" 2>/dev/null
}
echo "-- POWERLINK analysis (expert items of the Zelmar Analyzer) --"
wireshark_with_plugin -q -z expert | grep -E '^(Errors|Warnings|Notes|Chats)|Frequency|Zelmar Analyzer'
echo "-- Statistics tree Zelmar/POWERLINK (-z zel_epl,tree) --"
wireshark_with_plugin -q -z zel_epl,tree
echo "-- Extended text column of the first frames (column type Expert Info) --"
# sed reads to the end: head would quit early and tshark, writing into the
# closed pipe, would end the script with a failure status.
# The column's field is named by its title in Wireshark 4.0, by its type from 4.4.
column=_ws.col.Zelmar
case "$version" in 4.[0-3]) ;; *) column=_ws.col.expert ;; esac
wireshark_with_plugin -2 -o 'gui.column.format:"No.","%m","Zelmar","%a"' -T fields -e frame.number -e "$column" \
  | sed -n 1,12p
