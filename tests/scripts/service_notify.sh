#!/usr/bin/env bash
# Under a service manager's notify socket (a stand-in bound here) the
# installation says READY=1 after its first frame, pings the watchdog at
# least every half interval while it steps, and sends STATUS lines.
set -euo pipefail
solvane="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy
python3 - "$solvane" "$work" <<'PY'
import os, socket, subprocess, sys, time
solvane, work = sys.argv[1], sys.argv[2]
path = os.path.join(work, 'notify')
sock = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
sock.bind(path)
sock.settimeout(0.2)
# 20 s: pings every 5 s; half the interval leaves room for a busy machine.
interval = 20.0
env = dict(os.environ, NOTIFY_SOCKET=path, WATCHDOG_USEC=str(int(interval * 1e6)))
env.pop('WATCHDOG_PID', None)
# Real time, so that the run lasts 8 s however cheap a step is.
run = subprocess.Popen([solvane, '--headless', '--steps', '160', '--status-file', os.path.join(work, 'status.json')],
                       env=env, stderr=open(os.path.join(work, 'run.log'), 'w'))
heard = []
while True:
    try:
        data = sock.recv(4096)
        heard.append((time.monotonic(), data.decode()))
    except socket.timeout:
        if run.poll() is not None:
            break
status = run.wait()
def fail(why):
    print(open(os.path.join(work, 'run.log')).read())
    for t, m in heard: print('%.2f %r' % (t - heard[0][0], m))
    sys.exit(why)
if status != 0: fail('exit status %d' % status)
ready = [t for t, m in heard if 'READY=1' in m.split('\n')]
if len(ready) != 1: fail('READY=1 should come once, came %d times' % len(ready))
pings = [t for t, m in heard if m == 'WATCHDOG=1']
if len(pings) < 2: fail('too few watchdog pings: %d' % len(pings))
gaps = [b - a for a, b in zip(pings, pings[1:])]
if max(gaps) > interval / 2: fail('a watchdog gap of %.2f s, more than half the interval' % max(gaps))
statuses = [m for t, m in heard if 'STATUS=step ' in m]
if len(statuses) < 2: fail('expected a status line at READY and one every few seconds, got %d' % len(statuses))
if not any('STOPPING=1' in m for t, m in heard): fail('no STOPPING=1 at the end')
print('READY=1 once, %d watchdog pings (longest gap %.2f s), %d status lines, e.g. %s'
      % (len(pings), max(gaps), len(statuses), statuses[-1].split('STATUS=')[1]))
PY
