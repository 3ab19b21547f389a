#!/usr/bin/env bash
# The suite on its second host: Debian 13, whose Wireshark 4.4 runs Qt 6
# (this machine's Debian 12 Wireshark 4.0 runs Qt 5). Makes a Debian 13 root
# with mmdebstrap, or reuses the one made before, builds this source tree
# inside it with the default configure (window module for the Qt its
# Wireshark links) and runs every test that drives Wireshark there
# (ctest -L wireshark): the plug-in in tshark, `tshark -i` through
# sentra_extcap, libwireshark in the test programs and the real GUI under Xvfb.
# Then prints the tshark benchmark's with/without ratio of that host.
#
# Usage: scripts/test_second_host.sh [build-dir inside the root]
# Environment:
#   SENTRA_SECOND_HOST_ROOT   where the root lives (default /var/tmp/sentra-trixie-root,
#                             outside the repository; about 1.5 GB)
#   SENTRA_SECOND_HOST_BENCH  0 skips the benchmark
#   SENTRA_SECOND_HOST_BENCH_FRAMES  frames of its looped capture (default 100000)
# Needs root (chroot, mounts). The package mirror is the one this machine's
# apt uses (the first URIs: line of /etc/apt/sources.list.d/debian.sources).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
host=${SENTRA_SECOND_HOST_ROOT:-/var/tmp/sentra-trixie-root}
build=${1:-/var/tmp/sentra-build}
suite=trixie
started=$SECONDS

PACKAGES=(
  build-essential cmake pkg-config ccache
  libwireshark-dev libwiretap-dev libwsutil-dev libglib2.0-dev tshark wireshark
  qt6-base-dev qt6-base-dev-tools libqcustomplot-dev
  libpcap-dev libgtest-dev
  xvfb xdotool iproute2 python3
)

if [ "$(id -u)" -ne 0 ]; then
  echo "test_second_host: needs root (chroot and mounts); run it with sudo" >&2
  exit 1
fi

mirror() {
  awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/debian.sources
}

# A new root is made beside its final place and moved there only when
# complete, so an interrupted run never leaves a half-made root to reuse.
make_root() {
  local url
  url=$(mirror)
  [ -n "$url" ] || { echo "test_second_host: no mirror in /etc/apt/sources.list.d/debian.sources" >&2; exit 1; }
  command -v mmdebstrap >/dev/null || { apt-get update -q && apt-get install -y -q mmdebstrap; }
  echo "== Making the Debian 13 root $host (a few minutes)"
  rm -rf "$host.new"
  mmdebstrap --variant=apt --include="$(IFS=,; echo "${PACKAGES[*]}")" "$suite" "$host.new" "$url"
  mv "$host.new" "$host"
}

mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[$i]}" 2>/dev/null || umount -lR "${mounted[$i]}" 2>/dev/null || true
  done
  mounted=()
}
trap unmount_all EXIT

# Binds a host folder at the same path inside the root.
bind_same_path() {
  mkdir -p "$host$1"
  mount --bind "$1" "$host$1"
  mounted+=("$host$1")
}

if [ ! -x "$host/usr/bin/tshark" ]; then
  make_root
else
  echo "== Reusing the Debian 13 root $host"
fi

# The root a mount point of its own: tests that build network namespaces
# change the propagation of "/", which only a mount point has.
# Private, so that what the tests mount inside (network namespaces) stays
# below it and goes with it.
mount --bind "$host" "$host"; mount --make-private "$host"; mounted+=("$host")
mount -t proc proc "$host/proc"; mounted+=("$host/proc")
mount -t sysfs sysfs "$host/sys"; mounted+=("$host/sys")
mount --rbind /dev "$host/dev"; mount --make-rslave "$host/dev"; mounted+=("$host/dev")
# The host's X displays: tests inside pick a display number no one uses.
mkdir -p /tmp/.X11-unix && chmod 1777 /tmp/.X11-unix
bind_same_path /tmp/.X11-unix
# The sources and the shared captures beside them, at their own paths, so the
# paths the build writes into the tests hold inside the root too.
bind_same_path "$src"
[ -d "$src/../shared" ] && bind_same_path "$(cd "$src/../shared" && pwd)"
cp /etc/resolv.conf "$host/etc/resolv.conf" 2>/dev/null || true

inroot() { chroot "$host" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

# A root made with an older package list gets what is missing.
missing=()
for pkg in "${PACKAGES[@]}"; do
  inroot dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== Installing ${missing[*]} into the root"
  inroot sh -c 'apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$@"' sh "${missing[@]}"
fi

qtcore=$(inroot objdump -p /usr/bin/wireshark | sed -n 's/.*NEEDED *\(libQt[0-9]Core\).*/\1/p')
echo "== $(inroot tshark --version 2>/dev/null | sed -n 1p), wireshark links $qtcore"

# A build folder made from another source tree (an earlier clone) cannot be
# configured again: it starts anew.
cache="$host$build/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$src" "$cache"; then
  echo "== $build was made from another source tree; building anew"
  rm -rf "${host:?}$build"
fi

# Only what the Wireshark-facing tests need is built (target zel_wireshark_tests).
inroot_build() { inroot env CCACHE_DIR=/var/cache/sentra-ccache CCACHE_BASEDIR="$src" "$@"; }
inroot_build cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
inroot_build cmake --build "$build" -j"$(nproc)" --target zel_wireshark_tests
status=0
inroot sh -c "cd '$build' && ctest -L wireshark --output-on-failure -j$(nproc) --timeout 600" || status=$?

# Wall-clock figures: on a busy machine only the ratio of runs close together
# means anything. 100,000 frames keep the stage short (the benchmark's own
# default is 400,000).
if [ "${SENTRA_SECOND_HOST_BENCH:-1}" != 0 ] && [ "$status" -eq 0 ]; then
  echo "== tshark with and without the plug-in on the second host"
  inroot "$src/bench/flowlens_tshark/tshark_expert_bench.sh" "$build/plugin/core/zelanalyzer.so" \
    "$src/../shared/captures" "${SENTRA_SECOND_HOST_BENCH_FRAMES:-100000}" || status=$?
fi

echo "== Second host stage took $((SECONDS - started)) s"
exit "$status"
