#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and tests with.
# Idempotent: installs only what is missing and refreshes the package index at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libx11-dev libxcb1-dev libxcb-damage0-dev libxcb-xtest0-dev
  xvfb dbus xdotool
  clang-format
  clang libclang-rt-14-dev
  lintian file
  lua5.4
  luajit
  time
  tzdata
  python3-pil python-matplotlib-data fonts-dejavu-core
  python3-dbus python3-xlib
  pulseaudio pulseaudio-utils libpulse-dev libglib2.0-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
if ! $SUDO apt-get install -y --no-install-recommends "${missing[@]}"; then
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
