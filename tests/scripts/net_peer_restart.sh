#!/usr/bin/env bash
# The peer is killed and started again while the installation runs in real
# time: the installation says it lost the peer, tries again, registers with
# the new one and shows its pictures, within 40 s. Everything runs on
# 127.0.0.1.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"

cp -r data "$work/data"
mkdir -p "$work/blue" "$work/red"
# The first peer sends pure blue pictures, the second pure red ones: red on
# the screen can only have come after the restart.
solid_bmp "$work/blue/blue.bmp" 32 255 0 0
solid_bmp "$work/red/red.bmp" 32 0 0 255

start_peer "$work/peer1.log" --port 0 --pictures "$work/blue" --interval-ms 100
first="$peer_pid"
port="$peer_port"
printf '[IP]\n127.0.0.1\n[Port]\n%s\n' "$port" > "$work/data/theStrings.ini"

# 25 s of real time at 50 ms a step (longer on a loaded machine: it only
# checks what it sees).
"$solvane" --headless --steps 500 --data "$work/data" --frames "$work/out" --frame-every 10 2>"$work/run.log" &
run=$!
pids+=($run)
wait_for_line "$work/peer1.log" "installation 0 registered" 20 || { echo "no registration"; cat "$work/peer1.log" "$work/run.log"; exit 1; }
sleep 2
kill -9 "$first"
killed_at=$SECONDS
sleep 3

start_peer "$work/peer2.log" --port "$port" --pictures "$work/red" --interval-ms 100
restarted_at=$SECONDS
wait_for_line "$work/peer2.log" "installation 0 registered" 40 || { echo "no registration with the restarted peer within 40 s"; cat "$work/run.log"; exit 1; }
back_after=$((SECONDS - restarted_at))
echo "registered again ${back_after} s after the restart ($((SECONDS - killed_at)) s after the kill)"
back_step=$(( $(ls "$work/out" | wc -l) * 10 ))

wait "$run" || { echo "solvane failed:"; cat "$work/run.log"; exit 1; }
grep -q "lost the peer 127.0.0.1:$port" "$work/run.log" || { echo "the loss was not logged"; cat "$work/run.log"; exit 1; }
grep -q "the peer 127.0.0.1:$port is back" "$work/run.log" || { echo "the return was not logged"; cat "$work/run.log"; exit 1; }
test "$(grep -c "lost the peer" "$work/run.log")" -eq 1 || { echo "the loss was logged more than once"; cat "$work/run.log"; exit 1; }

python3 - "$work/out" "$back_step" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
out, back = sys.argv[1], int(sys.argv[2])
red = lambda p: p[0] >= 100 and p[1] < 50 and p[2] < 50
steps = [n for n in range(10, 501, 10) if n > back]
shown = [n for n in steps if Frame('%s/frame-%06d.png' % (out, n)).fraction(red) > 0.001]
if not shown:
    fail('no picture of the restarted peer reached the screen')
print('pictures of the restarted peer on the screen from step %d (registered again by step %d)' % (shown[0], back))
PY
