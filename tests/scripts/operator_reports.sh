#!/usr/bin/env bash
# What an operator reads: every log line carries its time (or the journal's
# priority under systemd); the status file is whole JSON during a run and its
# step count grows; --show-status says it in words and notices a stale file;
# a start without a display fails at once, naming --headless.
set -euo pipefail
solvane="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy
fail() { echo "$1"; [ -n "${2:-}" ] && cat "$2"; exit 1; }

# Log lines of a 60-step run.
"$solvane" --headless --fast --steps 60 --status-file "$work/a.json" 2>"$work/plain.log"
test -s "$work/plain.log" || fail "no log lines"
if grep -vqE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} solvane: ' "$work/plain.log"; then
  fail "a line without a timestamp:" "$work/plain.log"
fi
grep -q "solvane: started: version " "$work/plain.log" || fail "no start line" "$work/plain.log"
grep -q "solvane: stopped: --steps 60 reached, up .* 60 steps" "$work/plain.log" || fail "no stop line" "$work/plain.log"
JOURNAL_STREAM=8:12345 "$solvane" --headless --fast --steps 60 --status-file "$work/b.json" 2>"$work/journal.log"
if grep -vqE '^<[0-7]>solvane: ' "$work/journal.log"; then
  fail "a line without a journal priority:" "$work/journal.log"
fi
JOURNAL_STREAM=8:12345 "$solvane" --headless --fast --steps 5 --voice "$work/none.wav" \
  --status-file "$work/c.json" 2>"$work/failed.log" && fail "a missing voice file should fail the start"
grep -qE '^<3>solvane: cannot start: ' "$work/failed.log" || fail "a failed start is an error" "$work/failed.log"

# The status file during a real-time run (100 steps of 50 ms).
"$solvane" --headless --steps 100 --status-file "$work/live/status.json" 2>"$work/live.log" &
run=$!
python3 - "$work/live/status.json" <<'PY' || { kill "$run" 2>/dev/null; exit 1; }
import json, sys, time
path = sys.argv[1]
seen = []
deadline = time.monotonic() + 30
while time.monotonic() < deadline and len(seen) < 2:
    try:
        steps = json.load(open(path))['steps']
    except FileNotFoundError:
        time.sleep(0.1); continue
    if not seen or steps > seen[-1]:
        seen.append(steps)
    time.sleep(0.3)
if len(seen) < 2: sys.exit('the step count in the status file did not grow: %r' % seen)
print('status file steps grew: %r' % seen)
PY
wait "$run"
python3 - "$work/live/status.json" <<'PY'
import json, sys
status = json.load(open(sys.argv[1]))
if status['steps'] != 100: sys.exit('the last status should show all 100 steps: %r' % status['steps'])
for name in ('started_at', 'uptime_s', 'steps_per_second', 'step_ms_p99', 'input_peak_dbfs', 'input_rms_dbfs',
             'threshold', 'crystals', 'sparks', 'pictures_in_flight', 'pictures_received', 'peer', 'microphone',
             'last_voice', 'warnings', 'errors'):
    if name not in status: sys.exit('no "%s" in the status file' % name)
if not 0 < status['steps_per_second'] <= 25: sys.exit('steps per second %r' % status['steps_per_second'])
PY
# After a clean stop the file says so, and --show-status reports it (status 1: not running).
if "$solvane" --show-status "$work/live/status.json" >"$work/stopped.txt"; then fail "a stopped run should report status 1" "$work/stopped.txt"; fi
grep -q "the installation stopped at .*: --steps 100 reached" "$work/stopped.txt" || fail "show-status should say stopped" "$work/stopped.txt"
python3 - "$work/live/status.json" <<'PY'
import json, sys
path = sys.argv[1]
status = json.load(open(path))
if status.get('state') != 'stopped' or not status.get('stopped_at'): sys.exit('no stopped state: %r' % status)
status['state'] = 'running'
json.dump(status, open(path, 'w'))
PY
"$solvane" --show-status "$work/live/status.json" >"$work/show.txt" || fail "a fresh file should report status 0" "$work/show.txt"
grep -q "step 100 " "$work/show.txt" || fail "show-status should give the step count" "$work/show.txt"
touch -d '-1 minute' "$work/live/status.json"
if "$solvane" --show-status "$work/live/status.json" >"$work/stale.txt"; then fail "a stale file should report status 1"; fi
grep -q "not running or is stuck" "$work/stale.txt" || fail "show-status should call the file stale" "$work/stale.txt"
if "$solvane" --show-status "$work/nothing.json" >"$work/missing.txt"; then fail "no file should report status 1"; fi

# No display: status 1 within 5 s, one line naming --headless.
start=$(date +%s)
if env -u DISPLAY -u WAYLAND_DISPLAY "$solvane" --steps 5 --status-file "$work/d.json" 2>"$work/nodisplay.log"; then
  fail "a start without a display should fail"
fi
test $(( $(date +%s) - start )) -le 5 || fail "the failed start took too long"
test "$(wc -l <"$work/nodisplay.log")" -eq 1 || fail "one line expected" "$work/nodisplay.log"
grep -q "solvane: cannot start: no display (DISPLAY and WAYLAND_DISPLAY are unset); use --headless to render offscreen" \
  "$work/nodisplay.log" || fail "unexpected line" "$work/nodisplay.log"
echo "operator reports look right"
