#!/usr/bin/env bash
# What recording costs the show: the same real-time demo run (headless, the
# demo voice and peer, --echo) with and without --video, in alternating
# rounds, and each configuration's step time p99 (--stats "step_ms", and
# "step_cpu_ms", the process CPU of a step) over the rounds. Also the video
# encoder's CPU per picture (its thread's CPU time, from the run's last
# line) and the pictures it had to drop. Run it on a quiet machine: the
# encoder runs at the lowest priority and drops pictures when the cores
# are taken.
# usage: bench/video_step_cost.sh [SOLVANE] [STEPS] [ROUNDS]
set -euo pipefail
solvane="${1:-build/solvane}"
steps="${2:-600}"
rounds="${3:-3}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy HOME="$work/home" XDG_DATA_HOME="$work/xdg"
cp -r data "$work/data"
rm -f "$work/data/memory.wav"

for round in $(seq "$rounds"); do
    for mode in without with; do
        args=()
        [ "$mode" = with ] && args=(--video "$work/run-$round.mp4")
        "$solvane" --headless --demo --echo --seed 1 --steps "$steps" --data "$work/data" \
            --status-file "$work/status.json" --stats "$work/$mode-$round.json" "${args[@]}" \
            2> "$work/$mode-$round.log"
    done
done
python3 - "$work" "$rounds" <<'PY'
import json, re, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
for mode in ('without', 'with'):
    runs = [json.load(open('%s/%s-%d.json' % (work, mode, r))) for r in range(1, rounds + 1)]
    p99 = [r['step_ms']['p99'] for r in runs]
    cpu = [r['step_cpu_ms']['p99'] for r in runs if 'step_cpu_ms' in r]
    print('%-7s --video: step p99 %.2f ms (rounds: %s), step CPU p99 %.2f ms (rounds: %s)' % (
        mode, statistics.median(p99), ' '.join('%.2f' % v for v in p99),
        statistics.median(cpu) if cpu else float('nan'), ' '.join('%.2f' % v for v in cpu)))
per_picture, dropped, written = [], 0, 0
for r in range(1, rounds + 1):
    for line in open('%s/with-%d.log' % (work, r)):
        m = re.search(r'wrote (\d+) pictures .*\((\d+) dropped; the encoder took ([0-9.]+) ms', line)
        if m:
            written += int(m.group(1)); dropped += int(m.group(2)); per_picture.append(float(m.group(3)))
if per_picture:
    print('encoder CPU per picture: %.2f ms (rounds: %s); pictures written %d, dropped %d' % (
        statistics.median(per_picture), ' '.join('%.2f' % v for v in per_picture), written, dropped))
PY
