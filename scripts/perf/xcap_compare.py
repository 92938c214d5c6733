#!/usr/bin/env python3
"""Screen streaming measured from outside, beside x11vnc (docs/performance.md):

 1. display change -> FrameAck of the first frame that shows it (a screen
    entry on a private 1920x1080 Xvfb, the probe at 640x480, 30 fps);
 2. Char -> the first frame that shows its glyph (a Terminal entry);
 3. the same 30 s of activity (a scrolling terminal, a moving window) on one
    1920x1080 display, served at the same time by quorvane-server to the
    probe and by x11vnc to TigerVNC's viewer (on a second Xvfb): processor
    time of each server and the bytes each sent.

Usage: xcap_compare.py BUILD_DIR [SECONDS [X11VNC_ARGS [CHANGES]]]   (BUILD_DIR: build/native;
       X11VNC_ARGS: more options for x11vnc, e.g. "-scale 1/3" for its picture at 640x360;
       CHANGES: display changes and characters timed, default 60 and 30)
Everything runs on 127.0.0.1 with ports picked by the system, and ends by
itself."""
import os
import select
import signal
import socket
import subprocess
import sys
import threading
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(here, '..', '..', 'tests', 'native'), os.path.join(here, '..', '..', 'tests', 'e2e')]
from harness import Display  # noqa: E402
from qv_client import Server  # noqa: E402

build = sys.argv[1]
seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 30
x11vnc_args = sys.argv[3].split() if len(sys.argv) > 3 else []
changes = int(sys.argv[4]) if len(sys.argv) > 4 else 0
server_bin = os.path.join(build, 'server', 'quorvane-server')
probe_bin = os.path.join(build, 'server', 'stream_probe')
procs = []


def spawn(argv, display, **kw):
    p = subprocess.Popen(argv, env=dict(os.environ, DISPLAY=display, LC_ALL='C.UTF-8'), **kw)
    procs.append(p)
    return p


def cpu_seconds(pid):
    """User + system time of a process and its threads, from /proc."""
    fields = open('/proc/%d/stat' % pid).read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def relay(a, b, counts):
    """Copies between two sockets, counting the bytes from b (the VNC server) to a."""
    while True:
        ready = select.select([a, b], [], [], 1)[0]
        for s in ready:
            data = s.recv(1 << 16)
            if not data:
                return
            (b if s is a else a).sendall(data)
            if s is b:
                counts[0] += len(data)


# Terminated like interrupted: the finally below ends every process started.
signal.signal(signal.SIGTERM, signal.default_int_handler)
screen = viewer_screen = server = None
try:
    screen, viewer_screen = Display(1920, 1080), Display(1920, 1080)
    screen.run('xsetroot', '-solid', '#336699')
    server = Server(server_bin, '''
[[app]]
name = "Skärmen"
kind = "screen"
display = "%s"
[[app]]
name = "Terminal"
kind = "program"
command = ["xterm", "-u8", "-fa", "Monospace", "-fs", "12"]
''' % screen.name, env=dict(os.environ, LC_ALL='C.UTF-8'))
    print('quorvane-server on port %d, display %s 1920x1080, probe 640x480 at 30 fps' % (server.port, screen.name))
    for argv in (['1', 'latency', screen.name, str(changes or 60)], ['2', 'char', str(changes or 30)]):
        out = subprocess.run([probe_bin, str(server.port)] + argv, capture_output=True, text=True, timeout=120)
        print(out.stdout.strip() or out.stderr.strip())

    # The activity: a terminal that scrolls and a window that moves.
    spawn(['xterm', '-geometry', '160x50+20+20', '-e', 'sh', '-c',
           'i=0; while :; do i=$((i+1)); echo "$i $(date +%T.%N) the quick brown fox jumps over the lazy dog"; '
           'sleep 0.02; done'], screen.name)
    spawn(['xterm', '-geometry', '60x20+1000+500', '-title', 'mover', '-e', 'top', '-d', '0.5'], screen.name)
    time.sleep(1.5)
    spawn(['sh', '-c', 'w=$(xdotool search --sync --name mover | head -1); while :; do for x in $(seq 900 12 1400) '
           '$(seq 1400 -12 900); do xdotool windowmove $w $x 500; sleep 0.033; done; done'], screen.name)

    # x11vnc on the display, its client socket handed over as standard input
    # and output (-inetd); the viewer connects to a relay that counts.
    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    spawn(['xtigervncviewer', '127.0.0.1::%d' % listener.getsockname()[1]], viewer_screen.name,
          stderr=subprocess.DEVNULL)
    viewer_sock, _ = listener.accept()
    ours, theirs = socket.socketpair()
    x11vnc = spawn(['x11vnc', '-inetd', '-once', '-nopw', '-quiet', '-display', screen.name] + x11vnc_args,
                   screen.name, stdin=theirs, stdout=theirs, stderr=subprocess.DEVNULL)
    vnc_bytes = [0]
    threading.Thread(target=relay, args=(viewer_sock, ours, vnc_bytes), daemon=True).start()

    probe = subprocess.Popen([probe_bin, str(server.port), '1', 'watch', str(seconds)], stdout=subprocess.PIPE,
                             text=True)
    procs.append(probe)
    assert probe.stdout.readline().strip() == 'start'
    start = (cpu_seconds(server.proc.pid), cpu_seconds(x11vnc.pid), vnc_bytes[0])
    result = probe.stdout.readline().split()
    end = (cpu_seconds(server.proc.pid), cpu_seconds(x11vnc.pid), vnc_bytes[0])
    print('%d s of a scrolling terminal and a moving window on 1920x1080, both servers at once:' % seconds)
    print('  quorvane-server (640x480): %.2f s processor, %s bytes sent, %s frames' %
          (end[0] - start[0], result[1], result[3]))
    print('  x11vnc %s-> TigerVNC viewer: %.2f s processor, %d bytes sent' %
          (' '.join(x11vnc_args + ['']), end[1] - start[1], end[2] - start[2]))
finally:
    for p in reversed(procs):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
    if server:
        server.stop()
    for display in (screen, viewer_screen):
        if display:
            display.close()
