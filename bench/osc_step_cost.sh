#!/usr/bin/env bash
# What sending OSC costs a scene step, measured on whole runs: the same
# --fast --demo run (voice, crystals, pictures) with and without
# --osc-send to a listening oscdump, in alternating rounds, and each
# configuration's step time (median and p99 over the rounds' medians and
# p99s) from --stats. The step time includes the reporter's work.
# usage: bench/osc_step_cost.sh [SOLVANE] [STEPS] [ROUNDS]
set -euo pipefail
source "$(dirname "$0")/../tests/scripts/lib.sh"
check_start "${1:-build/solvane}"
steps="${2:-600}"
rounds="${3:-3}"
private_home
cp -r data "$work/data"
start_dump "$work/dump.txt"

for round in $(seq "$rounds"); do
    for mode in without with; do
        args=()
        [ "$mode" = with ] && args=(--osc-send "127.0.0.1:$dump_port")
        "$solvane" --headless --fast --demo --seed 1 --steps "$steps" --data "$work/data" \
            --stats "$work/$mode-$round.json" "${args[@]}" 2> "$work/$mode-$round.log"
    done
done
python3 - "$work" "$rounds" <<'PY'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
for mode in ('without', 'with'):
    runs = [json.load(open('%s/%s-%d.json' % (work, mode, r)))['step_ms'] for r in range(1, rounds + 1)]
    print('%-7s OSC: step median %.3f ms (rounds: %s), p99 %.3f ms (rounds: %s)' % (
        mode, statistics.median(r['median'] for r in runs), ' '.join('%.3f' % r['median'] for r in runs),
        statistics.median(r['p99'] for r in runs), ' '.join('%.3f' % r['p99'] for r in runs)))
PY
echo "messages received by oscdump: $(grep -c " /solvane/" "$work/dump.txt")"
