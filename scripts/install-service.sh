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

case "$solvane" in /*) ;; *) solvane="$PWD/$solvane" ;; esac
if [ ! -x "$solvane" ]; then
  echo "install-service: building $solvane first"
  bash "$root/scripts/build.sh" solvane
fi

# A word of a unit's ExecStart=, as systemd reads it: in double quotes (so
# that a path with a space stays one word), with the quote, the backslash and
# the specifier sign % escaped, and in arguments (not the program, which
# systemd never expands) the variable sign $ as well.
exec_word() {
  local word="$1"
  word="${word//\\/\\\\}"
  word="${word//\"/\\\"}"
  word="${word//%/%%}"
  printf '"%s"' "$word"
}
exec_argument() {
  local word
  word="$(exec_word "$1")"
  printf '%s' "${word//\$/\$\$}"
}
# A whole-line path setting (WorkingDirectory=): no splitting, only specifiers.
path_value() { printf '%s' "${1//%/%%}"; }

# The session's X display is only of use to the service when it is this
# machine's own: one forwarded over SSH (localhost:10.0) or on another host
# vanishes with the connection, and the unit would restart against it forever.
display_is_local() {
  case "$1" in
    :*|unix:*|/*) return 0 ;;
    *) return 1 ;;
  esac
}
if [ -n "${DISPLAY:-}" ] && ! display_is_local "$DISPLAY"; then
  echo "install-service: DISPLAY=$DISPLAY is not this machine's own display (forwarded over SSH, or another" \
       "host's); the installation must draw on the gallery machine's screen. Run this from its graphical" \
       "session, or as DISPLAY=:0 bash scripts/install-service.sh" >&2
  exit 1
fi

mkdir -p "$units"
unit="$units/solvane.service"
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    WorkingDirectory=*) line="WorkingDirectory=$(path_value "$root")" ;;
    ExecStart=*) line="ExecStart=$(exec_word "$solvane") --data $(exec_argument "$root/data")" ;;
  esac
  printf '%s\n' "$line"
done < "$root/tools/systemd/solvane.service" > "$unit.partial"
mv "$unit.partial" "$unit"
echo "install-service: wrote $unit (runs $solvane --data $root/data)"

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
