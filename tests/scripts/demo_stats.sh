#!/usr/bin/env bash
# The demo runs without a microphone or a peer; its statistics are valid JSON
# that agrees with the frames written, and the contact sheet is made from them.
set -euo pipefail
solvane="$1"
build="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy
cp -r data "$work/data"

"$solvane" --headless --fast --demo --seed 1 --steps 300 --data "$work/data" \
  --frames "$work/frames" --frame-every 10 --stats "$work/stats.json" 2>"$work/run.log"
grep -q "solvane: stats: 300 steps, 300 frames" "$work/run.log" || { cat "$work/run.log"; exit 1; }
"$build/solvane-contact-sheet" "$work/frames" "$work/sheet.png" 12 >/dev/null

python3 - "$work" <<'PY'
import json, os, sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
work = sys.argv[1]
stats = json.load(open(os.path.join(work, 'stats.json')))
frames = sorted(os.listdir(os.path.join(work, 'frames')))
if stats['steps'] != 300 or stats['frames'] != 300: fail('steps and frames should be 300: %r' % stats)
if stats['frames_written'] != len(frames) or len(frames) != 30: fail('frames written disagree: %d files' % len(frames))
if frames[0] != 'frame-000010.png' or frames[-1] != 'frame-000300.png': fail('unexpected frame names')
if stats['draw_calls_per_frame']['max'] < 1: fail('nothing was drawn')
# Crystals and sparks send their vertices once, not every frame; pictures bind their textures.
if not 0 < stats['upload_bytes_per_frame']['max'] < 1000000: fail('upload bytes per frame: %r' % stats['upload_bytes_per_frame'])
if stats['texture_binds_per_frame']['max'] < 1: fail('no texture was bound')
if stats['state_calls_per_frame']['max'] < 1: fail('no GL state call was counted')
phases = stats['crystal_steps_by_phase']
if sum(phases.values()) != 16 * 300: fail('sixteen crystals counted on every step: %r' % phases)
if phases['recording'] == 0: fail('the demo voice should make the crystals record')
if stats['pictures_in_flight']['max'] == 0: fail('the built-in peer should send pictures')
sheet = Frame(os.path.join(work, 'sheet.png'))
if (sheet.width, sheet.height) != (6 + 6 * 219, 6 + 2 * 180): fail('contact sheet size %dx%d' % (sheet.width, sheet.height))
print('demo statistics agree with %d frames' % len(frames))
PY
