#!/usr/bin/env bash
# Builds a Release and wraps it into a Debian package in out/.
#   bash scripts/package.sh          out/solvane_<version>_amd64.deb (this machine's architecture)
#   bash scripts/package.sh arm64    cross-built out/solvane_<version>_arm64.deb; installs Debian's
#                                    arm64 cross compiler and the :arm64 development packages first
# Compiler and linker flags are Debian's (dpkg-buildflags: hardening, fortify);
# the package's dependencies are read from the programs by dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-$(dpkg --print-architecture)}
host=$(dpkg --print-architecture)
build=build-package-$arch
options=()
if [ "$arch" != "$host" ]; then
    case $arch in
        arm64) triplet=aarch64-linux-gnu ;;
        *) echo "package.sh: no cross build set up for \"$arch\" (arm64 is)" >&2; exit 2 ;;
    esac
    bash scripts/setup-cross.sh "$arch"
    # The :arm64 libraries sit beside the host's in /usr (multiarch): the
    # cross compiler already searches /usr/lib/$triplet, so no separate root
    # is needed, and pkg-config reads the target's .pc files only.
    # liblo-dev has one header per architecture and cannot be installed
    # beside the host's; its header is the same on both little-endian
    # machines, so the host's is used with the target's library
    # (setup-cross.sh installs liblo7:arm64), described here.
    cross=$PWD/$build/cross
    mkdir -p "$cross/pkgconfig" "$cross/lib"
    ln -sfn "/usr/lib/$triplet/liblo.so.7" "$cross/lib/liblo.so"
    printf '%s\n' "Name: liblo" "Description: OSC library (target's library, host's header)" \
        "Version: $(dpkg-query -W -f='${Version}' "liblo7:$arch" | sed 's/-[^-]*$//')" \
        "Libs: -L$cross/lib -llo -lpthread" "Cflags:" > "$cross/pkgconfig/liblo.pc"
    export PKG_CONFIG_LIBDIR=$cross/pkgconfig:/usr/lib/$triplet/pkgconfig:/usr/share/pkgconfig
    export DEB_HOST_ARCH=$arch
    # Test programs run at build time (they list their tests) under qemu-user.
    options+=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64
              -DCMAKE_C_COMPILER="$triplet-gcc" -DCMAKE_CXX_COMPILER="$triplet-g++"
              -DCMAKE_LIBRARY_ARCHITECTURE="$triplet"
              -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-aarch64
              -DCPACK_DEBIAN_PACKAGE_ARCHITECTURE="$arch")
fi
CFLAGS=$(DEB_HOST_ARCH=$arch dpkg-buildflags --get CFLAGS)
CXXFLAGS="$(DEB_HOST_ARCH=$arch dpkg-buildflags --get CXXFLAGS) $(DEB_HOST_ARCH=$arch dpkg-buildflags --get CPPFLAGS)"
LDFLAGS=$(DEB_HOST_ARCH=$arch dpkg-buildflags --get LDFLAGS)
export CFLAGS CXXFLAGS LDFLAGS
# The optimisation level is Debian's (-O2 from dpkg-buildflags), not CMake's
# -O3. Warnings stay warnings here: the development build (scripts/build.sh)
# is the one that refuses them, and a packager's newer compiler must not
# stop a release.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
      -DSOLVANE_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target solvane solvane-peer package_docs
mkdir -p out
(cd "$build" && cpack -G DEB -B "$PWD/../out" >/dev/null)
rm -rf out/_CPack_Packages
ls out/solvane_*_"$arch".deb
