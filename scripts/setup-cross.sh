#!/usr/bin/env bash
# Installs what `scripts/package.sh ARCH` needs to cross-build for ARCH
# (arm64): Debian's cross compiler, the ARCH development packages beside the
# host's (multiarch) and qemu-user to run the cross-built tests. Only the
# cross build runs this; safe to run again; works as root or through sudo.
set -euo pipefail
arch=${1:?usage: setup-cross.sh ARCH}
case $arch in
  arm64) cross=crossbuild-essential-arm64 ;;
  *) echo "setup-cross: no cross set-up for \"$arch\"" >&2; exit 2 ;;
esac

# The libraries of scripts/setup.sh that CMakeLists.txt looks for, for the
# target architecture (the tests' HTTP client included: the test programs
# are cross-built too). nlohmann-json3-dev holds headers alone, one for all.
# liblo-dev cannot sit beside the host's (apt would remove the host's): the
# target gets the library alone, and scripts/package.sh pairs it with the
# host's header.
libraries=(
  libsdl2-dev libwayland-dev libepoxy-dev libpng-dev zlib1g-dev libassimp-dev libkissfft-dev
  libgtest-dev libgmock-dev liblo7 libspdlog-dev libfmt-dev libsystemd-dev
  libtomlplusplus-dev libimgui-dev libmicrohttpd-dev libcpp-httplib-dev
  libavcodec-dev libavformat-dev libswscale-dev libswresample-dev libavutil-dev
)
packages=("$cross" qemu-user nlohmann-json3-dev)
for p in "${libraries[@]}"; do packages+=("$p:$arch"); done

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  "${sudo[@]}" dpkg --add-architecture "$arch"
fi
echo "setup-cross: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
# A package of the target that cannot sit beside the host's makes apt remove
# the host's; the normal build needs those, so nothing is installed then.
removed=$(apt-get install -s -q --no-install-recommends "${missing[@]}" | sed -n 's/^Remv \([^ ]*\).*/\1/p')
if [ -n "$removed" ]; then
  echo "setup-cross: installing would remove $(echo $removed); nothing installed" >&2
  exit 1
fi
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
