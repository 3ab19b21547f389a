#!/usr/bin/env bash
# The main job on a fresh machine: install what is missing, build, and show the
# capture engine at work.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build"
extcap="$build/capture/sentra_extcap"

echo "== Interfaces Wireshark is offered =="
"$extcap" --extcap-interfaces
echo "== Configuration dialog of the replay interface =="
"$extcap" --extcap-config --extcap-interface sentra_ta5521_file
