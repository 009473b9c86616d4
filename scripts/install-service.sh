#!/usr/bin/env bash
# Installs the systemd user unit that starts Solvane at login, for the
# checkout this script is in: the unit's paths point here, the session's
# display is imported into the user's service manager, and the unit is
# enabled. Run it as the gallery user, from the graphical session.
#   bash scripts/install-service.sh                 install, enable, say how to see its state
#   bash scripts/install-service.sh --unit-dir DIR --no-systemctl [--program PATH]
#                                                   only write the unit into DIR (for checks)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
units="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user"
use_systemctl=1
solvane="$root/build/solvane"
while [ $# -gt 0 ]; do
  case "$1" in
    --unit-dir) units="$2"; shift 2 ;;
    --no-systemctl) use_systemctl=0; shift ;;
    --program) solvane="$2"; shift 2 ;;
    *) echo "install-service: unknown option \"$1\"" >&2; exit 2 ;;
  esac
done

if [ ! -x "$solvane" ]; then
  echo "install-service: building $solvane first"
  bash "$root/scripts/build.sh" solvane
fi

mkdir -p "$units"
sed -e "s#%h/solvane/build/solvane#$solvane#" -e "s#%h/solvane#$root#g" \
    "$root/tools/systemd/solvane.service" > "$units/solvane.service"
echo "install-service: wrote $units/solvane.service (runs $solvane --data $root/data)"

if [ "$use_systemctl" = 1 ]; then
  # The user's service manager does not see the session's display unless the
  # session hands it over; desktop sessions do it themselves, this makes sure.
  names=()
  for name in DISPLAY WAYLAND_DISPLAY XAUTHORITY; do
    if [ -n "${!name:-}" ]; then names+=("$name"); fi
  done
  if [ ${#names[@]} -gt 0 ]; then
    systemctl --user import-environment "${names[@]}"
    echo "install-service: imported ${names[*]} into the user's service manager"
  else
    echo "install-service: no display in this shell; run this from the graphical session," \
         "or see README.md (Starting at login) for a bare X session"
  fi
  systemctl --user daemon-reload
  systemctl --user enable solvane.service
fi

cat <<TEXT
install-service: done. Start it now with   systemctl --user start solvane
  its state:              systemctl --user status solvane
  what it is doing:       $solvane --show-status
  its messages:           journalctl --user -u solvane -f
  only the problems:      journalctl --user -u solvane -p warning
  stop it for good:       systemctl --user disable --now solvane
TEXT
