#!/usr/bin/env bash
# Set up, build with warnings as errors, and run every test (the inputs that
# once broke a fuzz target included). The fuzzing campaign itself is
# tests/fuzz/run.sh; CI runs it after this script.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" --timeout 600
