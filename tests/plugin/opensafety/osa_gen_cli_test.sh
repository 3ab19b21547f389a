#!/usr/bin/env bash
# osa_gen from the command line: file formats as capinfos sees them, injected
# faults as Wireshark's openSAFETY dissector decodes them, bad options refused.
set -euo pipefail
gen=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"

"$gen" -o a.pcapng --pcapng --no-faults --cycles 10
capinfos -t a.pcapng | grep -q "pcapng"
"$gen" -o b.pcap --no-faults --cycles 10
capinfos -t b.pcap | grep -q "pcap"
[ "$(capinfos -c -M a.pcapng | awk '/Number of packets/ {print $NF}')" = \
  "$(capinfos -c -M b.pcap | awk '/Number of packets/ {print $NF}')" ]

# Node 2 silent in cycles 3..6, node 3 invalid in cycles 2..3, node 4 asks node 1 for the time at cycle 5.
"$gen" -o c.pcap --no-faults --cycles 10 --drop 2:3:4 --invalid 3:2:4 --sync 4:1:5 --sdn 9 \
       --udid 02:D7:A5:01:02:03
spdo2=$(tshark -r c.pcap -Y 'opensafety.msg.id == 0xc0 && opensafety.msg.sender == 2' 2>/dev/null | wc -l)
[ "$spdo2" -eq 6 ] || { echo "node 2 sent $spdo2 SPDOs, want 6"; exit 1; }
invalid3=$(tshark -r c.pcap -Y 'opensafety.msg.sender == 3 && opensafety.spdo.connection_valid == 0' 2>/dev/null | wc -l)
[ "$invalid3" -eq 2 ] || { echo "node 3 has $invalid3 invalid SPDOs, want 2"; exit 1; }
[ "$(tshark -r c.pcap -Y 'opensafety.spdo.time.request_to == 1' 2>/dev/null | wc -l)" -eq 1 ]
[ "$(tshark -r c.pcap -Y 'opensafety.crc2.valid == 0' 2>/dev/null | wc -l)" -eq 0 ]
tshark -r c.pcap -T fields -e opensafety.scm_udid.auto 2>/dev/null | grep -q "02:d7:a5:01:02:03"
tshark -r c.pcap -T fields -e opensafety.msg.network -Y 'opensafety.msg.id == 0xc0 && opensafety.msg.sender == 2' \
  2>/dev/null | sort -u | grep -qx "0x0009"

# Refused input: exit status 2, nothing written.
for bad in "--sdn 0" "--udid 02:D7" "--drop 2:1" "--wrap 7" "--cycles x" "--bogus"; do
  set +e
  # shellcheck disable=SC2086
  "$gen" -o bad.pcap $bad 2>/dev/null
  rc=$?
  set -e
  [ "$rc" -eq 2 ] || { echo "option '$bad' gave $rc"; exit 1; }
  [ ! -e bad.pcap ] || { echo "option '$bad' wrote a file"; exit 1; }
done
echo "osa_gen CLI ok"
