#!/usr/bin/env bash
# A lighting desk follows the installation over OSC: liblo's oscdump,
# listening on loopback, receives a level message for every block, the
# phase changes of the crystals and the stored voice during a --fast --voice
# run; the voice message agrees with the stored memory.wav.
# usage: osc_messages.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
private_home

espeak-ng -w "$work/phrase.wav" "the crystals grow from the voice"
sox "$work/phrase.wav" -r 160000 -c 1 -b 16 "$work/voice.wav" gain -n -1 pad 4 0
fresh_data "$work/data"

start_dump "$work/dump.txt"
steps=400
"$solvane" --headless --fast --voice "$work/voice.wav" --steps "$steps" --data "$work/data" \
    --osc-send "127.0.0.1:$dump_port" 2> "$work/run.log" || { cat "$work/run.log"; exit 1; }
# Loopback delivery is immediate; give oscdump a moment to write the last lines.
sleep 0.5
kill "$dump_pid"; wait "$dump_pid" 2>/dev/null || true; pids=()

python3 - "$work/dump.txt" "$work/run.log" "$steps" <<'PY'
import re, sys
dump, log, steps = open(sys.argv[1]).read().splitlines(), open(sys.argv[2]).read(), int(sys.argv[3])
def fail(why):
    print('osc_messages: ' + why); print('\n'.join(dump[:60])); sys.exit(1)
msgs = []
for line in dump:
    parts = line.split()
    if len(parts) >= 2 and parts[1].startswith('/solvane/'):
        msgs.append((parts[1], parts[2] if len(parts) > 2 else '', parts[3:]))

levels = [m for m in msgs if m[0] == '/solvane/level']
if len(levels) != steps: fail('expected %d level messages (one per block), got %d' % (steps, len(levels)))
if any(m[1] != 'ff' for m in levels): fail('level messages carry two floats')
peaks = [float(m[2][0]) for m in levels]
rms = [float(m[2][1]) for m in levels]
if not all(-120 <= r <= p <= 0 for p, r in zip(peaks, rms)): fail('levels must be dBFS with RMS <= peak')
if max(peaks) < -3 or max(peaks) > 0: fail('the voice was normalised to -1 dBFS, loudest block %.2f' % max(peaks))
if min(peaks) > -100: fail('the silence before the voice should read as silence')

names = ['listening', 'recording', 'revealing', 'showing', 'dissolving', 'resting']
crystal = [m for m in msgs if m[0] == '/solvane/crystal']
if any(m[1] != 'is' for m in crystal): fail('crystal messages carry an int and a string')
seen = {}
for m in crystal:
    index, phase = int(m[2][0]), m[2][1].strip('"')
    if not 0 <= index < 16 or phase not in names: fail('bad crystal message %r' % (m,))
    seen.setdefault(index, []).append(phase)
if sorted(seen) != list(range(16)): fail('all sixteen crystals should change phase, got %r' % sorted(seen))
for index, phases in seen.items():
    if phases[:5] != names[1:]:
        fail('crystal %d should run recording, revealing, showing, dissolving, resting; got %r' % (index, phases))

voices = [m for m in msgs if m[0] == '/solvane/voice']
stored = re.findall(r'stored the voice in .* \((\d+) blocks, ([0-9.]+) s\)', log)
if len(voices) != 1 or len(stored) != 1: fail('one voice stored, one voice message: %r / %r' % (voices, stored))
if voices[0][1] != 'if' or int(voices[0][2][0]) != int(stored[0][0]) or abs(float(voices[0][2][1]) - float(stored[0][1])) > 0.01:
    fail('voice message %r does not match the stored voice %r' % (voices[0], stored[0]))

beats = [m for m in msgs if m[0] == '/solvane/heartbeat']
# 400 steps of 51 ms of virtual time: a heartbeat every 20 steps.
if not 18 <= len(beats) <= 20: fail('expected a heartbeat a second, got %d' % len(beats))
if abs(float(beats[0][2][1]) - 1000 / 51) > 0.1: fail('heartbeat rate %r' % (beats[0],))
print('osc_messages: %d level, %d crystal, %d voice, %d heartbeat messages' % (len(levels), len(crystal), len(voices), len(beats)))
PY

echo "== an address nobody listens on is no error"
port="$(free_udp_port)"
"$solvane" --headless --fast --voice "$work/voice.wav" --steps 150 --data "$work/data" \
    --osc-send "127.0.0.1:$dump_port" 2> "$work/nobody.log" || { cat "$work/nobody.log"; exit 1; }
echo "== a malformed address fails the start, naming it"
if "$solvane" --headless --fast --steps 5 --data "$work/data" --osc-send "nowhere" 2> "$work/bad.log"; then
    echo "a malformed send address should fail the start"; exit 1
fi
grep -q 'cannot start: .*"nowhere"' "$work/bad.log" || { cat "$work/bad.log"; exit 1; }
echo "osc_messages: ok"
