#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need. Safe to run
# again: it only calls apt when something is missing.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcli11-dev nlohmann-json3-dev libsystemd-dev
  iproute2 util-linux
  qt6-base-dev qt6-multimedia-dev libgl-dev
  xvfb xauth weston qt6-wayland
  dpkg-dev file lintian desktop-file-utils appstream nftables
  ansible-core python3-prometheus-client
)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
