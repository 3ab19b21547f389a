#!/bin/sh
# Load-independent cost of the POWERLINK analysis inside tshark: instructions
# counted by callgrind for `tshark -q -z expert` over real captures, without
# the plug-in, with the plug-in but its analysis switched off
# (--disable-heuristic zel_plk_analyzer: what loading the plug-in costs by
# itself) and with the plug-in. Each capture is
# looped to at least MIN_FRAMES frames and a one-frame copy gives the start-up
# cost, so the figures are per frame; for the robot capture the ratio expected
# over the looped capture of tshark_expert_bench.sh is printed as well.
#
# Usage: tshark_expert_instructions.sh PLUGIN.so CAPTURES_DIR [MIN_FRAMES [LOOPED_FRAMES]]
set -eu
. "$(dirname "$0")/loop_capture.sh"

plugin=$1
captures=$2
min_frames=${3:-20000}
looped_frames=${4:-405705}
command -v valgrind >/dev/null || { echo "valgrind not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/flowlens-tshark-instr-XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
version=$(tshark -v 2>/dev/null | sed -n 's/^TShark (Wireshark) \([0-9]*\.[0-9]*\).*/\1/p')
mkdir -p "$work/plugins/$version/epan" "$work/none"
cp "$plugin" "$work/plugins/$version/epan/zelanalyzer.so"

as_user=""
[ "$(id -u)" = 0 ] && as_user="setpriv --reuid=65534 --regid=65534 --clear-groups"

# Instructions of one tshark run: plug-in folder, capture, further arguments.
instructions() {
  folder=$1
  file=$2
  shift 2
  env HOME="$work" WIRESHARK_PLUGIN_DIR="$folder" $as_user valgrind --tool=callgrind \
    --callgrind-out-file=/dev/null tshark -r "$file" -q -z expert "$@" 2>&1 >/dev/null |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}

# Per-frame instructions: folder, whole capture, one-frame copy, frames, arguments.
per_frame() {
  folder=$1
  whole=$2
  one=$3
  frames=$4
  shift 4
  run=$(instructions "$folder" "$whole" "$@")
  start=$(instructions "$folder" "$one" "$@")
  echo "$run $start" | awk -v f="$frames" '{ printf "%.0f %d\n", ($1 - $2) / (f - 1), $2 }'
}

echo "captures looped to at least $min_frames frames"
printf "%-38s %7s %9s %9s %9s %8s %8s %8s\n" capture frames without off with ratio off analysis
for source in "$captures"/*.pcap "$captures"/*.pcapng "$captures"/*.gz; do
  [ -r "$source" ] || continue
  name=$(basename "$source")
  frames=$(frame_count "$source")
  # A handful of frames says nothing about a cycle.
  [ "${frames:-0}" -ge 500 ] || continue
  loop_capture "$source" "$work/capture" "$min_frames" "$work"
  frames=$(frame_count "$work/capture")
  editcap -r "$work/capture" "$work/one" 1 2>/dev/null
  chmod a+r "$work/capture" "$work/one"
  set -- $(per_frame "$work/none" "$work/capture" "$work/one" "$frames")
  without=$1 start_without=$2
  set -- $(per_frame "$work/plugins" "$work/capture" "$work/one" "$frames" --disable-heuristic zel_plk_analyzer)
  tree=$1
  set -- $(per_frame "$work/plugins" "$work/capture" "$work/one" "$frames")
  with=$1 start_with=$2
  awk -v n="$name" -v f="$frames" -v o="$without" -v t="$tree" -v w="$with" 'BEGIN {
    printf "%-38s %7d %9d %9d %9d %8.3f %8.3f %8.3f\n", n, f, o, t, w, w / o, t / o, w / t }'
  if [ "$name" = powerlink_robot_with_iperf.pcapng.gz ]; then
    robot="$without $start_without $with $start_with"
  fi
done
echo "(instructions per frame; ratio = with/without, off = analysis-off/without, analysis = with/analysis-off)"
if [ -n "${robot:-}" ]; then
  echo "$robot" | awk -v lf="$looped_frames" '{
    printf "ratio expected over %d looped frames of the robot capture: %.3f (goal <= 1.10)\n", lf,
           ($4 + $3 * (lf - 1)) / ($2 + $1 * (lf - 1)) }'
fi
