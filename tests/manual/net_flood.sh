#!/usr/bin/env bash
# A flood of junk datagrams at the installation's picture port, from another
# machine's address (127.0.0.2), during a real-time run: the steps keep
# their pace and the peer's pictures still arrive.
#
#   bash tests/manual/net_flood.sh build/solvane build [PER_SECOND] [SECONDS]
#
# Defaults: 100 000 datagrams a second for 40 s (the heavy form; run it by
# hand on a quiet machine). tests/scripts/net_flood_light.sh runs a light
# form in the test suite. Passes when the p99 of the step spacing is at most
# MAX_P99_MS (default 60) and pictures sent during the flood reach the
# screen. Everything runs on 127.0.0.1 and 127.0.0.2.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
check_start "$1" "$2"
rate="${3:-100000}"
seconds="${4:-40}"
max_p99="${MAX_P99_MS:-60}"
here="$(cd "$(dirname "$0")" && pwd)"

cc -O2 -o "$work/udp_flood" "$here/udp_flood.c"
cp -r data "$work/data"
mkdir -p "$work/pictures"
# Two pictures in turn, pure red and pure blue: while pictures keep
# arriving, both colours keep being launched.
solid_bmp "$work/pictures/a-red.bmp" 32 0 0 255
solid_bmp "$work/pictures/b-blue.bmp" 32 255 0 0

start_peer "$work/peer.log" --port 0 --pictures "$work/pictures" --interval-ms 100 --summary-s 5
port="$peer_port"
printf '[IP]\n127.0.0.1\n[Port]\n%s\n' "$port" > "$work/data/theStrings.ini"

steps=$(( (seconds + 8) * 20 ))
# NOTE: few frames: writing one takes longer than a step on a slow machine,
# and every written frame would count as a late step.
every=100
"$solvane" --headless --steps "$steps" --data "$work/data" --frames "$work/out" --frame-every "$every" \
  --stats "$work/stats.json" 2>"$work/run.log" &
run=$!
pids+=($run)

target="$(wait_for_value "$work/peer.log" 's/.*pictures go to 127\.0\.0\.1:\([0-9]*\).*/\1/p' 10)" \
  || { echo "the installation never registered"; cat "$work/peer.log" "$work/run.log"; exit 1; }
# The flood starts at this step (about); frames after it are judged.
flood_from_step=$(( $(ls "$work/out" 2>/dev/null | wc -l) * every ))
if [ "$rate" -gt 0 ]; then
  "$work/udp_flood" 127.0.0.2 127.0.0.1 "$target" "$rate" "$seconds" >"$work/flood.out" &
  pids+=($!)
else
  echo "0 0" >"$work/flood.out"  # a baseline run without the flood
fi

wait "$run" || { echo "solvane failed:"; cat "$work/run.log"; exit 1; }
read -r offered taken < "$work/flood.out" || { offered=0; taken=0; }
kill -0 "$peer_pid" || { echo "solvane-peer died during the flood"; cat "$work/peer.log"; exit 1; }

python3 - "$work" "$flood_from_step" "$steps" "$max_p99" "$offered" "$taken" "$seconds" "$every" <<'PY'
import json, os, sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
work, start, steps, max_p99 = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
offered, taken, seconds, every = int(sys.argv[5]), int(sys.argv[6]), float(sys.argv[7]), int(sys.argv[8])
stats = json.load(open(work + '/stats.json'))
spacing = stats['frame_interval_ms']
print('flood: %d datagrams offered, %d taken by the system (%.0f a second) from 127.0.0.2'
      % (offered, taken, taken / seconds))
print('steps %d; step spacing median %.1f ms, p99 %.1f ms, max %.1f ms'
      % (stats['steps'], spacing['median'], spacing['p99'], spacing['max']))
# Judged from ten seconds into the flood, so that pictures launched before
# it have flown.
first = start + 200
red = lambda p: p[0] >= 100 and p[1] < 50 and p[2] < 50
blue = lambda p: p[2] >= 100 and p[0] < 50 and p[1] < 50
frames = [n for n in range(every, steps + 1, every) if n >= first]
reds = sum(1 for n in frames if Frame('%s/out/frame-%06d.png' % (work, n)).fraction(red) > 0.001)
blues = sum(1 for n in frames if Frame('%s/out/frame-%06d.png' % (work, n)).fraction(blue) > 0.001)
print('frames from step %d on: %d with a red picture, %d with a blue one, of %d' % (first, reds, blues, len(frames)))
if spacing['p99'] > max_p99:
    fail('step spacing p99 %.1f ms is above %.0f ms' % (spacing['p99'], max_p99))
if reds == 0 or blues == 0:
    fail('pictures stopped arriving during the flood')
PY
grep -h "in the last" "$work/peer.log" | tail -2
grep -h "refused a picture" "$work/run.log" | head -1 || true
