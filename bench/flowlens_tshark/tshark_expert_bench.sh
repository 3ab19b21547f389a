#!/bin/sh
# Cost of the POWERLINK analysis inside tshark: `tshark -q -z expert` over a
# real capture looped to at least 400,000 frames, with the plug-in loaded and
# without, best of five runs each, and the ratio (goal: at most 1.10).
# A third run keeps the plug-in loaded but switches its analysis off
# (--disable-heuristic zel_plk_analyzer): the analysis needs no protocol
# tree, so that run shows what loading the plug-in costs by itself and the
# last ratio what the analysis (and keeping its results) costs on top.
#
# Usage: tshark_expert_bench.sh PLUGIN.so CAPTURES_DIR [MIN_FRAMES]
set -eu
. "$(dirname "$0")/loop_capture.sh"

plugin=$1
captures=$2
min_frames=${3:-400000}
source_capture=$captures/powerlink_robot_with_iperf.pcapng.gz
[ -r "$source_capture" ] || { echo "capture not found: $source_capture" >&2; exit 1; }

work=$(mktemp -d /tmp/flowlens-tshark-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
version=$(tshark -v 2>/dev/null | sed -n 's/^TShark (Wireshark) \([0-9]*\.[0-9]*\).*/\1/p')
mkdir -p "$work/plugins/$version/epan" "$work/none"
cp "$plugin" "$work/plugins/$version/epan/zelanalyzer.so"

loop_capture "$source_capture" "$work/loop.pcapng" "$min_frames" "$work"
chmod -R a+rX "$work"
total=$(frame_count "$work/loop.pcapng")

as_user=""
[ "$(id -u)" = 0 ] && as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"

# Best wall time in milliseconds of five runs with the given plug-in folder
# (further arguments go to tshark).
best_ms() {
  best=""
  folder=$1
  shift
  for run in 1 2 3 4 5; do
    start=$(date +%s%N)
    env HOME="$work" WIRESHARK_PLUGIN_DIR="$folder" $as_user tshark -r "$work/loop.pcapng" -q -z expert "$@" \
      >"$work/out_$run" 2>&1
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

with=$(best_ms "$work/plugins")
grep -q "Zelmar Analyzer" "$work/out_1" || { echo "the plug-in reported nothing" >&2; exit 1; }
tree_only=$(best_ms "$work/plugins" --disable-heuristic zel_plk_analyzer)
grep -q "Zelmar Analyzer" "$work/out_1" && { echo "the analysis did not switch off" >&2; exit 1; }
without=$(best_ms "$work/none")
echo "host: TShark $(tshark -v 2>/dev/null | sed -n "1s/^TShark (Wireshark) \([0-9.]*[0-9]\).*/\1/p")"
echo "frames: $total ($copies copies of $(basename "$source_capture"))"
echo "tshark -q -z expert without plug-in:                $without ms"
echo "tshark -q -z expert with plug-in, analysis off:     $tree_only ms"
echo "tshark -q -z expert with plug-in:                   $with ms"
awk -v w="$with" -v o="$without" -v t="$tree_only" 'BEGIN {
  printf "ratio with/without: %.3f (goal <= 1.10)\n", w / o
  printf "  of which the loaded plug-in: %.3f, the analysis on top of it: %.3f\n", t / o, w / t
}'
