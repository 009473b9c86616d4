#!/usr/bin/env bash
# The web view during a real-time --demo run, seen from outside on loopback:
# the status document parses and its step count grows, the frame is a PNG
# that changes, headless Chromium shows the page with the picture and the
# figures after 20 s (kept as BUILD/web-view.png to look at), a wrong token
# is refused and changes nothing, the right one changes the threshold, and
# "close" ends the run through the closing sequence with status 0.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
cp -r data "$work/data"
token="t0ken-$RANDOM$RANDOM"

"$solvane" --headless --demo --data "$work/data" --http 127.0.0.1:0 --http-token "$token" 2>"$work/run.log" &
pid=$!
pids+=("$pid")
started=$SECONDS
url="$(wait_for_value "$work/run.log" 's|.*web: serving \(http://127.0.0.1:[0-9]*/\).*|\1|p' 10)" \
  || { echo "the web view did not start:"; cat "$work/run.log"; exit 1; }

fail() { echo "web_view: $*"; echo "--- log"; cat "$work/run.log"; exit 1; }
steps() { curl -fsS "${url}status.json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["steps"])'; }
threshold() { curl -fsS "${url}status.json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["threshold"])'; }
control() {  # token body -> HTTP status
  curl -sS -o /dev/null -w '%{http_code}' -X POST -H "Authorization: Bearer $1" \
       -H 'Content-Type: application/json' -d "$2" "${url}control"
}

# Status and frame, a few seconds apart.
sleep 1
first_steps="$(steps)"
curl -fsS -o "$work/frame1.png" "${url}frame.png"
sleep 3
second_steps="$(steps)"
curl -fsS -o "$work/frame2.png" "${url}frame.png"
[ "$second_steps" -gt $((first_steps + 20)) ] || fail "steps did not grow: $first_steps then $second_steps"
python3 - "$work/frame1.png" "$work/frame2.png" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
a, b = Frame(sys.argv[1]), Frame(sys.argv[2])
if (a.width, a.height) != (640, 480) or (b.width, b.height) != (640, 480): fail('frames should be 640x480')
if a.rows == b.rows: fail('the frame did not change in three seconds')
PY
echo "status: steps $first_steps then $second_steps; frame.png changed"

# The page as a phone would show it, 20 s into the run.
sleep $((started + 20 - SECONDS > 0 ? started + 20 - SECONDS : 0))
shot="$build/web-view.png"
rm -f "$shot"
timeout 120 chromium --headless=new --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
  --user-data-dir="$work/chromium" --window-size=420,1500 --virtual-time-budget=4000 \
  --screenshot="$shot" "$url" >"$work/chromium.log" 2>&1 || { cat "$work/chromium.log"; fail "chromium failed"; }
python3 - "$shot" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
shot = Frame(sys.argv[1])
if (shot.width, shot.height) != (420, 1500): fail('screenshot size %dx%d' % (shot.width, shot.height))
# The picture sits at the top below the title: the demo's scene is not a flat
# area of the page's background.
colours = set()
for y in range(40, 340, 7):
    for x in range(10, 410, 7):
        colours.add(shot.pixel(x, y))
if len(colours) < 20: fail('the screenshot shows no picture (%d colours)' % len(colours))
PY
echo "screenshot: $shot"

# Controls: a wrong token changes nothing, the right one does.
before="$(threshold)"
code="$(control wrong '{"action":"threshold","value":-30}')"
[ "$code" = 403 ] || fail "wrong token answered $code"
code="$(control '' '{"action":"close"}')"
[ "$code" = 403 ] || fail "no token answered $code"
sleep 0.5
[ "$(threshold)" = "$before" ] || fail "the threshold changed without the token"
code="$(control "$token" '{"action":"threshold","value":-30}')"
[ "$code" = 202 ] || fail "the right token answered $code"
for _ in $(seq 40); do [ "$(threshold)" = 1036 ] && break; sleep 0.1; done
[ "$(threshold)" = 1036 ] || fail "the threshold did not become 1036 (-30 dBFS): $(threshold)"
echo "token: wrong refused (threshold stays $before), right one set 1036"

# Close: the closing sequence fades to white over the copyright picture
# (97 steps, about 5 s) before the program ends.
curl -fsS -o "$work/before-close.png" "${url}frame.png"
code="$(control "$token" '{"action":"close"}')"
[ "$code" = 202 ] || fail "close answered $code"
closed=$SECONDS
brightest=0
n=0
while kill -0 "$pid" 2>/dev/null && [ $((SECONDS - closed)) -lt 30 ]; do
  if curl -fsS -o "$work/closing-$n.png" "${url}frame.png" 2>/dev/null; then n=$((n + 1)); fi
  sleep 0.5
done
status=0
wait "$pid" || status=$?
pids=()
elapsed=$((SECONDS - closed))
[ "$status" = 0 ] || fail "the run ended with status $status"
[ "$elapsed" -ge 3 ] && [ "$elapsed" -lt 30 ] || fail "the run ended $elapsed s after close"
python3 - "$work" "$n" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
work, n = sys.argv[1], int(sys.argv[2])
# The frames are read back once a second and the program ends with the fade;
# on a busy machine a fetch may be slow, so the last frame caught can be an
# early one of the fade. It must be lighter than the frame before close.
before = Frame('%s/before-close.png' % work).lightness()
best = max((Frame('%s/closing-%d.png' % (work, i)).lightness() for i in range(n)), default=0)
if best < before + 20:
    fail('the frames did not fade towards white after close (lightness %.1f before, at most %.1f after, of %d frames)'
         % (before, best, n))
PY
echo "close: ended through the closing sequence after $elapsed s, status 0"
