#!/usr/bin/env bash
# Which display a start without --headless gets, and that it never runs
# unseen: an X display that does not answer (or refuses the cookie) fails
# with one "no display" line, status 1 and no READY=1 to the service manager,
# even with SDL_VIDEODRIVER=offscreen inherited; --headless still renders.
# Under weston's headless compositor (where weston is installed) with no
# DISPLAY it runs on SDL's Wayland driver when the compositor has a seat, and
# says in one line why not, status 1, when it has none and SDL cannot cope
# (or uses X when the session offers that too).
# usage: display_start.sh SOLVANE BUILD_DIR   (run from the source folder)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"
export HOME="$work/home" XDG_DATA_HOME="$work/xdg" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY DISPLAY XAUTHORITY

# refused NAME PATTERN ENV...: status 1, one "cannot start: no display" line
# matching PATTERN, and nothing but the stop on a notify socket.
refused() {
    local name="$1" pattern="$2"
    shift 2
    python3 - "$solvane" "$work" "$name" "$pattern" "$@" <<'PY'
import os, re, socket, subprocess, sys
solvane, work, name, pattern = sys.argv[1:5]
env = dict(os.environ)
for assignment in sys.argv[5:]:
    key, value = assignment.split('=', 1)
    env[key] = value
path = os.path.join(work, name + '.notify')
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(path)
sock.setblocking(False)
env['NOTIFY_SOCKET'] = path
run = subprocess.run([solvane, '--fast', '--steps', '60', '--status-file', os.path.join(work, name + '.json')],
                     env=env, stderr=subprocess.PIPE, text=True, timeout=30)
heard = []
while True:
    try: heard.append(sock.recv(4096).decode())
    except BlockingIOError: break
lines = [l for l in run.stderr.splitlines() if 'cannot start' in l]
ok = (run.returncode == 1 and len(lines) == 1 and 'cannot start: no display' in lines[0]
      and re.search(pattern, lines[0]) and not any('READY=1' in m for m in heard))
if not ok:
    print(run.stderr, heard)
    sys.exit('%s: status %d, expected 1, one "no display" line matching %r and no READY=1'
             % (name, run.returncode, pattern))
print('%s: status 1, no READY=1: %s' % (name, lines[0].split('solvane: ', 1)[1]))
PY
}

# runs NAME DRIVER ENV...: 60 steps, status 0, on the named video driver.
runs() {
    local name="$1" driver="$2"
    shift 2
    local status=0
    env "$@" timeout 60 "$solvane" --fast --steps 60 --status-file "$work/$name.json" \
        > /dev/null 2> "$work/$name.log" || status=$?
    if [ "$status" -ne 0 ] || ! grep -q "using the \"$driver\" video driver" "$work/$name.log"; then
        echo "$name: status $status, expected 0 on the $driver driver"
        cat "$work/$name.log"
        exit 1
    fi
    echo "$name: status 0, 60 steps: $(grep -o "using the \"$driver\" video driver.*" "$work/$name.log")"
}

refused x-nobody 'no X server answers on DISPLAY=":93"' DISPLAY=:93
refused x-nobody-offscreen-inherited 'DISPLAY=":93"' DISPLAY=:93 SDL_VIDEODRIVER=offscreen
env DISPLAY=:93 timeout 60 "$solvane" --headless --fast --steps 5 --status-file "$work/headless.json" \
    > /dev/null 2> "$work/headless.log" || { cat "$work/headless.log"; exit 1; }
grep -q 'using the "offscreen" video driver (headless)' "$work/headless.log" || { cat "$work/headless.log"; exit 1; }
echo "headless with DISPLAY=:93: status 0 on the offscreen driver"

if command -v Xvfb > /dev/null && command -v xauth > /dev/null; then
    # An X server that lets in only the holders of its cookie.
    for file in good wrong; do
        xauth -q -f "$work/$file.auth" add :0 . "$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')" 2> /dev/null
    done
    exec {displayfd}<> <(:)
    Xvfb -displayfd "$displayfd" -auth "$work/good.auth" -nolisten tcp -screen 0 800x600x24 \
        > "$work/xvfb.log" 2>&1 &
    pids+=($!)
    read -r -t 20 number <&"$displayfd" || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
    exec {displayfd}>&-
    for file in good wrong; do
        cookie="$(xauth -f "$work/$file.auth" list | awk '{print $3}')"
        rm "$work/$file.auth"
        xauth -q -f "$work/$file.auth" add ":$number" . "$cookie" 2> /dev/null
    done
    refused x-wrong-cookie "DISPLAY=\":$number\"" DISPLAY=":$number" XAUTHORITY="$work/wrong.auth"
    runs x-right-cookie x11 DISPLAY=":$number" XAUTHORITY="$work/good.auth"
else
    echo "display_start: no Xvfb or xauth; the X cookie checks are skipped"
fi

# start_weston NAME [MODULE]: a headless weston on socket NAME.
start_weston() {
    local name="$1"
    shift
    weston --backend=headless-backend.so --socket="$name" --idle-time=0 --no-config "$@" \
        > "$work/$name.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/$name" ] && return 0
        sleep 0.1
    done
    echo "weston did not start"
    cat "$work/$name.log"
    exit 1
}

if ! command -v weston > /dev/null; then
    echo "display_start: no weston; the Wayland checks are skipped"
    exit 0
fi
start_weston wl-bare
status=0
env WAYLAND_DISPLAY=wl-bare timeout 60 "$solvane" --fast --steps 60 --status-file "$work/bare.json" \
    > /dev/null 2> "$work/bare.log" || status=$?
if [ "$status" -eq 1 ]; then
    refused wayland-no-seat 'offers no input seat' WAYLAND_DISPLAY=wl-bare
elif [ "$status" -ne 0 ] || ! grep -q 'using the "wayland" video driver' "$work/bare.log"; then
    echo "wayland without a seat: status $status, expected 0 (a newer SDL) or 1 with one line"
    cat "$work/bare.log"
    exit 1
fi
if [ "$status" -eq 1 ] && [ -n "${number:-}" ]; then
    # The session also offers X (as XWayland would): that is used instead.
    runs wayland-no-seat-with-x x11 WAYLAND_DISPLAY=wl-bare DISPLAY=":$number" XAUTHORITY="$work/good.auth"
    grep -q 'not using Wayland: the Wayland compositor at "wl-bare" offers no input seat' \
        "$work/wayland-no-seat-with-x.log" || { cat "$work/wayland-no-seat-with-x.log"; exit 1; }
fi
if [ -f "$build/tests/weston-test-seat.so" ]; then
    start_weston wl-seat --modules="$build/tests/weston-test-seat.so"
    runs wayland-with-seat wayland WAYLAND_DISPLAY=wl-seat
else
    echo "display_start: weston-test-seat.so not built (no libweston-10-dev); the Wayland run is skipped"
fi
echo "display_start: ok"
