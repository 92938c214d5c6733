"""A scripted Quorvane client for tests against the real quorvane-server:
the wire messages, the picture decoded as the client decodes it, and the
server and private X servers started and ended by process id."""
import os
import socket
import struct
import subprocess
import tempfile
import time
import zlib

HELLO, KEY, CHAR, MOUSE_POS, MOUSE_BUTTON, LAUNCH, MENU, PING, ACK = 64, 65, 66, 68, 69, 72, 74, 75, 76
SETUP, APP_LIST, FRAME, AUDIO, STATE, TEXT, PONG = 1, 2, 3, 4, 5, 6, 7


def rgb555(r, g, b):
    return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)


class Client:
    def __init__(self, port, name='TEST', key='', size=(320, 240), rate=0):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=10)
        self.buf = b''
        self.w, self.h = size
        self.pixels = [0] * (self.w * self.h)
        self.frames = 0
        self.texts, self.apps, self.states, self.audio = [], [], [], 0
        hello = b'QV98\x01\x00' + struct.pack('<HHBIB', self.w, self.h, 30, rate, 2)
        self.send(HELLO, hello + name.encode().ljust(32, b'\0') + key.encode().ljust(32, b'\0'))

    def send(self, kind, payload=b''):
        self.sock.sendall(struct.pack('<IB', len(payload), kind) + payload)

    def type_text(self, text):
        """As the client does: Key press, Char, Key release (scan code 0x1E)."""
        for ch in text:
            self.send(KEY, struct.pack('<BHB', 0x41, 0x1E, 1))
            self.send(CHAR, struct.pack('<H', ord(ch)))
            self.send(KEY, struct.pack('<BHB', 0x41, 0x1E, 0))

    def key(self, vk, scan, down):
        self.send(KEY, struct.pack('<BHB', vk, scan, down))

    def pump(self, seconds, until=None):
        """Reads messages for up to `seconds`, acknowledging frames; stops
        early when until() holds. Returns whether it held."""
        end = time.time() + seconds
        while time.time() < end:
            if until and until():
                return True
            self.sock.settimeout(max(0.01, min(0.2, end - time.time())))
            try:
                data = self.sock.recv(1 << 20)
            except socket.timeout:
                continue
            if not data:
                break
            self.buf += data
            while len(self.buf) >= 5:
                length, kind = struct.unpack('<IB', self.buf[:5])
                if len(self.buf) < 5 + length:
                    break
                self.handle(kind, self.buf[5:5 + length])
                self.buf = self.buf[5 + length:]
        return bool(until and until())

    def handle(self, kind, p):
        if kind == FRAME:
            self.decode(p)
            try:
                self.send(ACK, p[:4])
            except OSError:  # the server may close right after its last frame
                pass
        elif kind == TEXT:
            self.texts.append((p[0], p[1:].decode('utf-8', 'replace')))
        elif kind == APP_LIST:
            count, at = struct.unpack('<H', p[:2])[0], 2
            self.apps = []
            for _ in range(count):
                app_id, kind_, n = struct.unpack('<HBB', p[at:at + 4])
                self.apps.append((app_id, kind_, p[at + 4:at + 4 + n].decode()))
                at += 4 + n
        elif kind == STATE:
            self.states.append(p[0])
        elif kind == AUDIO:
            self.audio += len(p)

    def status(self):
        return [t for slot, t in self.texts if slot not in (1, 3, 4)]

    def decode(self, body):
        w, h = struct.unpack('<HH', body[4:8])
        if (w, h) != (self.w, self.h):
            self.w, self.h, self.pixels = w, h, [0] * (w * h)
        self.frames += 1
        d = zlib.decompress(body[17:])
        bx, by = (w + 7) // 8, (h + 7) // 8
        c = bx * by
        for i in range(bx * by):
            t, x0, y0 = d[i], 8 * (i % bx), 8 * (i // bx)
            size = (0, 2, 12, 24, 128, 32)[t]
            blk, c = d[c:c + size], c + size
            col = lambda o: blk[o] | blk[o + 1] << 8
            bw = min(8, w - x0)
            for r in range(min(8, h - y0) if t else 0):
                if t == 1:
                    self.pixels[(y0 + r) * w + x0:(y0 + r) * w + x0 + bw] = [col(0)] * bw
                    continue
                for k in range(bw):
                    if t == 2:
                        v = col(2) if blk[4 + r] >> k & 1 else col(0)
                    elif t == 3:
                        j = 8 * r + k
                        v = col(2 * (blk[8 + j // 4] >> 2 * (j % 4) & 3))
                    elif t == 4:
                        v = col(16 * r + 2 * k)
                    else:
                        q = 8 * ((r // 4) * 2 + k // 4)
                        idx = (struct.unpack('<I', blk[q + 4:q + 8])[0] >> 2 * ((r % 4) * 4 + k % 4)) & 3
                        e0, e1 = col(q), col(q + 2)
                        mix = lambda a, b, wa, wb: sum(((wa * (a >> s & 31) + wb * (b >> s & 31) + 1) // 3) << s
                                                       for s in (10, 5, 0))
                        v = (e0, e1, mix(e0, e1, 2, 1), mix(e0, e1, 1, 2))[idx]
                    self.pixels[(y0 + r) * w + x0 + k] = v

    def pixel(self, x, y):
        return self.pixels[y * self.w + x] & 0x7FFF

    def close(self):
        self.sock.close()


class Server:
    """quorvane-server with a configuration file written from `toml`."""

    def __init__(self, binary, toml, args=(), env=None):
        self.dir = tempfile.mkdtemp(prefix='qv-server-')
        self.config = os.path.join(self.dir, 'server.toml')
        with open(self.config, 'w') as f:
            f.write(toml)
        self.log = open(os.path.join(self.dir, 'server.log'), 'w+')
        self.proc = subprocess.Popen([binary, '--config', self.config, '--listen', '127.0.0.1:0'] + list(args),
                                     stdout=subprocess.PIPE, stderr=self.log, env=env)
        self.port = int(self.proc.stdout.readline() or 0)

    def log_text(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self, sig=15):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            self.proc.wait(10)


class Xvfb:
    """A private X server of our own, found with -displayfd."""

    def __init__(self, size='320x240'):
        r, w = os.pipe()
        self.proc = subprocess.Popen(['Xvfb', '-displayfd', str(w), '-nolisten', 'tcp', '-noreset', '-screen', '0',
                                      size + 'x24'],
                                     pass_fds=(w,), stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.display = ':' + f.readline().strip()

    def run(self, *argv):
        subprocess.run(argv, env=dict(os.environ, DISPLAY=self.display), check=True, timeout=10)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Checks:
    def __init__(self):
        self.failures = []

    def check(self, name, ok, detail=''):
        print(('ok   ' if ok else 'FAIL ') + name + ('' if ok or not detail else ': ' + str(detail)), flush=True)
        if not ok:
            self.failures.append(name)

    def exit(self):
        raise SystemExit(1 if self.failures else 0)
