#!/usr/bin/env bash
# Tuning for the room, end to end: a settings file's gain makes a soft voice
# grow crystals (and memory.wav keeps the louder voice); its threshold keeps
# room noise from growing any; every kind of bad settings file fails the
# start naming its line; the headless calibration meter prints its figures
# and suggests twice the measured noise floor; the F1 panel reaches --frames
# output only with --frames-overlay; a display that does not exist fails the
# start with the list of displays.
# usage: room_tuning.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
# No settings file of the user's may leak in.
private_home

# At 160 000 Hz mono the program's conversion is the identity, so levels in
# the files are the levels the crystals see. The sounds start after four
# seconds, once the title has faded and the crystals listen.
espeak-ng -w "$work/phrase.wav" "the crystals grow from a soft voice in the room"
sox "$work/phrase.wav" -r 160000 -c 1 -b 16 "$work/soft.wav" gain -n -24 pad 4 0
sox -n -r 160000 -c 1 -b 16 "$work/pink.wav" synth 14 pinknoise
pink_rms="$(sox "$work/pink.wav" -n stat 2>&1 | sed -n 's/^RMS *amplitude: *//p')"
pink_gain="$(python3 -c "import math; print(-25 - 20 * math.log10($pink_rms))")"
sox "$work/pink.wav" "$work/noise.wav" vol "$pink_gain" dB pad 4 0

cp -r "$source_dir/data" "$work/data"
run() {  # run NAME VOICE [options...]: a --fast run of 400 steps, not drawn, with its statistics
    local name="$1" voice="$2"
    shift 2
    rm -f "$work/data/memory.wav" "$work/xdg/solvane/memory.wav"
    "$solvane" --headless --fast --renderer null --seed 1 --voice "$voice" --steps 400 --data "$work/data" \
        --stats "$work/$name.json" "$@" 2> "$work/$name.log" || { cat "$work/$name.log"; exit 1; }
}
recording_steps() {
    python3 -c "import json,sys; print(json.load(open(sys.argv[1]))['crystal_steps_by_phase']['recording'])" "$1"
}

echo "== a soft voice (peak -24 dBFS) grows nothing by default"
run soft-default "$work/soft.wav"
test "$(recording_steps "$work/soft-default.json")" -eq 0 || { echo "the soft voice grew crystals"; exit 1; }
test ! -e "$work/data/memory.wav"

echo "== with gain_db = 12 in the settings file it grows crystals, and memory.wav keeps the louder voice"
printf '[input]\ngain_db = 12.0\n' > "$work/gain.toml"
run soft-gain "$work/soft.wav" --config "$work/gain.toml"
test "$(recording_steps "$work/soft-gain.json")" -gt 0 || { echo "the soft voice with gain grew nothing"; exit 1; }
test -e "$work/data/memory.wav"
# The stored blocks are those of the voice made 12 dB louder, clipped to 16 bits.
python3 - "$work/soft.wav" "$work/soft-12db.wav" <<'PY'
import array, math, sys, wave
with wave.open(sys.argv[1]) as w:
    params = w.getparams()
    s = array.array('h', w.readframes(w.getnframes()))
factor = 10 ** (12 / 20)
def scaled(x):
    y = x * factor
    y = math.floor(y + 0.5) if y >= 0 else -math.floor(-y + 0.5)
    return max(-32768, min(32767, y))
with wave.open(sys.argv[2], 'wb') as w:
    w.setparams(params)
    w.writeframes(array.array('h', (scaled(x) for x in s)).tobytes())
PY
python3 "$source_dir/tests/scripts/check_memory_wav.py" "$work/data/memory.wav" "$work/soft-12db.wav"

echo "== the same gain from the command line"
run soft-gain-option "$work/soft.wav" --gain 12
test "$(recording_steps "$work/soft-gain-option.json")" -gt 0

echo "== room noise at -25 dBFS RMS grows crystals by default, none with threshold = 12000"
run noise-default "$work/noise.wav"
test "$(recording_steps "$work/noise-default.json")" -gt 0 || { echo "the noise should grow crystals at 4000"; exit 1; }
printf '# a noisy hall\n[input]\nthreshold = 12000\n' > "$work/quiet.toml"
run noise-threshold "$work/noise.wav" --config "$work/quiet.toml"
test "$(recording_steps "$work/noise-threshold.json")" -eq 0 || { echo "the noise grew crystals at 12000"; exit 1; }
test ! -e "$work/data/memory.wav"

echo "== the user's settings file is found in \$XDG_CONFIG_HOME, and the command line overrides it"
mkdir -p "$work/config/solvane"
cp "$work/quiet.toml" "$work/config/solvane/solvane.toml"
run noise-xdg "$work/noise.wav"
test "$(recording_steps "$work/noise-xdg.json")" -eq 0
run noise-xdg-override "$work/noise.wav" --threshold 4000
test "$(recording_steps "$work/noise-xdg-override.json")" -gt 0
rm "$work/config/solvane/solvane.toml"

echo "== each bad settings file fails the start with status 1, naming the file, the line and the key"
check_bad() {  # check_bad TEXT EXPECTED
    printf "$1" > "$work/bad.toml"
    local status=0
    "$solvane" --headless --steps 1 --data "$work/data" --config "$work/bad.toml" 2> "$work/bad.log" || status=$?
    test "$status" -eq 1 || { echo "status $status for: $1"; cat "$work/bad.log"; exit 1; }
    grep -qF "solvane: cannot start: settings file \"$work/bad.toml\" $2" "$work/bad.log" ||
        { echo "expected '$2' for: $1"; cat "$work/bad.log"; exit 1; }
}
check_bad '[input]\ngain_db = 1.0\nloudness = 3\n' 'line 3, key input.loudness: unknown key'
check_bad '[input]\nthreshold = "high"\n' 'line 2, key input.threshold: needs a whole number, got a string'
check_bad '[run]\necho = "yes"\n' 'line 2, key run.echo: needs true or false, got a string'
check_bad '[input]\n\nthreshold = 50000\n' 'line 3, key input.threshold: must be from 1 to 32767'
check_bad '[display]\nindex = -2\n' 'line 2, key display.index: must be from 0 to 63'
check_bad '[input]\nthreshold = 5000\n[display\n' 'line 3:'
check_bad '[input]\ngain_db = \n' 'line 2:'

echo "== --calibrate --headless prints the meter once a second; the suggestion is twice the floor"
"$solvane" --headless --fast --calibrate --voice "$work/noise.wav" --steps 300 --data "$work/data" \
    > "$work/calibrate.out" 2> "$work/calibrate.log" || { cat "$work/calibrate.log"; exit 1; }
test "$(grep -c '^calibrate: peak ' "$work/calibrate.out")" -eq 15 || { cat "$work/calibrate.out"; exit 1; }
python3 - "$work/calibrate.out" "$work/noise.wav" <<'PY'
import re, sys, wave, array
lines = open(sys.argv[1]).read().split('\n')
last = [l for l in lines if l.startswith('calibrate:')][-1]
m = re.search(r'floor (\d+) .* suggested (\d+) .* threshold (\d+)', last)
floor, suggested, threshold = map(int, m.groups())
if suggested != max(2 * floor, 4000): sys.exit('suggested %d is not twice the floor %d' % (suggested, floor))
if threshold != 4000: sys.exit('threshold %d' % threshold)
# The floor measured here: 95th percentile of the peaks of 50 ms blocks of the noise.
w = wave.open(sys.argv[2])
s = array.array('h', w.readframes(w.getnframes()))
start = 4 * 160000
peaks = sorted(max(s[i:i + 8000]) for i in range(start, len(s) - 8000, 8000))
expected = peaks[int(0.95 * len(peaks))]
print('meter floor %d, suggested %d; measured here %d' % (floor, suggested, expected))
if abs(floor - expected) > 0.1 * expected: sys.exit('floor %d is far from %d' % (floor, expected))
if floor <= 2000: sys.exit('the noise should have a floor above 2000')
PY

echo "== in calibration Up raises the threshold by 1 dB, Right the gain, and S saves both, keeping the rest"
printf '# the hall\n[input]\ndevice = "USB"\nthreshold = 4000 # before\n\n[run]\necho = false\n' > "$work/cal.toml"
"$solvane" --headless --fast --calibrate --voice "$work/noise.wav" --steps 40 --data "$work/data" \
    --config "$work/cal.toml" --press up@5 --press right@10 --press s@30 > /dev/null 2> "$work/save.log" ||
    { cat "$work/save.log"; exit 1; }
grep -q 'saved threshold 4488 (-17.3 dBFS) and gain 1.0 dB' "$work/save.log" || { cat "$work/save.log"; exit 1; }
diff <(printf '# the hall\n[input]\ndevice = "USB"\nthreshold = 4488 # before\ngain_db = 1.0\n\n[run]\necho = false\n') \
    "$work/cal.toml"

echo "== F1 draws the panel into the frames only with --frames-overlay"
panel_run() {
    "$solvane" --headless --fast --seed 1 --demo --steps 100 --frame-every 100 --data "$work/data" "$@" \
        2>> "$work/panel.log" || { cat "$work/panel.log"; exit 1; }
}
panel_run --frames "$work/plain"
panel_run --frames "$work/key" --press f1@100
panel_run --frames "$work/overlay" --press f1@100 --frames-overlay
cmp "$work/plain/frame-000100.png" "$work/key/frame-000100.png"
python3 - "$work" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
out = sys.argv[1]
plain = Frame(out + '/plain/frame-000100.png')
panel = Frame(out + '/overlay/frame-000100.png')
# The panel covers the top-left corner with a dark grey box and light text.
box = panel.mean(12, 12, 300, 260)
if not (8 < box[0] < 60): fail('the panel box should be dark grey, got %r' % (box,))
def light_share(frame, x0, y0, x1, y1):
    pixels = [frame.pixel(x, y) for y in range(y0, y1) for x in range(x0, x1)]
    return sum(1 for p in pixels if min(p) > 180) / len(pixels)
if light_share(panel, 10, 10, 300, 60) < 0.02: fail('the panel should show text')
if light_share(plain, 10, 10, 300, 60) > 0.001: fail('the plain frame should have no text there')
# The rest of the scene is unchanged.
if panel.mean(400, 300, 640, 480) != plain.mean(400, 300, 640, 480): fail('the scene outside the panel changed')
PY

echo "== --display: a display that does not exist fails with the list; --list-devices shows them"
status=0
"$solvane" --headless --display 7 --steps 1 --data "$work/data" 2> "$work/display.log" || status=$?
test "$status" -eq 1
grep -qE '^([0-9-]+ [0-9:.]+ )?solvane: cannot start: there is no display 7 \(displays: 0: .*[0-9]+x[0-9]+\)$' "$work/display.log" ||
    { cat "$work/display.log"; exit 1; }
"$solvane" --list-devices > "$work/devices.out" 2> /dev/null
grep -q '^displays (--display N)' "$work/devices.out"
# Without a display there is nothing to list, and the list says why.
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    grep -qE '^  0: .*[0-9]+x[0-9]+$' "$work/devices.out"
else
    grep -q '^  (none: no display' "$work/devices.out"
fi
echo "room_tuning: ok"
