#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Solvane
# needs. Safe to run again; works as root or through sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libsdl2-dev libwayland-dev libepoxy-dev libpng-dev zlib1g-dev libassimp-dev libkissfft-dev
  libgtest-dev libgmock-dev libbenchmark-dev liblo-dev liblo-tools
  libgl1-mesa-dri libegl-mesa0 libgl1-mesa-dev mesa-utils
  libspdlog-dev libfmt-dev nlohmann-json3-dev libsystemd-dev
  python3 sox espeak-ng systemd ccache
  clang-14 libfuzzer-14-dev
  libtomlplusplus-dev libimgui-dev fonts-dejavu-core
  libmicrohttpd-dev libcpp-httplib-dev curl chromium
  weston libweston-10-dev xvfb xauth
  libavcodec-dev libavformat-dev libswscale-dev libswresample-dev libavutil-dev ffmpeg
  dpkg-dev fakeroot lintian scdoc man-db
)

if [ "$(id -u)" -eq 0 ]; then
  sudo=()
else
  sudo=(sudo)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  "${sudo[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
