# Shell functions shared by the tshark benchmarks (sourced, not run).

# Frames of a capture file.
frame_count() {
  capinfos -c -M "$1" 2>/dev/null | sed -n 's/^Number of packets: *\([0-9]*\).*/\1/p'
}

# Writes copies of a capture one after the other, each shifted in time past
# the one before, so the loop stays in time order, until it holds at least
# the given number of frames. Sets `copies`.
# Usage: loop_capture SOURCE OUTPUT MIN_FRAMES SCRATCH_DIR
loop_capture() {
  span=$(capinfos -u -M "$1" 2>/dev/null | sed -n 's/^Capture duration: *\([0-9]*\).*/\1/p')
  count=$(frame_count "$1")
  copies=$(( ($3 + count - 1) / count ))
  i=0
  while [ "$i" -lt "$copies" ]; do
    # Numbered so the glob below lists the copies in time order.
    editcap -F pcapng -t $(( i * (span + 1) )) "$1" "$4/part_$(printf %04d "$i")" 2>/dev/null
    i=$((i + 1))
  done
  mergecap -a -F pcapng -w "$2" "$4"/part_* 2>/dev/null
  rm -f "$4"/part_*
}
