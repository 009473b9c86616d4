#!/usr/bin/env bash
# The short soak of the test suite: 15 000 steps (12.5 min of gallery time)
# on the null renderer; stored voices whole and memory flat after warm-up.
set -euo pipefail
soak="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r data "$work/data"
"$soak" 15000 "$work/data" 2>"$work/soak.log" || { tail -20 "$work/soak.log"; exit 1; }
