#!/usr/bin/env bash
# Configures and builds Solvane into build/.
#   bash scripts/build.sh                  programs and tests (benchmarks: the target benchmarks)
#   bash scripts/build.sh solvane ...      only the named targets
# Every caller configures with the same options (warnings are errors), so a
# build made by scripts/run.sh is reused as it is by scripts/test.sh.
# Extra CMake options may be given in SOLVANE_CMAKE_OPTIONS.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC2086
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVANE_WERROR=ON ${SOLVANE_CMAKE_OPTIONS:-} >/dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build -j"$(nproc)" "${targets[@]}"
