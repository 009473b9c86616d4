#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz into build-fuzz/ (clang-14, with
# the address and undefined-behaviour sanitizers) and runs each for SECONDS,
# as many at a time as the machine has cores.
#   bash tests/fuzz/run.sh               every target, SOLVANE_FUZZ_SECONDS (12) each
#   bash tests/fuzz/run.sh 600 wav png   only the named targets, 600 s each
#   bash tests/fuzz/run.sh wav           only wav, for the default time
# CI runs every target 30 s after the tests (.ci/run). In 30 s runs from a
# fresh checkout, bmp, greeting, png, registration and wav found their last
# new edge within their first 6 s; config, osc, picture and xfile kept
# finding new inputs to the end, so for them a short run is an exploration
# that the next run continues (build-fuzz/corpus/ is kept). Thirteen targets 12 s
# each on two cores take about a minute and a half. Hunting is done with long runs:
# SOLVANE_FUZZ_SECONDS=600, or a SECONDS argument.
# Before fuzzing, each target replays its seeds and every input under
# tests/fuzz/regressions/<name>/ (inputs that once broke it). New inputs the
# fuzzer finds go to build-fuzz/corpus/<name>/; a crash leaves its input in
# build-fuzz/crashes/<name>/ and makes the script fail. Extra libFuzzer
# options may be given in FUZZ_OPTIONS (e.g. FUZZ_OPTIONS=-jobs=2), and the
# number of targets run at once in SOLVANE_FUZZ_JOBS.
set -euo pipefail
seconds=${SOLVANE_FUZZ_SECONDS:-12}
if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
jobs=${SOLVANE_FUZZ_JOBS:-$(nproc)}
cd "$(dirname "$0")/../.."
root=$(pwd)

CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSOLVANE_FUZZ=ON \
  -DSOLVANE_BENCH=OFF >/dev/null

if [ $# -gt 0 ]; then
  names=("$@")
else
  mapfile -t targets < build-fuzz/fuzz-targets.txt
  names=()
  for t in "${targets[@]}"; do [ -n "$t" ] && names+=("${t#fuzz_}"); done
fi
build_targets=()
for n in "${names[@]}"; do build_targets+=(--target "fuzz_$n"); done
cmake --build build-fuzz -j"$(nproc)" "${build_targets[@]}"

# Leaks in libraries we do not build are listed there, not hidden in general.
export LSAN_OPTIONS="suppressions=$root/tests/fuzz/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fuzz_one() {  # name: runs one target; its summary lines go to build-fuzz/fuzz_<name>.summary
  local n=$1 corpus=build-fuzz/corpus/$1 crashes=build-fuzz/crashes/$1 log=build-fuzz/fuzz_$1.log
  local summary=build-fuzz/fuzz_$1.summary seeds=() d
  mkdir -p "$corpus" "$crashes"
  for d in "tests/fuzz/corpus/$n" "tests/fuzz/regressions/$n"; do
    [ -d "$d" ] && seeds+=("$root/$d")
  done
  # shellcheck disable=SC2086
  if ! "build-fuzz/fuzz_$n" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -malloc_limit_mb=512 -timeout=10 -print_final_stats=1 -artifact_prefix="$crashes/" \
      ${FUZZ_OPTIONS:-} >"$log" 2>&1; then
    { echo "fuzz: $n FAILED; the input is in $crashes/, the log in $log"
      grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -5 || true; } > "$summary"
    return 1
  fi
  local execs cov
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 || true)
  echo "fuzz: $n clean: ${execs:-?} runs, ${cov:-cov: ?}" > "$summary"
}

echo "fuzz: ${#names[@]} targets, ${seconds}s each, $jobs at a time"
status=0
running=0
for n in "${names[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  fuzz_one "$n" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
for n in "${names[@]}"; do cat "build-fuzz/fuzz_$n.summary"; done
exit $status
