#!/usr/bin/env bash
# Pictures from solvane-peer fly into the scene, and a flood of malformed and
# oversized datagrams at the installation (and at the peer) stops neither the
# frames nor the pictures. Everything runs on 127.0.0.1.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
check_start "$1" "$2"

cp -r data "$work/data"
mkdir -p "$work/pictures"
# One white picture: whatever tint the scene gives it, it shows up bright
# against the dark main scene.
solid_bmp "$work/pictures/white.bmp" 64 255 255 255

start_peer "$work/peer.log" --port 0 --pictures "$work/pictures" --interval-ms 40
port="$peer_port"
printf '[IP]\n127.0.0.1\n[Port]\n%s\n' "$port" > "$work/data/theStrings.ini"

# The flood: once the peer has learnt the installation's address, junk of
# every wrong size goes there and to the peer until this script stops it.
python3 - "$work/peer.log" "$port" "$work/flood.count" <<'PY' &
import os, re, socket, sys, time
log, peer_port, count_file = sys.argv[1], int(sys.argv[2]), sys.argv[3]
deadline = time.time() + 60
target = None
while target is None and time.time() < deadline:
    m = re.search(r'pictures go to 127\.0\.0\.1:(\d+)', open(log).read())
    if m: target = ('127.0.0.1', int(m.group(1)))
    else: time.sleep(0.02)
if target is None: sys.exit(0)
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setblocking(False)
small = [b'', b'\xff', b'\xfe\xff\x00', b'\xfe\xff\x09\x00', b'\xff\xff\x01\x00', b'\x00' * 100,
         b'\x11' * 1400]
large = [b'\x22' * 49151, b'\x33' * 49153, b'\x44' * 65507]
sent = 0
reported = 0.0
burst = 0
while time.time() < deadline:
    burst += 1
    # The oversized ones now and then: each fills a good part of the
    # socket's receive queue on its own.
    for j in small + (large if burst % 20 == 0 else []):
        for where in (target, ('127.0.0.1', peer_port)):
            try:
                s.sendto(j, where); sent += 1
            except (BlockingIOError, OSError):
                pass
    if time.time() - reported > 0.05:
        # Written whole, then renamed: the reader never sees half a number.
        open(count_file + '.new', 'w').write(str(sent))
        os.replace(count_file + '.new', count_file)
        reported = time.time()
    # A few thousand bad datagrams a second. Unpaced, the flood fills the
    # socket's receive queue and the kernel drops the real pictures before
    # the installation sees them, which would test the machine's speed
    # rather than the link.
    time.sleep(0.005)
PY
pids+=($!)

# NOTE: --fast steps race ahead of the real-time link (a step takes a few
# milliseconds); the run is long enough that the first picture, however late
# the handshake, has time to fly in before the frames that are checked.
"$solvane" --headless --fast --steps 800 --data "$work/data" --frames "$work/out" --frame-every 20 2>"$work/run.log" \
  || { echo "solvane failed:"; cat "$work/run.log"; exit 1; }
test "$(ls "$work/out" | wc -l)" -eq 40 || { echo "expected 40 frames"; ls "$work/out"; exit 1; }
flooded="$(cat "$work/flood.count" 2>/dev/null || echo 0)"
[ "${flooded:-0}" -gt 500 ] || { echo "the flood did not get going ($flooded datagrams)"; cat "$work/peer.log"; exit 1; }
grep -q "registered; pictures go to" "$work/peer.log" || { echo "the installation never registered"; exit 1; }
kill -0 "$peer_pid" || { echo "solvane-peer died during the flood"; cat "$work/peer.log"; exit 1; }

python3 - "$work/out" <<'PY'
import sys
sys.path.insert(0, 'tests/scripts')
from frames import Frame, fail
out = sys.argv[1]
bright = lambda p: min(p) >= 120
best = max(Frame('%s/frame-%06d.png' % (out, n)).fraction(bright) for n in range(400, 801, 20))
if best < 0.005:
    fail('no picture from the peer shows in frames 400 to 800 (brightest share %.4f)' % best)
print('pictures arrive through the flood (brightest share %.3f)' % best)
PY
