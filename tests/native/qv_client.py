"""A scripted Quorvane client for tests against the real quorvane-server: the wire messages, the picture
decoded as the client decodes it, and the server and private X servers started and ended by process id."""
import os, socket, struct, subprocess, tempfile, time, zlib

HELLO, KEY, CHAR, MOUSE_POS, MOUSE_BUTTON, LAUNCH, WEB_ADDRESS, MENU, PING, ACK = 64, 65, 66, 68, 69, 72, 73, 74, 75, 76
APP_LIST, FRAME, AUDIO, STATE, TEXT = 2, 3, 4, 5, 6
CTRL, ALT, ALTGR = (0x11, 0x1D), (0x12, 0x38), (0x12, 0x138)


def rgb555(r, g, b):
    return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)


class Client:
    def __init__(self, port, name='TEST', key='', size=(320, 240), rate=0, source='127.0.0.1', fps=30):
        self.sock = socket.create_connection(('127.0.0.1', port), timeout=10, source_address=(source, 0))
        self.buf, (self.w, self.h), self.frames, self.pixels = b'', size, 0, [0] * (size[0] * size[1])
        self.texts, self.apps, self.states, self.sound = [], [], [], []
        hello = b'QV98\x01\x00' + struct.pack('<HHBIB', self.w, self.h, fps, rate, 2)
        self.send(HELLO, hello + name.encode().ljust(32, b'\0') + key.encode().ljust(32, b'\0'))

    def send(self, kind, payload=b''):
        self.sock.sendall(struct.pack('<IB', len(payload), kind) + payload)

    def press(self, *keys, char=None):  # (virtual key, scan code) pairs down in order, `char`, up in reverse
        msgs = lambda down, ks: [(KEY, struct.pack('<BHB', *k, down)) for k in ks]
        chars = [(CHAR, char.encode('utf-16-le'))] if char else []
        for kind, p in msgs(1, keys) + chars + msgs(0, keys[::-1]):
            self.send(kind, p)

    def click(self, x, y, button=1):
        self.send(MOUSE_POS, struct.pack('<HH', x, y))
        self.send(MOUSE_BUTTON, bytes([button, 1]))
        self.send(MOUSE_BUTTON, bytes([button, 0]))

    def launch(self, app_id, seconds=20):  # true once it streams and stays so for 1.5 s
        frames = self.frames
        self.send(LAUNCH, struct.pack('<H', app_id))
        return self.pump(seconds, lambda: self.states[-1:] == [1] and self.frames > frames) and not self.pump(1.5)

    def pump(self, seconds, until=None):  # reads and acknowledges for up to `seconds` or until until()
        end = time.time() + seconds
        while time.time() < end and not (until and until()):
            self.sock.settimeout(max(0.01, min(0.2, end - time.time())))
            try:
                data = self.sock.recv(1 << 20)
            except socket.timeout:
                continue
            if not data:
                break
            self.buf += data
            while len(self.buf) >= 5 and len(self.buf) >= 5 + struct.unpack('<I', self.buf[:4])[0]:
                length, kind = struct.unpack('<IB', self.buf[:5])
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
            self.apps, at = [], 2
            for _ in range(struct.unpack('<H', p[:2])[0]):
                app_id, kind_, n = struct.unpack('<HBB', p[at:at + 4])
                self.apps.append((app_id, kind_, p[at + 4:at + 4 + n].decode()))
                at += 4 + n
        elif kind == STATE:
            self.states.append(p[0])
        elif kind == AUDIO:
            self.sound.append(p)

    def status(self):
        return [t for slot, t in self.texts if slot not in (1, 3, 4)]

    def decode(self, body):
        w, h = struct.unpack('<HH', body[4:8])
        if (w, h) != (self.w, self.h):
            self.w, self.h, self.pixels = w, h, [0] * (w * h)
        self.frames, d, bx, by = self.frames + 1, zlib.decompress(body[17:]), (w + 7) // 8, (h + 7) // 8
        c = bx * by
        mix = lambda a, b, wa: sum(((wa * (a >> s & 31) + (3 - wa) * (b >> s & 31) + 1) // 3) << s for s in (10, 5, 0))
        for i in range(bx * by):
            t, x0, y0, size = d[i], 8 * (i % bx), 8 * (i // bx), (0, 2, 12, 24, 128, 32)[d[i]]
            blk, c = d[c:c + size], c + size
            col = lambda o: blk[o] | blk[o + 1] << 8
            for r in range(min(8, h - y0) if t else 0):
                for k in range(min(8, w - x0)):
                    if t < 3:
                        v = col(2) if t == 2 and blk[4 + r] >> k & 1 else col(0)
                    elif t == 3:
                        v = col(2 * (blk[8 + (8 * r + k) // 4] >> 2 * ((8 * r + k) % 4) & 3))
                    elif t == 4:
                        v = col(16 * r + 2 * k)
                    else:
                        q = 8 * ((r // 4) * 2 + k // 4)
                        e0, e1 = col(q), col(q + 2)
                        v = (e0, e1, mix(e0, e1, 2), mix(e0, e1, 1))[
                            struct.unpack('<I', blk[q + 4:q + 8])[0] >> 2 * ((r % 4) * 4 + k % 4) & 3]
                    self.pixels[(y0 + r) * w + x0 + k] = v

    def pixel(self, x, y):
        return self.pixels[y * self.w + x] & 0x7FFF

    def close(self):
        self.sock.close()


def connect(port, **kw):  # a client that has its menu
    c = Client(port, **kw)
    c.pump(5, lambda: c.apps)
    return c


class Server:  # quorvane-server with a configuration file written from `toml`
    def __init__(self, binary, toml, args=(), env=None):
        self.dir = tempfile.mkdtemp(prefix='qv-server-')
        self.config, self.log = os.path.join(self.dir, 'server.toml'), open(os.path.join(self.dir, 'log'), 'w+')
        open(self.config, 'w').write(toml)
        self.proc = subprocess.Popen([binary, '--config', self.config, '--listen', '127.0.0.1:0', '--allow-root'] + list(args),
                                     stdout=subprocess.PIPE, stderr=self.log, env=env)
        self.port = int(self.proc.stdout.readline() or 0)

    def log_text(self):
        self.log.seek(0)
        return self.log.read()

    def stop(self, sig=15):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            self.proc.wait(10)


failures = []


def check(name, ok, detail=''):
    print(('ok   ' if ok else 'FAIL ') + name + ('' if ok or not detail else ': ' + str(detail)), flush=True)
    if not ok:
        failures.append(name)


def done():
    raise SystemExit(1 if failures else 0)
