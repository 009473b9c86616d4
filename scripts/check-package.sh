#!/usr/bin/env bash
# Checks a built package on a throw-away machine (CI runs it as root): its
# contents, lintian's errors, then installs it, runs it from an empty folder
# as a user would, verifies the unit, removes it and checks nothing is left.
#   bash scripts/check-package.sh out/solvane_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "${1:?usage: check-package.sh PACKAGE.deb}")
fail() { echo "check-package: $*" >&2; exit 1; }

contents=$(dpkg-deb -c "$deb")
for path in ./usr/bin/solvane ./usr/bin/solvane-peer ./usr/share/solvane/data/title.png \
            ./usr/share/man/man1/solvane.1.gz ./usr/share/man/man1/solvane-peer.1.gz \
            ./usr/lib/systemd/user/solvane.service ./usr/share/doc/solvane/copyright \
            ./usr/share/doc/solvane/changelog.Debian.gz; do
    grep -q " $path\$" <<<"$contents" || fail "$path is not in the package"
done
dpkg-deb -f "$deb" Depends | grep -q libsdl2 || fail "no computed dependencies"

# Warnings are listed; an error fails the check.
lintian --no-tag-display-limit "$deb" | tee /tmp/lintian.txt || true
if grep -q '^E:' /tmp/lintian.txt; then fail "lintian reports errors"; fi

DEBIAN_FRONTEND=noninteractive apt-get install -y -q --reinstall "$deb" >/dev/null
dpkg -L solvane | sort >/tmp/package-files.txt

# A user's run from an empty folder: the voice lands in the home folder and
# nothing under /usr changes.
home=$(mktemp -d)
mkdir -m 700 "$home/run"
run=$(mktemp -d)
voice=$(mktemp --suffix=.wav)
sox -n -r 16000 -c 1 -b 16 "$voice" synth 4 sine 300:900 vol 0.8
stamp=$(mktemp)
sleep 1
(cd "$run" && HOME=$home XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_RUNTIME_DIR=$home/run \
    solvane --headless --fast --voice "$voice" --steps 300 --seed 1) \
    || fail "the installed program did not run"
[ -f "$home/.local/share/solvane/memory.wav" ] || fail "no voice under the home folder"
written=$(find /usr -newer "$stamp" -not -type d 2>/dev/null | head)
[ -z "$written" ] || fail "written under /usr: $written"
[ -z "$(ls -A "$run")" ] || fail "written into the working folder: $(ls -A "$run")"

# A user manager needs a runtime folder; the one of the run above serves.
XDG_RUNTIME_DIR=$home/run systemd-analyze verify --user /usr/lib/systemd/user/solvane.service || fail "the unit does not verify"
man -P cat solvane >/dev/null || fail "man solvane"

# An upgrade: the same package with a higher revision, installed over it,
# keeps the user's settings, voice and enabled unit (the link that
# `systemctl --user enable` makes).
mkdir -p "$home/.config/solvane" "$home/.config/systemd/user/graphical-session.target.wants"
echo '[input]' >"$home/.config/solvane/solvane.toml"
ln -s /usr/lib/systemd/user/solvane.service "$home/.config/systemd/user/graphical-session.target.wants/solvane.service"
newer=$(mktemp -d)
dpkg-deb -R "$deb" "$newer/tree"
version=$(dpkg-deb -f "$deb" Version)
sed -i "s/^Version: .*/Version: $version+upgrade1/" "$newer/tree/DEBIAN/control"
dpkg-deb --root-owner-group -b "$newer/tree" "$newer/solvane-newer.deb" >/dev/null
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$newer/solvane-newer.deb" >/dev/null
[ "$(dpkg-query -W -f='${Version}' solvane)" = "$version+upgrade1" ] || fail "the upgrade did not install"
[ -f "$home/.config/solvane/solvane.toml" ] || fail "the upgrade lost the settings"
[ -f "$home/.local/share/solvane/memory.wav" ] || fail "the upgrade lost the voice"
[ -e "$home/.config/systemd/user/graphical-session.target.wants/solvane.service" ] || fail "the upgrade lost the enabled unit"
rm -rf "$newer"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -q solvane >/dev/null
left=""
while read -r path; do
    [ -d "$path" ] && continue
    [ -e "$path" ] && left="$left $path"
done </tmp/package-files.txt
[ -z "$left" ] || fail "left after removal:$left"
[ ! -e /usr/share/solvane ] || fail "/usr/share/solvane left after removal"
[ -f "$home/.local/share/solvane/memory.wav" ] || fail "removal touched the user's voice"
[ -f "$home/.config/solvane/solvane.toml" ] || fail "removal touched the user's settings"
rm -rf "$home" "$run" "$voice" "$stamp"
echo "check-package: $(basename "$deb") passes"
