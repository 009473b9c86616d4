#!/usr/bin/env bash
# A show-control system steers the installation over OSC with liblo's
# oscsend: /solvane/quit ends a running installation through the closing
# sequence (97 steps after the command, status 0), /solvane/flash is
# reported back as a flash, and a lowered /solvane/threshold lets a soft
# voice grow the crystals that it leaves alone at the default threshold. Runs in real time, so that commands sent
# at a moment of the wall clock land on a known stretch of steps.
# usage: osc_control.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
private_home
fresh_data "$work/data"

# The step count of the latest heartbeat in a dump ("" before the first).
last_heartbeat() { awk '$2 == "/solvane/heartbeat" { steps = $4 } END { print steps }' "$1"; }

wait_for_steps() {
    local file="$1" want="$2"
    for _ in $(seq 600); do
        local steps
        steps="$(last_heartbeat "$file")"
        if [ -n "$steps" ] && [ "$steps" -ge "$want" ]; then return 0; fi
        sleep 0.1
    done
    echo "no heartbeat reached step $want"; cat "$file" | tail -5; exit 1
}

echo "== /solvane/quit runs the closing sequence"
start_dump "$work/quit-dump.txt"
listen_port="$(free_udp_port)"
"$solvane" --headless --data "$work/data" --stats "$work/quit.json" --osc-send "127.0.0.1:$dump_port" \
    --osc-listen "$listen_port" 2> "$work/quit.log" &
app=$!
pids+=($app)
# Past the title (about 66 steps), in the main scene.
wait_for_steps "$work/quit-dump.txt" 100
# A flash asked for is a flash reported.
oscsend 127.0.0.1 "$listen_port" /solvane/flash
for _ in $(seq 100); do grep -q "/solvane/flash" "$work/quit-dump.txt" && break; sleep 0.1; done
grep -q "/solvane/flash" "$work/quit-dump.txt" || { echo "the flash asked for was not reported"; exit 1; }
before="$(last_heartbeat "$work/quit-dump.txt")"
oscsend 127.0.0.1 "$listen_port" /solvane/nothing
oscsend 127.0.0.1 "$listen_port" /solvane/quit i 1
oscsend 127.0.0.1 "$listen_port" /solvane/quit
status=0
wait "$app" || status=$?
test "$status" -eq 0 || { echo "expected status 0, got $status"; cat "$work/quit.log"; exit 1; }
python3 - "$work/quit.json" "$before" "$work/quit.log" <<'PY'
import json, sys
steps, before, log = json.load(open(sys.argv[1]))['steps'], int(sys.argv[2]), open(sys.argv[3]).read()
# The command came at most a second of heartbeats (and some slack for a busy
# machine) after step `before`; the closing sequence then takes 97 steps.
closing = steps - before
if not 97 <= closing <= 97 + 60:
    print('the run ended %d steps after the heartbeat of step %d; expected the 97-step closing' % (closing, before))
    sys.exit(1)
if 'ignored /solvane/nothing: unknown address' not in log or 'ignored /solvane/quit: wrong argument types' not in log:
    print('the two bad messages should be logged as ignored:\n' + log); sys.exit(1)
if 'heard 2 commands' not in log or 'ignored 2 messages' not in log:
    print('two commands heard, two ignored:\n' + log); sys.exit(1)
print('osc_control: quit ended the run %d steps after step %d' % (closing, before))
PY

echo "== a lowered /solvane/threshold lets a soft voice grow crystals"
espeak-ng -w "$work/phrase.wav" "a soft voice in a quiet room"
# Peak -24 dBFS: below the default threshold (4000, -18.3 dBFS). It starts
# after six seconds, long after the command below has been applied.
sox "$work/phrase.wav" -r 160000 -c 1 -b 16 "$work/soft.wav" gain -n -24 pad 6 0
steps=260

# Crystal messages that say "recording" in a dump.
recordings() { awk '$2 == "/solvane/crystal" && $5 == "\"recording\"" { n++ } END { print n + 0 }' "$1"; }

start_dump "$work/default-dump.txt"
"$solvane" --headless --fast --voice "$work/soft.wav" --steps "$steps" --data "$work/data" \
    --osc-send "127.0.0.1:$dump_port" 2> "$work/default.log" || { cat "$work/default.log"; exit 1; }
sleep 0.5
test "$(recordings "$work/default-dump.txt")" -eq 0 || { echo "the soft voice should grow nothing at the default threshold"; exit 1; }
grep -q "/solvane/level" "$work/default-dump.txt" || { echo "the default run sent no levels"; exit 1; }

start_dump "$work/lowered-dump.txt"
listen_port="$(free_udp_port)"
"$solvane" --headless --voice "$work/soft.wav" --steps "$steps" --data "$work/data" \
    --osc-send "127.0.0.1:$dump_port" --osc-listen "$listen_port" 2> "$work/lowered.log" &
app=$!
pids+=($app)
wait_for_steps "$work/lowered-dump.txt" 20
oscsend 127.0.0.1 "$listen_port" /solvane/threshold f -30
status=0
wait "$app" || status=$?
test "$status" -eq 0 || { echo "expected status 0, got $status"; cat "$work/lowered.log"; exit 1; }
sleep 0.5
grown="$(recordings "$work/lowered-dump.txt")"
test "$grown" -eq 16 || { echo "all sixteen crystals should record the soft voice, $grown did"; cat "$work/lowered.log"; exit 1; }
grep -q "/solvane/voice" "$work/lowered-dump.txt" || { echo "the soft voice should be stored"; exit 1; }
echo "osc_control: the lowered threshold grew $grown crystals"
echo "osc_control: ok"
