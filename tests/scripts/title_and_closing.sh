#!/usr/bin/env bash
# The title fades into the main scene; Escape runs the closing sequence to a
# white frame with the copyright picture, and the program ends by itself.
set -euo pipefail
solvane="$1"
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT
export SDL_AUDIODRIVER=dummy

"$solvane" --headless --fast --steps 70 --frames "$out/title" 2>"$out/title.log"
"$solvane" --headless --fast --press escape@100 --frames "$out/close" --frame-every 1 --stats "$out/close.json" \
  2>"$out/close.log"
test "$(ls "$out/close" | wc -l)" -eq 197 || { echo "expected 197 frames"; exit 1; }
test ! -e "$out/close/frame-000198.png"
# The step that ends the run is counted like every other.
python3 -c 'import json,sys; s=json.load(open(sys.argv[1])); sys.exit(0 if (s["steps"], s["frames"], s["frames_written"]) == (197, 197, 197) else "stats: %r" % s)' "$out/close.json"
grep -q "solvane: stopped: Escape during the scene (the closing sequence ended), up .* 197 steps" "$out/close.log" || { cat "$out/close.log"; exit 1; }

python3 - "$out" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
out = sys.argv[1]
def f(kind, n): return Frame('%s/%s/frame-%06d.png' % (out, kind, n))

white = lambda p: min(p) >= 250
first = f('title', 1)
if first.fraction(white) < 0.5: fail('frame 1 should be mostly white')
if first.mean(0, 0, 40, 40) < (250, 250, 250): fail('frame 1 corners should be white')
centre = first.mean(192, 112, 448, 368)
if min(centre) > 245: fail('frame 1 should show the title picture in the centre')
if f('title', 33).fraction(white) < 0.5: fail('frame 33 should still be white')
mid = f('title', 50).pixel(5, 5)
if not (60 < mid[0] < 250): fail('frame 50 should be half faded, got %r' % (mid,))
main = f('title', 66)
if main.fraction(lambda p: max(p) <= 8) < 0.3: fail('frame 66 should be the main scene, mostly black')

if f('close', 101).fraction(white) > 0.05: fail('the first closing frame shows no white')
last = f('close', 197)
if last.mean(0, 0, 100, 100) < (250, 250, 250): fail('the last closing frame should be white')
corner = last.mean(384, 416, 640, 480)
if min(corner) > 250: fail('the copyright picture should sit at the bottom right')
print('title and closing frames look right')
PY
