#!/bin/sh
# Cost of the POWERLINK analysis inside tshark: `tshark -q -z expert` over a
# real capture looped to at least 400,000 frames, with the plug-in loaded and
# without, best of three runs each, and the ratio (goal: at most 1.15).
#
# Usage: tshark_expert_bench.sh PLUGIN.so CAPTURES_DIR [MIN_FRAMES]
set -eu

plugin=$1
captures=$2
min_frames=${3:-400000}
source_capture=$captures/powerlink_robot_with_iperf.pcapng.gz
[ -r "$source_capture" ] || { echo "capture not found: $source_capture" >&2; exit 1; }

work=$(mktemp -d /tmp/flowlens-tshark-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
version=$(tshark -v | sed -n 's/^TShark (Wireshark) \([0-9]*\.[0-9]*\).*/\1/p')
mkdir -p "$work/plugins/$version/epan" "$work/none"
cp "$plugin" "$work/plugins/$version/epan/zelanalyzer.so"

# Copies shifted in time one after the other, so the loop stays in time order.
span=$(capinfos -u -M "$source_capture" | sed -n 's/^Capture duration: *\([0-9]*\).*/\1/p')
frames=$(capinfos -c -M "$source_capture" | sed -n 's/^Number of packets: *\([0-9]*\).*/\1/p')
copies=$(( (min_frames + frames - 1) / frames ))
i=0
while [ "$i" -lt "$copies" ]; do
  editcap -F pcapng -t $(( i * (span + 1) )) "$source_capture" "$work/part_$i.pcapng"
  i=$((i + 1))
done
mergecap -a -F pcapng -w "$work/loop.pcapng" "$work"/part_*.pcapng
rm -f "$work"/part_*.pcapng
chmod -R a+rX "$work"
total=$(capinfos -c -M "$work/loop.pcapng" | sed -n 's/^Number of packets: *\([0-9]*\).*/\1/p')

as_user=""
[ "$(id -u)" = 0 ] && as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"

# Best wall time in milliseconds of three runs with the given plug-in folder.
best_ms() {
  best=""
  for run in 1 2 3; do
    start=$(date +%s%N)
    env HOME="$work" WIRESHARK_PLUGIN_DIR="$1" $as_user tshark -r "$work/loop.pcapng" -q -z expert >"$work/out_$run" 2>&1
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

with=$(best_ms "$work/plugins")
grep -q "Zelmar Analyzer" "$work/out_1" || { echo "the plug-in reported nothing" >&2; exit 1; }
without=$(best_ms "$work/none")
echo "frames: $total ($copies copies of $(basename "$source_capture"))"
echo "tshark -q -z expert without plug-in: $without ms"
echo "tshark -q -z expert with plug-in:    $with ms"
awk -v w="$with" -v o="$without" 'BEGIN { printf "ratio with/without: %.3f (goal <= 1.15)\n", w / o }'
