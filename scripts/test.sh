#!/usr/bin/env bash
# Set up, build with warnings as errors, and run every test; then build the
# fuzz targets into build-fuzz/ and run them, SOLVANE_FUZZ_SECONDS (12) each,
# as many at a time as there are cores (tests/fuzz/run.sh says why 12 s).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
cd ..
bash tests/fuzz/run.sh
