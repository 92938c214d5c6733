#!/usr/bin/env python3
"""Speed of web entries and sound, through the real quorvane-server and a
scripted client on loopback:

  page    WebAddress sent -> the first VideoFrame that shows the new page
          (local pages of known colours, alternating)
  sound   a tone's first samples written to a player in the program entry
          -> the first AudioData that carries it
  scroll  the server's processor time (and the browser's) while the wheel
          scrolls a long page (10 s unless --scroll says otherwise)

Usage: web_sound_perf.py PATH-TO-quorvane-server [--size WxH] [--rounds N] [--scroll SECONDS]
"""
import argparse
import fcntl
import functools
import http.server
import math
import os
import signal
import statistics
import struct
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'native'))
from qv_client import AUDIO, LAUNCH, MOUSE_POS, Client, Server, rgb555  # noqa: E402

WEB_ADDRESS, WHEEL = 73, 70
BLOCK_BYTES = (0, 2, 12, 24, 128, 32)
TICK = os.sysconf('SC_CLK_TCK')

ap = argparse.ArgumentParser()
ap.add_argument('server')
ap.add_argument('--size', default='640x480')
ap.add_argument('--rounds', type=int, default=15)
ap.add_argument('--scroll', type=float, default=10)
args = ap.parse_args()
W, H = map(int, args.size.split('x'))

site = tempfile.mkdtemp(prefix='qv-perf-web-')
COLOURS = {'a': (0xc0, 0, 0), 'b': (0, 0, 0xc0)}
for name, (r, g, b) in COLOURS.items():
    with open(os.path.join(site, name + '.html'), 'w') as f:
        f.write('<!doctype html><title>%s</title><body style="background:rgb(%d,%d,%d)">' % (name, r, g, b))
with open(os.path.join(site, 'long.html'), 'w') as f:
    f.write('<!doctype html><title>long</title><body>' + ''.join(
        '<p style="color:hsl(%d,60%%,35%%)">Rad %d: Quorvane visar en modern webbsida på en gammal dator.</p>'
        % (i * 7 % 360, i) for i in range(3000)))
fifo = os.path.join(site, 'player')
os.mkfifo(fifo)
quiet = type('Quiet', (http.server.SimpleHTTPRequestHandler,), {'log_message': lambda *a: None})
httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(quiet, directory=site))
threading.Thread(target=httpd.serve_forever, daemon=True).start()
base = 'http://127.0.0.1:%d/' % httpd.server_address[1]


class Probe(Client):
    """Decodes only the bottom-right block of each frame: enough to see a
    page's colour without a full decoder in Python."""
    def decode(self, body):
        self.frames += 1
        d = zlib.decompress(body[17:])
        bx, by = (self.w + 7) // 8, (self.h + 7) // 8
        last = bx * by - 1 - bx  # one row up: clear of the pointer
        if d[last] == 1:
            at = bx * by + sum(BLOCK_BYTES[t] for t in d[:last])
            self.corner = d[at] | d[at + 1] << 8
            self.corner_at = time.time()

    def handle(self, kind, p):
        if kind == AUDIO:
            samples = struct.unpack('<%dh' % (len(p) // 2), p)
            self.pcm.append((time.time(), max(abs(v) for v in samples) if samples else 0))
        super().handle(kind, p)


def percentile(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(q * (len(values) - 1))))]


def summary(values):
    if not values:
        return 'none measured'
    return 'median %.0f ms, p95 %.0f ms, max %.0f ms' % (statistics.median(values), percentile(values, 0.95), max(values))


def cpu_seconds(pid):
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def descendants(pid):
    kids = {}
    for p in os.listdir('/proc'):
        if p.isdigit():
            try:
                with open('/proc/%s/stat' % p) as f:
                    kids.setdefault(int(f.read().rsplit(')', 1)[1].split()[1]), []).append(int(p))
            except OSError:
                pass
    out, todo = [], [pid]
    while todo:
        for k in kids.get(todo.pop(), []):
            out.append(k)
            todo.append(k)
    return out


def tree_cpu(pids):
    total = 0.0
    for p in pids:
        try:
            total += cpu_seconds(p)
        except OSError:
            pass
    return total


toml = ('[[app]]\nname = "Webb"\nkind = "web"\nhome = "%sa.html"\n'
        '[[app]]\nname = "Spelare"\nkind = "program"\n'
        'command = ["sh", "-c", "exec pacat --raw --rate=48000 --channels=2 --format=s16le --latency-msec=10 %s"]\n'
        % (base, fifo))
# Terminated like interrupted: the finally below ends the server, which ends its browser and X server.
signal.signal(signal.SIGTERM, signal.default_int_handler)
server = Server(args.server, toml)
try:
    c = Probe(server.port, name='PERF', size=(W, H))
    c.corner, c.pcm = None, []
    c.pump(5, until=lambda: c.apps)
    c.send(LAUNCH, struct.pack('<H', 1))
    want = {n: rgb555(*rgb) for n, rgb in COLOURS.items()}
    c.pump(60, until=lambda: c.corner == want['a'])
    page_ms = []
    for i in range(args.rounds):
        name = 'b' if i % 2 == 0 else 'a'
        c.pump(0.5)
        sent = time.time()
        c.send(WEB_ADDRESS, b'\0' + (base + name + '.html').encode())
        if c.pump(10, until=lambda: c.corner == want[name]):
            page_ms.append((c.corner_at - sent) * 1000)
    print('page: WebAddress -> first frame of the new page, %d of %d pages: %s' % (len(page_ms), args.rounds, summary(page_ms)))

    c.send(WEB_ADDRESS, b'\0' + (base + 'long.html').encode())
    c.pump(5)
    c.send(MOUSE_POS, struct.pack('<HH', W // 2, H // 2))
    pids = descendants(server.proc.pid)
    frames0, server0, tree0, t0 = c.frames, cpu_seconds(server.proc.pid), tree_cpu(pids), time.time()
    for i in range(max(1, int(args.scroll * 10))):
        c.send(WHEEL, struct.pack('<h', -120))
        c.pump(0.1)
    seconds = time.time() - t0
    server_cpu = cpu_seconds(server.proc.pid) - server0
    others = tree_cpu(pids) - tree0
    frames = c.frames - frames0
    print('scroll: %.1f s, %d frames (%.1f fps); quorvane-server %.2f s CPU (%.1f %% of one core, %.1f ms per frame);'
          ' Chromium, Xvfb and the rest %.2f s (%.0f %%)'
          % (seconds, frames, frames / seconds, server_cpu, 100 * server_cpu / seconds, 1000 * server_cpu / max(1, frames),
             others, 100 * others / seconds))
    c.close()

    s = Probe(server.port, name='PERFSOUND', size=(W, H), rate=22050)
    s.corner, s.pcm = None, []
    s.pump(5, until=lambda: s.apps)
    s.send(LAUNCH, struct.pack('<H', 2))
    player = os.open(fifo, os.O_WRONLY)
    rate, piece = 48000, 480  # 10 ms pieces, written at the pace they play
    tone = b''.join(struct.pack('<hh', v, v) for v in
                    (int(12000 * math.sin(2 * math.pi * 440 * i / rate)) for i in range(piece)))
    silence = bytes(len(tone))
    stop = threading.Event()
    starts = []

    def play():
        # The pipe holds one page (21 ms): a blocking write paces the
        # player, and a tone written waits at most that long to be read.
        fcntl.fcntl(player, 1031, 4096)  # F_SETPIPE_SZ
        n = 0
        while not stop.is_set():
            loud = n % 100 < 20 and n >= 300  # 200 ms tone each second, after 3 s of quiet
            if loud and n % 100 == 0:
                starts.append(time.time())
            try:
                os.write(player, tone if loud else silence)
            except OSError:
                return
            n += 1

    threading.Thread(target=play, daemon=True).start()
    s.pump(3.5 + args.rounds)
    stop.set()
    delays = []
    for start in starts:
        heard = [t for t, peak in s.pcm if t >= start and peak > 3000]
        if heard and heard[0] - start < 0.9:
            delays.append((heard[0] - start) * 1000)
    print('sound delays (ms):', ' '.join('%.0f' % d for d in delays))
    print('sound: tone written -> first AudioData with it, %d of %d tones: %s' % (len(delays), len(starts), summary(delays)))
    s.close()
    if not page_ms or not delays:
        sys.exit('web_sound_perf: nothing measured for the page or the sound')
finally:
    server.stop()
    httpd.shutdown()
