#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz into build-fuzz/ (clang-14, with
# the address and undefined-behaviour sanitizers) and runs each for SECONDS.
#   bash tests/fuzz/run.sh 30            every target, 30 s each (what CI does)
#   bash tests/fuzz/run.sh 600 wav png   only the named targets
# Before fuzzing, each target replays its seeds and every input under
# tests/fuzz/regressions/<name>/ (inputs that once broke it). New inputs the
# fuzzer finds go to build-fuzz/corpus/<name>/; a crash leaves its input in
# build-fuzz/crashes/<name>/ and makes the script fail. Extra libFuzzer
# options may be given in FUZZ_OPTIONS (e.g. FUZZ_OPTIONS=-jobs=2).
set -euo pipefail
seconds=${1:?usage: tests/fuzz/run.sh SECONDS [name...]}
shift
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
status=0
for n in "${names[@]}"; do
  corpus=build-fuzz/corpus/$n
  crashes=build-fuzz/crashes/$n
  mkdir -p "$corpus" "$crashes"
  seeds=()
  for d in "tests/fuzz/corpus/$n" "tests/fuzz/regressions/$n"; do
    [ -d "$d" ] && seeds+=("$root/$d")
  done
  log=build-fuzz/fuzz_$n.log
  echo "fuzz: $n for ${seconds}s"
  # shellcheck disable=SC2086
  if ! "build-fuzz/fuzz_$n" "$corpus" "${seeds[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 \
      -malloc_limit_mb=512 -timeout=10 -print_final_stats=1 -artifact_prefix="$crashes/" \
      ${FUZZ_OPTIONS:-} >"$log" 2>&1; then
    echo "fuzz: $n FAILED; the input is in $crashes/, the log in $log"
    grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -5 || true
    status=1
    continue
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1)
  echo "fuzz: $n clean: ${execs:-?} runs, ${cov:-cov: ?}"
done
exit $status
