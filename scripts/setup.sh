#!/usr/bin/env bash
# Installs the Debian 12 packages this project needs to build and test.
# Idempotent: packages already installed are skipped, and the package lists are
# refreshed only when something is actually missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  libpcap-dev
  libwireshark-dev libwiretap-dev libwsutil-dev tshark wireshark-common
  libglib2.0-dev
  qt6-base-dev qt6-base-dev-tools libqcustomplot-dev libqcustomplot2.1-qt6
  qtbase5-dev libqcustomplot2.1
  wireshark-qt xvfb xdotool
  libgtest-dev
  iproute2 util-linux
  clang libclang-rt-14-dev llvm python3
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages are installed"
  exit 0
fi

echo "setup: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
# tshark asks whether non-root users may capture; answer it without a terminal.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
