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

# The same libraries as scripts/setup.sh, for the target architecture.
libraries=(
  libsdl2-dev libepoxy-dev libpng-dev zlib1g-dev libassimp-dev libkissfft-dev
  libgtest-dev libgmock-dev liblo-dev libspdlog-dev libfmt-dev libsystemd-dev
  libtomlplusplus-dev libimgui-dev
)
packages=("$cross" qemu-user nlohmann-json3-dev libcpp-httplib-dev)
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
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
