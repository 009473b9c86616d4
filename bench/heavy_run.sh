#!/usr/bin/env bash
# The heaviest run the installation knows, measured: a loud voice grows all
# sixteen crystals to the longest recording, shows them and dissolves them
# into thousands of sparks (the reference-frame run, 900 steps, --fast, no
# frames written). Each binary runs it three times; the binaries of one
# round run side by side, so a busy machine slows them alike. Builds nothing.
#
# usage: bench/heavy_run.sh SOLVANE [SOLVANE ...]     (from the source folder)
#   HEAVY_RUNS=n    rounds instead of 3
#   HEAVY_STEPS=n   steps instead of 900
#
# Prints per binary, min / median / max over the rounds:
#   process CPU (user + sys, all threads) of the whole run, in seconds;
#   the heaviest single step's process CPU in ms, and the 99th percentile
#   (--stats "step_cpu_ms", from the start of a step to the start of the
#   next, so the renderer's threads count for the frame they finish; the
#   first step also compiles shaders; "-" for builds without it);
#   the heaviest ten steps in a row, CPU ms per step, sampled from outside
#   the process (works for any build).
set -euo pipefail
if [ $# -lt 1 ]; then
    echo "usage: $0 SOLVANE [SOLVANE ...]" >&2
    exit 2
fi
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
rounds="${HEAVY_RUNS:-3}"
steps="${HEAVY_STEPS:-900}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy

# The voice of the reference frames: four silent seconds, then 30 s of two
# sweeping tones, loud in every block.
sox -D -n -r 160000 -c 1 -b 16 "$work/voice.wav" synth 30 sine 150-1800 sine 300-600 remix - \
    gain -n -2 pad 4 0

run_one() {  # binary index, round
    local bin="$1" n="$2" r="$3" dir="$work/$2-$3"
    mkdir -p "$dir"
    cp -r "$source_dir/data" "$dir/data"
    rm -f "$dir/data/memory.wav"
    HOME="$dir/home" XDG_DATA_HOME="$dir/xdg" python3 "$source_dir/bench/step_cpu.py" "$dir/windows.tsv" -- \
        "$bin" --headless --fast --seed 7 --voice "$work/voice.wav" --data "$dir/data" --steps "$steps" \
        --stats "$dir/stats.json" > "$dir/cpu" || { echo "run $r of $bin failed" >&2; return 1; }
}

for r in $(seq 1 "$rounds"); do
    pids=()
    n=0
    for bin in "$@"; do
        run_one "$bin" "$n" "$r" &
        pids+=($!)
        n=$((n + 1))
    done
    for pid in "${pids[@]}"; do wait "$pid"; done
done

n=0
for bin in "$@"; do
    python3 - "$work" "$n" "$rounds" "$bin" "$steps" <<'EOF'
import json, os, statistics, sys
work, n, rounds, binary, steps = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
cpu, step_max, step_p99, window_max = [], [], [], []
for r in range(1, rounds + 1):
    d = os.path.join(work, f"{n}-{r}")
    cpu.append(float(open(os.path.join(d, "cpu")).read()))
    try:
        stats = json.load(open(os.path.join(d, "stats.json")))
        if "step_cpu_ms" in stats:
            step_max.append(stats["step_cpu_ms"]["max"])
            step_p99.append(stats["step_cpu_ms"]["p99"])
    except (OSError, ValueError):
        pass
    windows = [float(line.split()[1]) for line in open(os.path.join(d, "windows.tsv")) if line.strip()]
    if windows:
        window_max.append(max(windows))

def three(values, fmt):
    if not values:
        return "-"
    return " / ".join(fmt % v for v in (min(values), statistics.median(values), max(values)))

print(f"{binary}: {rounds} runs of {steps} steps (min / median / max)")
print(f"  process CPU, whole run:          {three(cpu, '%.2f')} s")
print(f"  heaviest step, process CPU:      {three(step_max, '%.1f')} ms")
print(f"  99th percentile step, CPU:       {three(step_p99, '%.1f')} ms")
print(f"  heaviest ten steps, CPU per step: {three(window_max, '%.1f')} ms")
EOF
    n=$((n + 1))
done
