#!/usr/bin/env bash
# Set up, build with warnings as errors, and run every test (the inputs that
# once broke a fuzz target included). The fuzzing campaign itself is
# tests/fuzz/run.sh; CI runs it after this script.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
cd build
# Twice as many tests at a time as cores: the whole-program checks spend most
# of their time waiting on real-time steps and the network, not computing.
ctest --output-on-failure -j"$(( 2 * $(nproc) ))" --timeout 600
