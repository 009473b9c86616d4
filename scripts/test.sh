#!/usr/bin/env bash
# Set up, build with warnings as errors, and run every test; then build the
# fuzz targets into build-fuzz/ and run each for SOLVANE_FUZZ_SECONDS (30).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
cd ..
bash tests/fuzz/run.sh "${SOLVANE_FUZZ_SECONDS:-30}"
