#!/usr/bin/env python3
"""End-to-end speed of the real quorvane.exe under Wine and Xvfb.

A small server on 127.0.0.1 streams VideoFrame bodies recorded from the
reference server's encoder (bench/record_streams: full-frame changes, every
block repainted in every frame) to the client and measures, per picture size:

  - sustained frames per second with the reference server's default of two
    frames in flight (a frame is sent when fewer than two are unacknowledged);
  - the time from sending a VideoFrame to receiving its FrameAck (median and
    95th percentile): at full speed with two in flight (a frame then also
    waits for the one before it), with one frame in flight (the pure round
    trip), and with two in flight paced at 60 frames a second, as the
    reference server sends at its highest rate;
  - the client's processor time per frame (utime + stime of the Wine process
    from /proc), and that of the prefix's wineserver beside it;
  - the client's memory while streaming (VmRSS, VmHWM, private bytes);

and once, the time from a key press injected with xdotool to its Key message
at the server. A minimal Win32 program with one window
(scripts/perf/idle_window.c) is measured under the same Wine for comparison:
that memory is Wine's own.

    python3 scripts/perf/e2e_perf.py --exe build/win/quorvane.exe \
        --streams build/perf/streams --idle build/perf/idle_window.exe [--seconds 10]

(scripts/perf/e2e_perf.sh builds and records what is needed, then runs this.)
"""

import argparse
import os
import shutil
import signal
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tests', 'e2e'))
from harness import (  # noqa: E402
    MSG_APP_LIST, MSG_FRAME_ACK, MSG_HELLO, MSG_KEY, MSG_PING, MSG_PONG, MSG_STREAM_SETUP,
    MSG_STREAM_STATE, MSG_VIDEO_FRAME, Client, Display, app_list, private_wine_prefix, stream_setup,
    wait_for)

TICK = os.sysconf('SC_CLK_TCK')


def read_stream(path):
    frames = []
    with open(path, 'rb') as f:
        data = f.read()
    at = 0
    while at + 4 <= len(data):
        (n,) = struct.unpack_from('<I', data, at)
        at += 4
        frames.append(data[at:at + n])
        at += n
    return frames


class Link:
    """One client connection: a reader thread that answers pings and keeps
    the arrival time of every FrameAck and Key message."""

    def __init__(self, sock):
        self.sock = sock
        self.cond = threading.Condition()
        self.acks = {}          # frame id -> arrival time
        self.ack_count = 0
        self.keys = []          # (arrival time, payload)
        self.hello = False
        self.closed = False
        self.send_lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _recv(self, n):
        data = bytearray()
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise EOFError
            data += chunk
        return bytes(data)

    def _read(self):
        try:
            while True:
                length, kind = struct.unpack('<IB', self._recv(5))
                payload = self._recv(length) if length else b''
                now = time.monotonic()
                with self.cond:
                    if kind == MSG_FRAME_ACK and len(payload) >= 4:
                        self.acks[struct.unpack_from('<I', payload)[0]] = now
                        self.ack_count += 1
                    elif kind == MSG_KEY:
                        self.keys.append((now, payload))
                    elif kind == MSG_HELLO:
                        self.hello = True
                    self.cond.notify_all()
                if kind == MSG_PING:
                    self.send(MSG_PONG, payload[:4])
        except (EOFError, OSError):
            pass
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def send(self, kind, payload=b''):
        with self.send_lock:
            self.sock.sendall(struct.pack('<IB', len(payload), kind) + payload)
        return time.monotonic()

    def wait(self, condition, timeout):
        with self.cond:
            return self.cond.wait_for(lambda: condition() or self.closed, timeout) and not self.closed


def accept_one(listener, timeout):
    listener.settimeout(timeout)
    sock, _ = listener.accept()
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return Link(sock)


# --- Processes ----------------------------------------------------------------

def processes_of_prefix(prefix):
    """{pid: command line} of the processes started in one Wine prefix."""
    found = {}
    wanted = ('WINEPREFIX=' + prefix).encode()
    for name in os.listdir('/proc'):
        if not name.isdigit():
            continue
        try:
            with open('/proc/%s/environ' % name, 'rb') as f:
                env = f.read().split(b'\0')
            if wanted not in env:
                continue
            with open('/proc/%s/cmdline' % name, 'rb') as f:
                found[int(name)] = f.read().replace(b'\0', b' ').decode('latin-1')
        except OSError:
            continue
    return found


def find_process(prefix, exe_name):
    for pid, command in processes_of_prefix(prefix).items():
        if exe_name.lower() in command.lower() and 'wineserver' not in command:
            return pid
    return None


def find_wineserver(prefix):
    for pid, command in processes_of_prefix(prefix).items():
        if 'wineserver' in command:
            return pid
    return None


def cpu_seconds(pid):
    if pid is None:
        return 0.0
    try:
        with open('/proc/%d/stat' % pid) as f:
            fields = f.read().rsplit(')', 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / TICK
    except OSError:
        return 0.0


def thread_cpu(pid):
    """{thread id: processor seconds} of every thread of a process."""
    out = {}
    try:
        for tid in os.listdir('/proc/%d/task' % pid):
            try:
                with open('/proc/%d/task/%s/stat' % (pid, tid)) as f:
                    fields = f.read().rsplit(')', 1)[1].split()
                out[int(tid)] = (int(fields[11]) + int(fields[12])) / TICK
            except OSError:
                continue
    except OSError:
        pass
    return out


def thread_sched(pid):
    """{thread id: (ns on a processor, ns waiting for one)} from schedstat."""
    out = {}
    try:
        for tid in os.listdir('/proc/%d/task' % pid):
            try:
                with open('/proc/%d/task/%s/schedstat' % (pid, tid)) as f:
                    on_cpu, waiting = f.read().split()[:2]
                out[int(tid)] = (int(on_cpu), int(waiting))
            except (OSError, ValueError):
                continue
    except OSError:
        pass
    return out


def memory(pid):
    """kB figures of a process: rss, hwm, private (clean + dirty), pss."""
    out = {}
    with open('/proc/%d/status' % pid) as f:
        for line in f:
            key, _, value = line.partition(':')
            if key in ('VmRSS', 'VmHWM'):
                out[key] = int(value.split()[0])
    try:
        with open('/proc/%d/smaps_rollup' % pid) as f:
            for line in f:
                key, _, value = line.partition(':')
                if key in ('Pss', 'Private_Clean', 'Private_Dirty', 'Anonymous'):
                    out[key] = int(value.split()[0])
    except OSError:
        pass
    out['Private'] = out.get('Private_Clean', 0) + out.get('Private_Dirty', 0)
    return out


# --- One session: display, prefix, client --------------------------------------

class Session:
    def __init__(self, args, exe, ini):
        self.display, self.client = Display(1024, 768), None
        self.scratch = tempfile.mkdtemp(prefix='perf-', dir=args.scratch)
        try:
            base = os.environ.get('WINEPREFIX', '/root/.wine-quorvane')
            self.prefix = private_wine_prefix(base, os.path.join(self.scratch, 'p'))
            self.client = Client(exe, self.display, self.scratch, ini, (), self.prefix)
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.client:
            self.client.stop()
        self.display.close()
        shutil.rmtree(self.scratch, ignore_errors=True)


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def stream(link, frames, width, height, seconds, window, next_id, rate=0):
    """Sends frames (looping over all but the first) for `seconds` with at
    most `window` unacknowledged, and at most `rate` a second when rate is
    given (as the reference server paces them); returns (frames
    acknowledged, elapsed, latencies in ms, next frame id)."""
    sent = {}
    start = time.monotonic()
    first_id = next_id
    i = 1
    while time.monotonic() - start < seconds:
        if rate:
            due = start + (next_id - first_id) / rate
            if due > time.monotonic():
                time.sleep(due - time.monotonic())
        # FrameAcks come in order, so only the last `window` frames can be open.
        def room():
            recent = range(max(first_id, next_id - window), next_id)
            return sum(1 for fid in recent if fid not in link.acks) < window
        if not link.wait(room, 5):
            break
        body = bytearray(frames[i])
        struct.pack_into('<I', body, 0, next_id)
        sent[next_id] = link.send(MSG_VIDEO_FRAME, bytes(body))
        next_id += 1
        i = i + 1 if i + 1 < len(frames) else 1
    link.wait(lambda: all(fid in link.acks for fid in sent), 5)
    elapsed = time.monotonic() - start
    latencies = [(link.acks[fid] - t) * 1000 for fid, t in sent.items() if fid in link.acks]
    return len(latencies), elapsed, latencies, next_id


def measure_size(args, width, height, results, key_presses):
    frames = read_stream(os.path.join(args.streams, 'motion%d.qvs' % width))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    ini = {'host': '127.0.0.1', 'port': listener.getsockname()[1], 'bredd': width, 'hojd': height,
           'fps': 60, 'fullskarm': 0, 'ljud': 0, 'ljudfrekvens': 22050, 'stereo': 0,
           'muskanslighet': 100, 'joystick': 0, 'namn': 'PERF', 'nyckel': ''}
    try:
        session = None
        session = Session(args, args.exe, ini)
        link = accept_one(listener, 60)
        link.wait(lambda: link.hello, 10)
        if session.client.find_window(30) is None:
            raise RuntimeError('no client window')
        link.send(MSG_APP_LIST, app_list([(1, 0, 'Prov')]))
        link.send(MSG_STREAM_SETUP, stream_setup(width, height))
        link.send(MSG_STREAM_STATE, bytes([1, 1, 0]))
        pid = find_process(session.prefix, 'quorvane.exe')
        server_pid = find_wineserver(session.prefix)
        # The first frame repaints everything; then a short warm-up.
        first = bytearray(frames[0])
        struct.pack_into('<I', first, 0, 1)
        link.send(MSG_VIDEO_FRAME, bytes(first))
        link.wait(lambda: 1 in link.acks, 10)
        _, _, _, next_id = stream(link, frames, width, height, 1.0, 2, 2)

        cpu0, srv0, threads0 = cpu_seconds(pid), cpu_seconds(server_pid), thread_cpu(pid)
        count, elapsed, lat2, next_id = stream(link, frames, width, height, args.seconds, 2, next_id)
        cpu1, srv1, threads1 = cpu_seconds(pid), cpu_seconds(server_pid), thread_cpu(pid)
        # The window thread (painting) is the process's first thread; the
        # network thread (receive, inflate, decode, FrameAck) is the busiest
        # of the others.
        per_frame = {t: (threads1[t] - threads0.get(t, 0.0)) * 1000 / max(1, count) for t in threads1}
        window_ms = per_frame.pop(pid, 0.0)
        others = sorted(per_frame.values(), reverse=True)
        mem = memory(pid) if pid else {}
        sched0 = thread_sched(pid)
        count1, elapsed1, lat1, next_id = stream(link, frames, width, height, args.seconds / 2, 1, next_id)
        sched1 = thread_sched(pid)
        # The network thread: the busiest thread other than the first.
        deltas = [(sched1[t][0] - sched0.get(t, (0, 0))[0], sched1[t][1] - sched0.get(t, (0, 0))[1])
                  for t in sched1 if t != pid]
        net_run, net_wait = max(deltas) if deltas else (0, 0)
        count60, elapsed60, lat60, next_id = stream(link, frames, width, height, args.seconds / 2, 2, next_id,
                                                     rate=60)
        size = '%dx%d' % (width, height)
        results.append({
            'size': size, 'frames': count, 'seconds': elapsed, 'fps': count / elapsed,
            'bytes': sum(len(f) for f in frames[1:]) / (len(frames) - 1),
            'lat2_median': statistics.median(lat2), 'lat2_p95': percentile(lat2, 95),
            'fps1': count1 / elapsed1,
            'net_run1': net_run / 1e6 / max(1, count1), 'net_wait1': net_wait / 1e6 / max(1, count1),
            'lat1_median': statistics.median(lat1), 'lat1_p95': percentile(lat1, 95),
            'fps60': count60 / elapsed60,
            'lat60_median': statistics.median(lat60), 'lat60_p95': percentile(lat60, 95),
            'cpu_ms': (cpu1 - cpu0) * 1000 / max(1, count),
            'wineserver_ms': (srv1 - srv0) * 1000 / max(1, count),
            'window_ms': window_ms, 'network_ms': others[0] if others else 0.0,
            'rest_ms': sum(others[1:]),
            'mem': mem,
        })
        if key_presses:
            session.client.focus()
            results[-1]['keys'] = key_latency(session, link, key_presses)
    finally:
        if session:
            session.close()
        listener.close()


def key_latency(session, link, presses):
    """ms from starting `xdotool keydown` to the Key message (down) at the
    server, and xdotool's own run time for comparison."""
    latencies, tool = [], []
    for _ in range(presses):
        with link.cond:
            mark = len(link.keys)
        t0 = time.monotonic()
        session.display.run('xdotool', 'keydown', 'a')
        t1 = time.monotonic()
        if not link.wait(lambda: len(link.keys) > mark, 3):
            continue
        latencies.append((link.keys[mark][0] - t0) * 1000)
        tool.append((t1 - t0) * 1000)
        session.display.run('xdotool', 'keyup', 'a')
        link.wait(lambda: len(link.keys) > mark + 1, 3)
        time.sleep(0.05)
    return latencies, tool


# A peer that acknowledges every VideoFrame at once, without inflating or
# drawing: the time this measuring server and the loopback need by themselves.
ECHO_PEER = r"""
import socket, struct, sys
s = socket.create_connection(('127.0.0.1', int(sys.argv[1])))
s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
def exact(n):
    d = bytearray()
    while len(d) < n:
        c = s.recv(n - len(d))
        if not c:
            sys.exit(0)
        d += c
    return bytes(d)
while True:
    length, kind = struct.unpack('<IB', exact(5))
    body = exact(length) if length else b''
    if kind == 3:
        s.sendall(struct.pack('<IB', 4, 76) + body[:4])
"""


def measure_echo(args, frames, seconds):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(('127.0.0.1', 0))
    listener.listen(1)
    peer = subprocess.Popen([sys.executable, '-c', ECHO_PEER, str(listener.getsockname()[1])])
    try:
        link = accept_one(listener, 10)
        _, _, _, next_id = stream(link, frames, 640, 480, 1.0, 1, 1)
        count, elapsed, latencies, _ = stream(link, frames, 640, 480, seconds, 1, next_id)
        link.sock.close()
        return statistics.median(latencies), percentile(latencies, 95)
    finally:
        peer.kill()
        peer.wait()
        listener.close()


def measure_idle(args):
    """Memory of the minimal Win32 program with one window under Wine."""
    session = Session(args, args.idle, {})
    try:
        found = wait_for(lambda: session.display.run('xdotool', 'search', '--name', '^Idle window') or None,
                         30, interval=0.2)
        if not found:
            return None
        time.sleep(1)
        pid = find_process(session.prefix, os.path.basename(args.idle))
        return memory(pid) if pid else None
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--streams', required=True)
    parser.add_argument('--idle', required=True)
    parser.add_argument('--seconds', type=float, default=10)
    parser.add_argument('--keys', type=int, default=20)
    parser.add_argument('--sizes', default='640,800', help='picture widths: 640 (x 480) and/or 800 (x 600)')
    parser.add_argument('--scratch', default=None)
    args = parser.parse_args()
    args.scratch = args.scratch or tempfile.mkdtemp(prefix='qv-perf-')
    os.environ.setdefault('WINEPREFIX', '/root/.wine-quorvane')
    # Terminated like interrupted: every session's finally ends its X server and Wine.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        results, widths = [], [int(w) for w in args.sizes.split(',')]
        for width in widths:
            measure_size(args, width, width * 3 // 4, results, args.keys if width == widths[0] else 0)
        idle = measure_idle(args)
        echo = {size: measure_echo(args, read_stream(os.path.join(args.streams, 'motion%d.qvs' % size)),
                                   args.seconds / 2) for size in widths}
    finally:
        shutil.rmtree(args.scratch, ignore_errors=True)

    print('Full-frame changes, VideoFrames recorded from the reference encoder, 127.0.0.1')
    print('%-8s | %6s %8s | %9s | %8s %8s | %7s %8s %8s | %6s %8s %8s | %8s %7s' % (
        'size', 'fps', 'bytes/f', 'cpu ms/f', 'ack med', 'ack p95', 'fps(1)', 'med(1)', 'p95(1)',
        'fps60', 'med60', 'p95(60)', 'srv ms/f', 'frames'))
    for r in results:
        print('%-8s | %6.1f %8.0f | %9.2f | %8.2f %8.2f | %7.1f %8.2f %8.2f | %6.1f %8.2f %8.2f | %8.2f %7d' % (
            r['size'], r['fps'], r['bytes'], r['cpu_ms'], r['lat2_median'], r['lat2_p95'], r['fps1'],
            r['lat1_median'], r['lat1_p95'], r['fps60'], r['lat60_median'], r['lat60_p95'],
            r['wineserver_ms'], r['frames']))
    print('  fps, ack med/p95: two frames in flight (the reference server\'s default window);')
    print('  fps(1), med(1)/p95(1): one frame in flight, pure send-to-FrameAck time in ms;')
    print('  fps60, med60/p95(60): two in flight, paced at 60 frames a second as the server paces;')
    print('  cpu ms/f: quorvane.exe process (utime+stime) per frame; srv ms/f: its wineserver.')
    for r in results:
        print('  %s: window thread %.2f ms, network thread %.2f ms, other threads %.2f ms per frame' % (
            r['size'], r['window_ms'], r['network_ms'], r['rest_ms']))
    for r in results:
        print('  %s, one in flight: the network thread ran %.2f ms and waited for a processor %.2f ms '
              'per frame (schedstat)' % (r['size'], r['net_run1'], r['net_wait1']))
    for size, (median, p95) in echo.items():
        print('  a peer that acknowledges at once (motion%d frames, one in flight): median %.2f ms, '
              'p95 %.2f ms' % (size, median, p95))
    print()
    # Private counts file pages no other process maps at the moment, so it
    # moves with what other Wine programs on the machine have loaded;
    # Private_Dirty and Anonymous (heap, picture, stacks) do not.
    columns = ('VmRSS', 'VmHWM', 'Private', 'Private_Dirty', 'Anonymous', 'Pss')
    print('Memory (kB)    ' + ' '.join('%13s' % c for c in columns))
    rows = [('client ' + r['size'], r['mem']) for r in results]
    if idle:
        rows.append(('idle window', idle))
    for name, m in rows:
        print('%-14s ' % name + ' '.join('%13d' % m.get(c, 0) for c in columns))
    if idle:
        for r in results:
            m = r['mem']
            print('client %s above the idle window: ' % r['size'] +
                  ', '.join('%s %+d kB' % (c, m.get(c, 0) - idle.get(c, 0)) for c in columns))
    keys = results[0].get('keys')
    if keys and keys[0]:
        latencies, tool = keys
        print()
        print('Key press (xdotool keydown) to Key message at the server, %d presses: median %.1f ms, '
              'p95 %.1f ms; xdotool itself ran median %.1f ms' % (
                  len(latencies), statistics.median(latencies), percentile(latencies, 95),
                  statistics.median(tool)))


if __name__ == '__main__':
    main()
