#!/usr/bin/env bash
# The web view under load: a real-time --demo run is served RATE requests a
# second for SECONDS on loopback (status, log, page and frame, as phones
# polling it would ask), and the spacing of its steps is compared with the
# same run without requests. Prints both; fails when the loaded run's step
# spacing p99 exceeds 60 ms.
#   bash tests/load/web_load.sh build/solvane [SECONDS=30] [RATE=200]
# Not a ctest entry: it takes twice SECONDS and wants a quiet machine.
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
check_start "$1"
seconds="${2:-30}"
rate="${3:-200}"
cp -r data "$work/data"
# Steps of 50 ms: two seconds before the requests start, one after.
steps=$(((seconds + 3) * 20))

run() {  # name rate
  "$solvane" --headless --demo --data "$work/data" --http 127.0.0.1:0 --steps "$steps" \
    --stats "$work/$1.json" 2>"$work/$1.log" &
  local pid=$!
  local url
  url="$(wait_for_value "$work/$1.log" 's|.*web: serving \(http://127.0.0.1:[0-9]*/\).*|\1|p' 10)" \
    || { echo "the web view did not start:"; cat "$work/$1.log"; kill "$pid"; exit 1; }
  sleep 2
  python3 - "$url" "$seconds" "$2" >"$work/$1.requests" <<'PY'
import http.client, sys, threading, time, urllib.parse
url, seconds, rate = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
parts = urllib.parse.urlsplit(url)
# What a few phones with the page open ask for, per ten requests.
mix = ['/status.json'] * 6 + ['/log', '/frame.png', '/', '/status.json']
workers = 8
latencies, errors, lock = [], [0], threading.Lock()
def work(k):
    conn = None
    n = k
    start = time.monotonic()
    while True:
        due = start + n / rate
        if due - start >= seconds: break
        time.sleep(max(0.0, due - time.monotonic()))
        path = mix[n % len(mix)]
        t0 = time.monotonic()
        try:
            if conn is None: conn = http.client.HTTPConnection(parts.hostname, parts.port, timeout=5)
            conn.request('GET', path)
            r = conn.getresponse(); r.read()
            ok = r.status == 200 or (path == '/frame.png' and r.status == 503)
            if r.getheader('Connection', '').lower() == 'close': conn.close(); conn = None
        except Exception:
            ok = False
            if conn is not None: conn.close()
            conn = None
        with lock:
            latencies.append(time.monotonic() - t0)
            if not ok: errors[0] += 1
        n += workers
if rate > 0:
    threads = [threading.Thread(target=work, args=(k,)) for k in range(workers)]
    for t in threads: t.start()
    for t in threads: t.join()
latencies.sort()
pick = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000 if latencies else 0
print('%d requests in %.0f s (%.0f/s), %d failed, latency median %.1f ms, p99 %.1f ms' %
      (len(latencies), seconds, len(latencies) / seconds, errors[0], pick(0.5), pick(0.99)))
PY
  wait "$pid"
  python3 - "$work/$1.json" "$1" "$(cat "$work/$1.requests")" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
i = s['frame_interval_ms']
print('%-8s steps %d, step spacing median %.1f ms, p99 %.1f ms, max %.1f ms; %s' %
      (sys.argv[2], s['steps'], i['median'], i['p99'], i['max'], sys.argv[3] if sys.argv[3] else 'no requests'))
PY
}

run baseline 0 | tee "$work/baseline.line"
run loaded "$rate" | tee "$work/loaded.line"
python3 - "$work/loaded.json" <<'PY'
import json, sys
p99 = json.load(open(sys.argv[1]))['frame_interval_ms']['p99']
if p99 > 60: print('FAIL: step spacing p99 %.1f ms under load exceeds 60 ms' % p99); sys.exit(1)
PY
