#!/usr/bin/env python3
"""The web view against a hostile client without the token, on loopback.

    python3 tests/load/web_hostile.py build/solvane

Starts a real-time --demo run serving the web view and prints, one line each:
resident memory before and after a 200 MB chunked body and 200 000 header
lines; how long the page takes to answer while 40 connections send a byte
every 2 s (from another loopback address, then from the page's own); what a
request for Host: evil.example is answered; how many wrong tokens a second
are looked at once the address is slowed; and how long a run of 10 s takes
to end with ten slow clients connected. Not a ctest entry: it takes about a
minute. Traffic goes to loopback only.
"""
import os, re, signal, socket, subprocess, sys, tempfile, shutil, threading, time

solvane = sys.argv[1]
work = tempfile.mkdtemp()
shutil.copytree('data', work + '/data')
env = dict(os.environ, SDL_AUDIODRIVER='dummy')


def start(extra):
    log = open(work + '/run.log', 'w+')
    proc = subprocess.Popen([solvane, '--headless', '--demo', '--data', work + '/data', '--http', '127.0.0.1:0',
                             '--http-token', 's3cret'] + extra, stderr=log, env=env)
    for _ in range(400):
        log.seek(0)
        m = re.search(r'serving http://127\.0\.0\.1:(\d+)/', log.read())
        if m: return proc, int(m.group(1))
        time.sleep(0.05)
    sys.exit('the web view did not start: ' + open(work + '/run.log').read())


def rss(pid):
    with open('/proc/%d/status' % pid) as f:
        return int(re.search(r'VmRSS:\s+(\d+)', f.read()).group(1)) // 1024


def client(port, source='127.0.0.1'):
    s = socket.socket()
    s.bind((source, 0))
    s.connect(('127.0.0.1', port))
    return s


def status_of(s, wait=5):
    s.settimeout(wait)
    data = b''
    try:
        while b'\r\n' not in data:
            got = s.recv(4096)
            if not got: break
            data += got
    except OSError:
        pass
    m = re.match(rb'HTTP/1\.\d (\d+)', data)
    return int(m.group(1)) if m else 0


def drip(conns, byte, stop):
    """Sends one byte on every connection each 2 s, from a thread, until stop is set."""
    def loop():
        while not stop.wait(2):
            for c in conns:
                try: c.sendall(byte)
                except OSError: pass
    threading.Thread(target=loop, daemon=True).start()


def page_time(port, source='127.0.0.1'):
    t0 = time.monotonic()
    try:
        s = client(port, source)
        s.sendall(b'GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n' % port)
        code = status_of(s, 10)
        s.close()
    except OSError:
        code = 0
    return code, (time.monotonic() - t0) * 1000


proc, port = start([])
time.sleep(2)
before = rss(proc.pid)

# 200 MB chunked body, no token.
s = client(port)
s.sendall(b'POST /status.json HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nTransfer-Encoding: chunked\r\n\r\n' % port)
chunk = b'10000\r\n' + b'x' * 0x10000 + b'\r\n'
sent = 0
try:
    while sent < 200 * 1024 * 1024:
        s.sendall(chunk)
        sent += 0x10000
except OSError:
    pass
s.close()
after_body = rss(proc.pid)
print('chunked body: %.1f MB of 200 MB taken before the server cut it; resident %d MB before, %d MB after'
      % (sent / 1048576, before, after_body))

# 200 000 header lines.
s = client(port)
lines = b'GET / HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n' % port
sent = 0
try:
    s.sendall(lines)
    block = b''.join(b'X-Line-%d: y\r\n' % i for i in range(1000))
    for _ in range(200):
        s.sendall(block)
        sent += 1000
    s.sendall(b'\r\n')
except OSError:
    pass
code = status_of(s)
s.close()
time.sleep(0.5)
print('200 000 header lines: answered %d after %d lines were sent; resident %d MB (was %d MB)'
      % (code, sent, rss(proc.pid), before))

# 40 slow connections, a byte every 2 s.
for source in ('127.0.0.2', '127.0.0.1'):
    slow, stop = [], threading.Event()
    for _ in range(40):
        try:
            c = client(port, source)
            c.sendall(b'G')
            slow.append(c)
        except OSError:
            pass
    drip(slow, b'E', stop)
    times = []
    for _ in range(12):
        times.append(page_time(port))
        time.sleep(1)
    stop.set()
    for c in slow: c.close()
    ok = [t for c, t in times if c == 200]
    print('page during 40 slow connections from %s: %d of %d answered 200, slowest %.0f ms, median %.0f ms'
          % (source, len(ok), len(times), max(ok) if ok else 0, sorted(ok)[len(ok) // 2] if ok else 0))

# Host: evil.example.
s = client(port)
s.sendall(b'GET /status.json HTTP/1.1\r\nHost: evil.example:%d\r\nConnection: close\r\n\r\n' % port)
print('Host: evil.example answered %d' % status_of(s))
s.close()

# Wrong tokens as fast as one client can send them, for 10 s.
codes = {}
t0 = time.monotonic()
body = b'{"action":"overlay","value":true}'
while time.monotonic() - t0 < 10:
    s = client(port, '127.0.0.9')
    s.sendall(b'POST /control HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer guess\r\n'
              b'Content-Length: %d\r\nConnection: close\r\n\r\n%s' % (port, len(body), body))
    c = status_of(s)
    s.close()
    codes[c] = codes.get(c, 0) + 1
print('wrong tokens for 10 s: %d requests, %d looked at (403), %d turned away unread (429): %.2f tokens/s looked at'
      % (sum(codes.values()), codes.get(403, 0), codes.get(429, 0), codes.get(403, 0) / 10))
proc.send_signal(signal.SIGTERM)
proc.wait()

# A 10 s run with ten slow clients.
t0 = time.monotonic()
proc, port = start(['--steps', '200'])
slow = []
for i in range(10):
    c = client(port, '127.0.0.%d' % (10 + i))
    c.sendall(b'GET / HTTP/1.1\r\n')
    slow.append(c)
stop = threading.Event()
drip(slow, b'X', stop)
code = proc.wait()
took = time.monotonic() - t0
stop.set()
print('a run of 200 steps (10 s) with ten slow clients ended after %.1f s, status %d' % (took, code))
for c in slow: c.close()

# SIGTERM with ten slow clients: how long the stop takes.
proc, port = start([])
slow = []
for i in range(10):
    c = client(port, '127.0.0.%d' % (10 + i))
    c.sendall(b'GET / HTTP/1.1\r\n')
    slow.append(c)
time.sleep(2)
t0 = time.monotonic()
proc.send_signal(signal.SIGTERM)
code = proc.wait()
print('SIGTERM with ten slow clients: ended after %.2f s, status %d' % (time.monotonic() - t0, code))
shutil.rmtree(work)
