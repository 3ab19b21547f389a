# Shared by the Wireshark GUI tests: a private X display, Wireshark run as
# nobody when the tests run as root (it ignores WIRESHARK_PLUGIN_DIR for
# root), windows found by title, and the packet list read back through
# Wireshark's own File > Export Packet Dissections > As CSV.
# make_work sets $work; $wpid is set by the test once Wireshark runs.

# Skips the test (exit 77) unless every named program is installed.
need_programs() {
  for prog in "$@"; do
    command -v "$prog" >/dev/null || { echo "SKIP: $prog not installed"; exit 77; }
  done
}

# major.minor of the Wireshark program $1 (its plug-in folder's name).
wireshark_version() {
  "$1" --version | sed -n '1s/^Wireshark \([0-9]*\.[0-9]*\).*/\1/p'
}

# A world-readable folder $work for the test, removed on exit together with
# the Xvfb and Wireshark the test started; fail reports and ends the test.
make_work() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  chmod 755 "$work"
  xpid="" wpid=""
  trap cleanup EXIT
}
cleanup() {
  # $wpid is the subshell of run_as; Wireshark is its child.
  [ -n "$wpid" ] && { pkill -P "$wpid" 2>/dev/null; kill "$wpid" 2>/dev/null; }
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  rm -rf "$work"
}
fail() { echo "FAIL: $*"; echo "--- wireshark log"; cat "$work/ws.log" 2>/dev/null; exit 1; }

# Folders below $work that the unprivileged programs write to.
prepare_user_dirs() {
  mkdir -p "$work/home/.config/wireshark" "$work/run" "$work/out"
  chmod -R a+rX "$work"
  asuser=()
  if [ "$(id -u)" -eq 0 ]; then
    asuser=(setpriv --reuid=65534 --regid=65534 --clear-groups)
    chown -R 65534:65534 "$work/home" "$work/run" "$work/out"
  fi
  chmod 700 "$work/run"
}

run_as() {
  "${asuser[@]}" env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/run" \
    WIRESHARK_PLUGIN_DIR="$work/plugins" "$@"
}

# A free display of the range $1..$2 that accepts clients; sets DISPLAY and
# xpid. Xvfb's socket file exists before the server listens on it, and a
# display may be held by a server whose socket file is gone (another mount
# namespace): so a display counts as started only once xdotool can talk to
# it, and a server that dies on start moves on to the next number. Without
# -noreset the server would reset when that probe disconnects, refusing
# whoever connects meanwhile.
start_xvfb() {
  local n
  for n in $(seq "$1" "$2"); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -ac -nolisten tcp -noreset >/dev/null 2>&1 &
    xpid=$!
    for _ in $(seq 100); do
      DISPLAY=":$n" xdotool getdisplaygeometry >/dev/null 2>&1 && { export DISPLAY=":$n"; return 0; }
      kill -0 "$xpid" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null; xpid=""
  done
  echo "FAIL: no X display of :$1..:$2 could be started"; exit 1
}

window() { xdotool search --name "$1" 2>/dev/null | head -1; }
# Waits up to $2 tenths of a second (default 30 s) for a window titled $1.
wait_window() {
  for _ in $(seq "${2:-300}"); do
    w=$(window "$1"); [ -n "$w" ] && { echo "$w"; return 0; }
    kill -0 "$wpid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Exports the displayed packets of main window $1 as CSV to $2 (below
# $work/out). File > Export Packet Dissections is the eighth enabled entry
# below Open for a file just opened (Save disabled), the ninth for an unsaved
# live capture ($3 = 9).
export_csv() {
  xdotool windowfocus "$1"; sleep 0.3
  xdotool key alt+f; sleep 0.5
  for _ in $(seq "${3:-8}"); do xdotool key Down; sleep 0.1; done
  xdotool key Right; sleep 0.5
  xdotool key c
  wait_window "Export Packet Dissections" >/dev/null || return 1
  sleep 1
  xdotool type --delay 20 "$2"
  xdotool key Return
  for _ in $(seq 300); do [ -s "$2" ] && [ -z "$(window 'Export Packet Dissections')" ] && break; sleep 0.1; done
  sleep 1
  [ -s "$2" ]
}
