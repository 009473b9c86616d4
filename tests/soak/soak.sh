#!/usr/bin/env bash
# The long soak: STEPS scene steps (1 728 000 = 24 h of gallery time at
# 50 ms) of the whole installation on the null renderer, built with
# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer into
# build-soak/. Prints steps, wall time, sanitizer reports, resident memory
# at one minute, after warm-up and at the end, and the stored voices checked.
#   bash tests/soak/soak.sh 1728000
set -euo pipefail
cd "$(dirname "$0")/../.."
steps="${1:-1728000}"
# NOTE: optimised, unlike a debugging sanitizer build, so that a day of
# steps fits in about an hour.
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVANE_SANITIZE=ON -DSOLVANE_BENCH=OFF >/dev/null
cmake --build build-soak -j"$(nproc)" --target solvane-soak >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r data "$work/data"
# A small quarantine: freed memory held for use-after-free checks would
# otherwise show as resident memory growing by hundreds of megabytes.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=8:malloc_context_size=20"
export UBSAN_OPTIONS="print_stacktrace=1"
export SDL_AUDIODRIVER=dummy
status=0
build-soak/tests/solvane-soak "$steps" "$work/data" >"$work/soak.out" 2>"$work/soak.log" || status=$?
cat "$work/soak.out"
reports=$(grep -cE "ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:" "$work/soak.log" || true)
echo "soak: sanitizer reports: $reports"
grep -E "soak: step .* broken|ERROR: |runtime error:" "$work/soak.log" | head -20 || true
if [ "$reports" != 0 ] || [ "$status" != 0 ]; then
  echo "soak: FAILED (exit status $status); the last lines of its log:"
  tail -30 "$work/soak.log"
  exit 1
fi
echo "soak: passed"
