#!/usr/bin/env bash
# The shipped user unit passes systemd's own checks once pointed at this build.
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
sed -e "s#%h/solvane/build/solvane#$solvane#" -e "s#%h/solvane#$root#g" \
    tools/systemd/solvane.service > "$work/units/solvane.service"
grep -q "^ExecStart=$solvane --data $root/data" "$work/units/solvane.service"
XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$work/units/solvane.service"
echo "unit verified"
