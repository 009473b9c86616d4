#!/usr/bin/env bash
# Runs the unit tests that need no display or GPU, cross-built for ARCH, under
# qemu-user (named on the command line, so no binfmt registration is needed;
# the :ARCH libraries come from scripts/setup-cross.sh). Needs
# `bash scripts/package.sh ARCH` first.
# Left out: render, scene, crystal, scenery and platform, whose tests draw
# with OpenGL (offscreen Mesa under an emulator is slower than CI allows),
# tools, which runs the generator and the peer as child programs, and for
# the same reason the PeerProgram tests of net: a program started from
# inside the emulator runs on the host's kernel, which cannot start a
# foreign one without binfmt.
#   bash scripts/test-cross.sh arm64
set -euo pipefail
cd "$(dirname "$0")/.."
arch=${1:-arm64}
build=build-package-$arch
[ -d "$build" ] || { echo "test-cross: run scripts/package.sh $arch first" >&2; exit 2; }
case $arch in
  arm64) emulator=qemu-aarch64 ;;
  *) echo "test-cross: no emulator known for \"$arch\"" >&2; exit 2 ;;
esac
areas=(common sound net operator app)
left_out=PeerProgram.*
targets=()
for a in "${areas[@]}"; do targets+=(--target "test_$a"); done
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
total=0
for a in "${areas[@]}"; do
    log=$(mktemp)
    # The tests expect the checkout as their working folder, as under ctest.
    SDL_AUDIODRIVER=dummy "$emulator" "$build/tests/test_$a" --gtest_brief=1 \
        --gtest_filter="-$left_out" | tee "$log"
    count=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log")
    rm -f "$log"
    total=$((total + ${count:-0}))
done
echo "test-cross: $total tests passed on $arch under qemu-user"
