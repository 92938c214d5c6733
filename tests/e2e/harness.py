"""The real quorvane.exe under Wine on an Xvfb screen and a Wine prefix of its own; a test server on 127.0.0.1."""
import argparse, contextlib, os, re, shutil, socket, struct, subprocess, tempfile, threading, time, traceback, zlib  # noqa

(MSG_HELLO, MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL, MSG_GAMEPAD,
 MSG_LAUNCH_APP, MSG_WEB_ADDRESS, MSG_MENU_REQUEST, MSG_PING, MSG_FRAME_ACK) = range(64, 77)
(MSG_STREAM_SETUP, MSG_APP_LIST, MSG_VIDEO_FRAME, MSG_AUDIO_DATA, MSG_STREAM_STATE, MSG_SERVER_TEXT,
 MSG_PONG) = range(1, 8)
INPUT = (MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL)
WIDTH, HEIGHT = 640, 480
BACKGROUND, BAND, STATUS = (12, 10, 24), (170, 40, 20), (255, 200, 120)   # the title screen's


def rgb555(r, g, b): return (r << 10) | (g << 5) | b
def fill(colour): return 1, struct.pack('<H', colour)
def msg(kind, payload=b''): return struct.pack('<IB', len(payload), kind) + payload


def rgb24(c): return tuple(((c >> s & 31) << 3) | ((c >> s & 31) >> 2) for s in (10, 5, 0))


def near(got, want): return max(abs(a - b) for a, b in zip(got, want)) <= 8


def blocks(width, height, block):   # block(bx, by) -> (type, payload)
    cells = [block(bx, by) for by in range((height + 7) // 8) for bx in range((width + 7) // 8)]
    return bytes(t for t, _ in cells) + b''.join(p for _, p in cells)


def raw(pixel): return 4, b''.join(struct.pack('<H', pixel(k, r)) for r in range(8) for k in range(8))


def video_frame(frame_id, width, height, stream, raw_size=None, body=None):
    return struct.pack('<IHHBI4x', frame_id, width, height, 0, len(stream) if raw_size is None else raw_size) + (
        zlib.compress(stream) if body is None else body)


def stream_setup(width, height, rate=0, channels=0, text=b''):
    return struct.pack('<2xHHxiBx32s', width, height, rate, channels, text)


def app_list(entries):   # (id, kind, name)
    return struct.pack('<H', len(entries)) + b''.join(
        struct.pack('<HBB', i, kind, len(name.encode())) + name.encode() for i, kind, name in entries)


def stats_shown(shot):   # green text in a black 330 x 18 box at the top left
    return shot.count(0, 0, 330, 18, (0, 0, 0), 4) > 2970 and shot.count(0, 0, 330, 18, (0, 255, 0), 40) > 40


def wait_for(condition, timeout, interval=0.05):
    deadline = time.monotonic() + timeout
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(interval)
    return value or None


class Connection:   # one accepted client and the messages read from it, (time, type, payload)
    def __init__(self, sock, server):
        self.sock, self.server, self.messages, self.closed = sock, server, [], False
        self.send_lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        with contextlib.suppress(struct.error, OSError):
            while True:
                length, kind = struct.unpack('<IB', self.sock.recv(5, socket.MSG_WAITALL))
                payload = self.sock.recv(length, socket.MSG_WAITALL) if length else b''
                if len(payload) < length:
                    break
                self.messages.append((time.monotonic(), kind, payload))
                if kind == MSG_PING and self.server.answer_pings:
                    self.send(MSG_PONG, payload[:4])
                self.server.reading.wait()   # a stuck server reads no further
        self.closed = True

    def send(self, kind, payload=b''): return self.send_raw(msg(kind, payload))

    def send_raw(self, data):
        with self.send_lock, contextlib.suppress(OSError):
            return self.sock.sendall(data) or True

    def mark(self): return len(self.messages)

    def since(self, mark, kinds=None):   # (type, payload) from index mark on
        return [(k, p) for _, k, p in self.messages[mark:] if kinds is None or k in kinds]

    def wait(self, kind, timeout=5, start=0, match=None):   # the first payload of kind from start on that match()es
        def found(): return next(((p,) for k, p in self.since(start, (kind,)) if match is None or match(p)), None)
        return (wait_for(found, timeout, 0.02) or [None])[0]

    def wait_closed(self, timeout): return wait_for(lambda: self.closed, timeout)

    def close(self):
        with contextlib.suppress(OSError): self.sock.shutdown(socket.SHUT_RDWR)  # noqa: E701
        self.sock.close()


class FakeServer:   # listens on 127.0.0.1; on_connect(connection) runs for each client
    def __init__(self, port=0, rcvbuf=None, on_connect=None):
        self.port, self.rcvbuf, self.on_connect, self.connections = port, rcvbuf, on_connect, []
        self.answer_pings, self.reading, self.listener = True, threading.Event(), None
        self.reading.set(), self.listen()

    def listen(self):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if self.rcvbuf:   # inherited by the accepted sockets, window scale included
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self.rcvbuf)
        listener.bind(('127.0.0.1', self.port))
        listener.listen(4)
        self.port, self.listener = listener.getsockname()[1], listener
        threading.Thread(target=self._accept, args=(listener,), daemon=True).start()

    def stop_listening(self):
        if self.listener is not None:
            with contextlib.suppress(OSError): self.listener.shutdown(socket.SHUT_RDWR)  # noqa: E701
            self.listener = self.listener.close()

    def _accept(self, listener):
        with contextlib.suppress(OSError):
            while True:
                sock, _ = listener.accept()
                sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                connection = Connection(sock, self)
                self.on_connect and self.on_connect(connection)
                self.connections.append(connection)

    def wait_connection(self, timeout, index=0):
        return wait_for(lambda: self.connections[index] if len(self.connections) > index else None, timeout)

    def close(self):
        self.reading.set()
        self.stop_listening()
        [connection.close() for connection in self.connections]


class Shot:   # a screenshot (binary PPM) in coordinates from origin on
    def __init__(self, data, origin=(0, 0)):
        head = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
        self.width, self.height = int(head.group(1)), int(head.group(2))
        self.pixels, self.raw, (self.ox, self.oy) = data[head.end():], data, origin

    def at(self, x, y): return tuple(self.pixels[(i := ((y + self.oy) * self.width + x + self.ox) * 3):i + 3])

    def count(self, left, top, right, bottom, colour, tolerance=8):
        return sum(all(abs(a - b) <= tolerance for a, b in zip(self.at(x, y), colour))
                   for y in range(max(top, -self.oy), min(bottom, self.height - self.oy))
                   for x in range(max(left, -self.ox), min(right, self.width - self.ox)))

    def box(self, colour):   # the smallest (left, top, right, bottom) holding every pixel of colour, or None
        at = [m.start() // 3 for m in re.finditer(b'(?=%s)' % re.escape(bytes(colour)), self.pixels) if m.start() % 3 == 0]
        xs, ys = [i % self.width for i in at], [i // self.width for i in at]
        return (min(xs) - self.ox, min(ys) - self.oy, max(xs) + 1 - self.ox, max(ys) + 1 - self.oy) if at else None

    def save(self, path): subprocess.run(['convert', 'ppm:-', path], input=self.raw, check=False)


class Display:   # an Xvfb screen that picks its own free display number
    def __init__(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % (width, height),
             '-nolisten', 'tcp', '-noreset'], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.name = ':' + pipe.readline().strip()
        if self.name == ':':
            raise RuntimeError('Xvfb did not start')
        self.env = dict(os.environ, DISPLAY=self.name)

    def run(self, *args, timeout=60):
        return subprocess.run(args, env=self.env, capture_output=True, timeout=timeout).stdout.decode('latin-1').strip()

    def xdo(self, *args): return self.run('xdotool', *[str(a) for a in args])
    def key(self, *keys): self.xdo('key', '--delay', 30, *keys)

    def shot(self):
        return Shot(subprocess.run(['import', '-display', self.name, '-window', 'root', '-depth', '8', 'ppm:-'],
                                   capture_output=True, check=True, timeout=30).stdout)

    def find(self, pattern, timeout):   # the first visible X window whose name matches
        return wait_for(lambda: (self.xdo('search', '--onlyvisible', '--name', pattern).split() or [None])[0],
                        timeout, 0.2)

    def close(self): self.process.terminate() or self.process.wait(10)


def private_wine_prefix(base, folder):   # own wineserver and desktop, base's drive_c; Wine renames the .reg files
    os.makedirs(os.path.join(folder, 'dosdevices'))
    for name in os.listdir(base):
        if name.endswith('.reg') or (name.startswith('.') and os.path.isfile(os.path.join(base, name))):
            shutil.copy2(os.path.join(base, name), folder)
    for target, name in ((os.path.join(base, 'drive_c'), 'drive_c'), ('../drive_c', 'dosdevices/c:'), ('/', 'dosdevices/z:')):
        os.symlink(target, os.path.join(folder, name))
    return folder


class Client:   # quorvane.exe copied into a scratch folder of its own and started under Wine
    def __init__(self, exe, display, scratch, ini, arguments=(), prefix=None):
        self.display, self.prefix, self.window = display, prefix, None
        self.folder = tempfile.mkdtemp(prefix='client-', dir=scratch)
        self.exe = shutil.copy(exe, self.folder)
        with open(os.path.join(self.folder, 'QUORVANE.INI'), 'wb') as f:
            f.write(('[Quorvane]\r\n' + ''.join('%s=%s\r\n' % kv for kv in ini.items())).encode('latin-1'))
        self.log = open(os.path.join(self.folder, 'wine.log'), 'wb')
        self.env = dict(display.env, WINEPREFIX=prefix or os.environ.get('WINEPREFIX', '/root/.wine-quorvane'),
                        WINEDEBUG='-all', WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree,mshtml=')
        self.process = subprocess.Popen(['wine', self.exe, *arguments], cwd=self.folder, env=self.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)

    def find_window(self, timeout=30): return setattr(self, 'window', self.display.find('^Quorvane!', timeout)) or self.window

    def focus(self): self.display.xdo('windowfocus', self.window)
    def title(self): return self.display.xdo('getwindowname', self.window)

    def wait_exit(self, timeout):   # the exit code, or None while it runs
        with contextlib.suppress(subprocess.TimeoutExpired): return self.process.wait(timeout)  # noqa: E701

    def stop(self):
        self.process.kill() or self.process.wait(10)
        self.log.close()
        if self.prefix:   # this run's own wineserver and desktop end with it
            subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True, timeout=30)


class Session:   # a display, a server and a client (`ini` over the defaults) torn down together; the checks
    def __init__(self, args, ini=None, layout=None, server=None):
        self.args, self.failed, self.origin = args, [], (0, 0)
        self.display = Display()
        layout and self.display.run('setxkbmap', '-display', self.display.name, layout)
        self.server = server or FakeServer()
        values = {'host': '127.0.0.1', 'port': self.server.port, 'bredd': WIDTH, 'hojd': HEIGHT, 'fps': 30,
                  'fullskarm': 0, 'ljud': 0, 'ljudfrekvens': 22050, 'stereo': 0, 'muskanslighet': 100,
                  'joystick': 0, 'namn': 'E2E', 'nyckel': 'hemlig', **(ini or {})}
        self.prefix = private_wine_prefix(os.environ.get('WINEPREFIX', '/root/.wine-quorvane'),
                                          tempfile.mkdtemp(prefix='wine-', dir=args.scratch) + '/p')
        self.client = Client(args.exe, self.display, args.scratch, values, (), self.prefix)

    def check(self, name, passed, detail=''):
        print('PASS  %s' % name if passed else 'FAIL  %s  %s' % (name, detail or ''), flush=True)
        self.failed += [] if passed else [name]
        return bool(passed)

    def start(self):   # the connection and its Hello, once the window shows its 640 x 480 title screen
        connection = self.server.wait_connection(60)
        fits = lambda b: b and b[2:] == (b[0] + WIDTH, b[1] + HEIGHT) and b  # noqa: E731
        box = self.client.find_window(60) and wait_for(lambda: fits(self.display.shot().box(BACKGROUND)), 30, 0.2)
        if not self.check('the client connects, its window shows the title screen', connection and box):
            raise RuntimeError('no client')
        self.origin = box[:2]
        self.client.focus()
        connection.wait(MSG_HELLO, 10)
        return connection

    def shot(self): return Shot(self.display.shot().raw, self.origin)   # in client-area coordinates
    def to_screen(self, x, y): return self.origin[0] + x, self.origin[1] + y

    def reconnect(self, name, hello=lambda payload: True, timeout=30):   # the next, its first message a Hello
        conn = self.server.wait_connection(timeout, len(self.server.connections))
        first = conn and conn.wait(MSG_HELLO, 10) and conn.since(0)[0]
        self.check(name, first and first[0] == MSG_HELLO and hello(first[1]), repr(first))
        return conn

    def exit(self):
        code = self.display.key('F12') or self.client.wait_exit(20)
        return self.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)

    def close(self):
        self.client.stop()
        self.server.close()
        self.display.close()
        shutil.rmtree(os.path.dirname(self.prefix), ignore_errors=True)


def main(scenarios):
    """--exe, --out, --server, --scenario NAME (repeatable; all by default); scenario(args) -> failed checks."""
    parser = argparse.ArgumentParser()
    for option in ('--exe', '--out', '--server'):
        parser.add_argument(option, required=option != '--server')
    parser.add_argument('--scenario', action='append', choices=sorted(scenarios))
    args = parser.parse_args()
    args.exe, args.out = os.path.abspath(args.exe), os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    args.scratch, failed = tempfile.mkdtemp(prefix='e2e-', dir=args.out), []
    for name in args.scenario or list(scenarios):
        print('== %s' % name, flush=True)
        try:
            failed += ['%s: %s' % (name, n) for n in scenarios[name](args)]
        except Exception:
            traceback.print_exc()
            failed.append('%s broke off' % name)
    if failed:
        print('FAILED:\n  %s\nclient folders and Wine logs kept in %s' % ('\n  '.join(failed), args.scratch))
    else:
        shutil.rmtree(args.scratch, ignore_errors=True)
    return int(bool(failed))
