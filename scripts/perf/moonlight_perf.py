#!/usr/bin/env python3
"""A game stream entry through the real server, measured by a real client: the test host (fake_host) streams
its solid colours, quorvane-server relays them, stream_probe (640 x 480, 30 frames a second asked) decodes and
acknowledges every frame. Prints the frames per second the client received and the delay from the host sending
the last datagram of a frame with a new colour to the last byte of the first VideoFrame showing it arriving at
the client: the server's receiving, reassembly, decoding, conversion, encoding, pacing and send queue, and the
loopback's TCP. Both ends stamp with the machine's steady clock.

  moonlight_perf.py BUILD [SECONDS]      (BUILD: build/native; default 30 s, a colour change every 0.5 s)"""
import os, shutil, statistics, struct, subprocess, sys, tempfile, time

root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(root, 'tests', 'native'))
from qv_client import LAUNCH, Server, connect

build = sys.argv[1]
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
work = tempfile.mkdtemp(prefix='qv-moonlight-perf-')
frame_log = os.path.join(work, 'frames')
host = subprocess.Popen([os.path.join(build, 'tests/moonlight/fake_host'), '--frame-log', frame_log],
                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
http = int(host.stdout.readline().split()[1])
toml = '[[app]]\nname = "Spel"\nkind = "moonlight"\nhost = "127.0.0.1"\nport = %d\napp = "Desktop"\n' % http
server = Server(os.path.join(build, 'server/quorvane-server'), toml,
                env=dict(os.environ, XDG_DATA_HOME=os.path.join(work, 'data')))
try:
    # Pairing first, as a person would: the PIN shown in text slot 4 typed into the host.
    c = connect(server.port, size=(640, 480), rate=22050)
    c.send(LAUNCH, struct.pack('<H', 1))
    pin = lambda: [t for s, t in c.texts if s == 4 and t]
    c.pump(10, pin)
    if not pin():
        sys.exit('no PIN shown: %s' % c.texts)
    # Typed once the host waits for it, as the pairing check does: a PIN before the host's request is lost.
    for line in host.stdout:
        if 'pair waiting' in line:
            break
    else:
        sys.exit('the test host ended before the pairing')
    host.stdin.write('pin %s\n' % pin()[-1])
    host.stdin.flush()
    c.pump(20, lambda: c.states[-1:] == [1] and c.frames > 2)
    c.close()
    time.sleep(1)
    probe = subprocess.run([os.path.join(build, 'server/stream_probe'), str(server.port), '1', 'changes', str(seconds)],
                           capture_output=True, text=True, timeout=seconds + 60)
finally:
    server.stop()
    host.stdin.close()
    host.wait(10)

sent = []  # (microseconds, RGB555) of each new colour the host sent
with open(frame_log) as f:
    lines = f.read().splitlines()
shutil.rmtree(work, ignore_errors=True)
shutil.rmtree(server.dir, ignore_errors=True)
for line in lines:
    rgb, us = line.split()
    v = int(rgb, 16)
    sent.append((int(us), (v >> 19 & 31, v >> 11 & 31, v >> 3 & 31)))
delays = []
for line in probe.stdout.splitlines():
    if line.startswith('change '):
        _, c555, us = line.split()
        v, us = int(c555, 16), int(us)
        seen = (v >> 10 & 31, v >> 5 & 31, v & 31)
        # The newest colour sent before it, if the picture shows it (H.264 rounds a little).
        before = [s for s in sent if s[0] <= us]
        if before and all(abs(a - b) <= 2 for a, b in zip(before[-1][1], seen)):
            delays.append((us - before[-1][0]) / 1000)
fps = [l for l in probe.stdout.splitlines() if l.startswith('fps')]
print('moonlight 640x480, 30 asked, %d s: %s' % (seconds, fps[0] if fps else 'no figure: ' + probe.stderr))
if delays:
    delays.sort()
    print('host sends a new colour -> its VideoFrame arrived: median %.1f ms, p95 %.1f ms, max %.1f ms (n=%d)' %
          (statistics.median(delays), delays[min(len(delays) - 1, len(delays) * 95 // 100)], delays[-1], len(delays)))
