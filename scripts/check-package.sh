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

DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null
dpkg -L solvane | sort >/tmp/package-files.txt

# A user's run from an empty folder: the voice lands in the home folder and
# nothing under /usr changes.
home=$(mktemp -d)
run=$(mktemp -d)
sox -n -r 16000 -c 1 -b 16 "$run/../voice-$$.wav" synth 4 sine 300:900 vol 0.8
stamp=$(mktemp)
sleep 1
(cd "$run" && HOME=$home XDG_DATA_HOME= XDG_CONFIG_HOME= XDG_RUNTIME_DIR=$home/run \
    solvane --headless --fast --voice "$run/../voice-$$.wav" --steps 300 --seed 1) \
    || fail "the installed program did not run"
[ -f "$home/.local/share/solvane/memory.wav" ] || fail "no voice under the home folder"
written=$(find /usr -newer "$stamp" -not -type d 2>/dev/null | head)
[ -z "$written" ] || fail "written under /usr: $written"
[ -z "$(ls -A "$run")" ] || fail "written into the working folder: $(ls -A "$run")"

systemd-analyze verify --user /usr/lib/systemd/user/solvane.service || fail "the unit does not verify"
man -P cat solvane >/dev/null || fail "man solvane"

DEBIAN_FRONTEND=noninteractive apt-get remove -y -q solvane >/dev/null
left=""
while read -r path; do
    [ -d "$path" ] && continue
    [ -e "$path" ] && left="$left $path"
done </tmp/package-files.txt
[ -z "$left" ] || fail "left after removal:$left"
[ ! -e /usr/share/solvane ] || fail "/usr/share/solvane left after removal"
[ -f "$home/.local/share/solvane/memory.wav" ] || fail "removal touched the user's voice"
rm -rf "$home" "$run" "$run/../voice-$$.wav" "$stamp"
echo "check-package: $(basename "$deb") passes"
