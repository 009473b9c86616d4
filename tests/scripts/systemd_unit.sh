#!/usr/bin/env bash
# The shipped user unit, written by scripts/install-service.sh for this
# checkout, passes systemd's own checks and is a watched notify service that
# keeps retrying; paths with spaces stay whole; a forwarded display is refused.
set -euo pipefail
solvane="$1"
root="$(pwd)"
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is not installed; run scripts/setup.sh"; exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/runtime" "$work/units"
chmod 700 "$work/runtime"
bash scripts/install-service.sh --unit-dir "$work/units" --no-systemctl --program "$solvane" >"$work/install.log"
unit="$work/units/solvane.service"
case "$solvane" in /*) ;; *) solvane="$root/$solvane" ;; esac
grep -qF "ExecStart=\"$solvane\" --data \"$root/data\"" "$unit" || { cat "$unit"; exit 1; }
grep -q "^WorkingDirectory=$root\$" "$unit"
grep -q "^Type=notify" "$unit"
grep -q "^WatchdogSec=" "$unit"
grep -q "^Restart=always" "$unit"
grep -q "^RestartPreventExitStatus=0" "$unit"
grep -q "^StartLimitIntervalSec=0" "$unit"
grep -q "systemctl --user status solvane" "$work/install.log"
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$unit"
echo "unit verified"

# From a checkout whose path holds a space (and a % and a $): every path stays
# one word of ExecStart, and specifiers and variables are not expanded.
spaced="$work/my checkout 100% \$HOME"
mkdir -p "$spaced/build" "$spaced/tools"
cp -r scripts "$spaced/scripts"
cp -r tools/systemd "$spaced/tools/systemd"
ln -s "$solvane" "$spaced/build/solvane"
ln -s "$root/data" "$spaced/data"
mkdir -p "$work/units2"
env -u DISPLAY bash "$spaced/scripts/install-service.sh" --unit-dir "$work/units2" --no-systemctl > "$work/install2.log"
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$work/units2/solvane.service"
python3 - "$work/units2/solvane.service" "$spaced" <<'PY'
import shlex, sys
unit, spaced = sys.argv[1], sys.argv[2]
lines = dict(l.split('=', 1) for l in open(unit).read().splitlines() if '=' in l and not l.startswith('#'))
# systemd's rules for these words: double quotes group, backslash escapes,
# then %% is a literal %, and in arguments $$ a literal $.
words = [w.replace('%%', '%') for w in shlex.split(lines['ExecStart'])]
words = words[:1] + [w.replace('$$', '$') for w in words[1:]]
want = [spaced + '/build/solvane', '--data', spaced + '/data']
if words != want: sys.exit('ExecStart splits into %r, not %r' % (words, want))
if lines['WorkingDirectory'].replace('%%', '%') != spaced: sys.exit('WorkingDirectory=%s' % lines['WorkingDirectory'])
print('ExecStart=%s splits into %r' % (lines['ExecStart'], words))
PY

# A display forwarded over SSH, or another host's, is refused.
for display in localhost:10.0 gallery-pc:0; do
  status=0
  DISPLAY="$display" bash scripts/install-service.sh --unit-dir "$work/units3" --no-systemctl --program "$solvane" \
      > "$work/ssh.out" 2> "$work/ssh.log" || status=$?
  if [ "$status" -ne 1 ] || ! grep -q "DISPLAY=$display is not this machine's own display" "$work/ssh.log" ||
      [ -e "$work/units3/solvane.service" ]; then
    echo "DISPLAY=$display: status $status"; cat "$work/ssh.log"; exit 1
  fi
done
echo "forwarded display refused: $(cat "$work/ssh.log")"
DISPLAY=:0 bash scripts/install-service.sh --unit-dir "$work/units3" --no-systemctl --program "$solvane" > /dev/null
