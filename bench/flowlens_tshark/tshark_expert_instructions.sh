#!/bin/sh
# Load-independent cost of the POWERLINK analysis inside tshark: instructions
# counted by callgrind for `tshark -q -z expert` over the real capture, with
# the plug-in loaded and without. A one-frame copy of the capture gives the
# start-up cost, so the per-frame cost and the ratio expected for the looped
# capture of tshark_expert_bench.sh are printed beside the whole-run ratio.
#
# Usage: tshark_expert_instructions.sh PLUGIN.so CAPTURES_DIR [LOOPED_FRAMES]
set -eu

plugin=$1
captures=$2
looped_frames=${3:-405705}
source_capture=$captures/powerlink_robot_with_iperf.pcapng.gz
[ -r "$source_capture" ] || { echo "capture not found: $source_capture" >&2; exit 1; }
command -v valgrind >/dev/null || { echo "valgrind not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/flowlens-tshark-instr-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
version=$(tshark -v | sed -n 's/^TShark (Wireshark) \([0-9]*\.[0-9]*\).*/\1/p')
mkdir -p "$work/plugins/$version/epan" "$work/none"
cp "$plugin" "$work/plugins/$version/epan/zelanalyzer.so"
gunzip -c "$source_capture" >"$work/capture.pcapng"
editcap -r "$work/capture.pcapng" "$work/one.pcapng" 1 2>/dev/null
chmod -R a+rX "$work"
frames=$(capinfos -c -M "$work/capture.pcapng" | sed -n 's/^Number of packets: *\([0-9]*\).*/\1/p')

as_user=""
[ "$(id -u)" = 0 ] && as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"

# Instructions of one tshark run: plug-in folder, capture.
instructions() {
  env HOME="$work" WIRESHARK_PLUGIN_DIR="$1" $as_user valgrind --tool=callgrind \
    --callgrind-out-file=/dev/null tshark -r "$2" -q -z expert 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}

start_without=$(instructions "$work/none" "$work/one.pcapng")
start_with=$(instructions "$work/plugins" "$work/one.pcapng")
run_without=$(instructions "$work/none" "$work/capture.pcapng")
run_with=$(instructions "$work/plugins" "$work/capture.pcapng")

awk -v f="$frames" -v lf="$looped_frames" -v sw="$start_with" -v so="$start_without" \
    -v rw="$run_with" -v ro="$run_without" 'BEGIN {
  pw = (rw - sw) / (f - 1); po = (ro - so) / (f - 1)
  printf "frames: %d (%s)\n", f, "powerlink_robot_with_iperf.pcapng"
  printf "instructions without plug-in: %d (start-up %d, %.0f per frame)\n", ro, so, po
  printf "instructions with plug-in:    %d (start-up %d, %.0f per frame)\n", rw, sw, pw
  printf "added per frame (the analysis and the protocol tree it needs): %.0f\n", pw - po
  printf "ratio with/without, this run: %.3f; per frame: %.3f\n", rw / ro, pw / po
  printf "ratio expected over %d looped frames: %.3f (goal <= 1.15)\n", lf,
         (sw + pw * (lf - 1)) / (so + po * (lf - 1))
}'
