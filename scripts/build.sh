#!/usr/bin/env bash
# Configures and builds Solvane into build/ (pass extra CMake options as arguments).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build build -j"$(nproc)"
