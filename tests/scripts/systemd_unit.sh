#!/usr/bin/env bash
# The shipped user unit, written by scripts/install-service.sh for this
# checkout, passes systemd's own checks and is a watched notify service.
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
grep -q "^ExecStart=$solvane --data $root/data" "$unit" || { cat "$unit"; exit 1; }
grep -q "^WorkingDirectory=$root\$" "$unit"
grep -q "^Type=notify" "$unit"
grep -q "^WatchdogSec=" "$unit"
grep -q "^Restart=on-failure" "$unit"
grep -q "systemctl --user status solvane" "$work/install.log"
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$unit"
echo "unit verified"
