"""The real quorvane.exe under Wine on an Xvfb screen and in a Wine prefix of
its own, against a server the test plays on 127.0.0.1. Waits poll with limits."""
import argparse
import contextlib
import os
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import traceback
import zlib

(MSG_HELLO, MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL, MSG_GAMEPAD,
 MSG_LAUNCH_APP, MSG_WEB_ADDRESS, MSG_MENU_REQUEST, MSG_PING, MSG_FRAME_ACK) = range(64, 77)
(MSG_STREAM_SETUP, MSG_APP_LIST, MSG_VIDEO_FRAME, MSG_AUDIO_DATA, MSG_STREAM_STATE, MSG_SERVER_TEXT,
 MSG_PONG) = range(1, 8)
INPUT = (MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL)
WIDTH, HEIGHT = 640, 480
BACKGROUND, BAND, STATUS = (12, 10, 24), (170, 40, 20), (255, 200, 120)   # the title screen's


def rgb555(r, g, b):
    return (r << 10) | (g << 5) | b


def rgb24(c):
    """A 5-bit colour as a 24-bit screen shows it (0 and 31 are exact)."""
    return tuple(((c >> s & 31) << 3) | ((c >> s & 31) >> 2) for s in (10, 5, 0))


def blocks(width, height, block):
    """A block stream; block(bx, by) gives (type, payload bytes)."""
    cells = [block(bx, by) for by in range((height + 7) // 8) for bx in range((width + 7) // 8)]
    return bytes(t for t, _ in cells) + b''.join(p for _, p in cells)


def fill(colour):
    return 1, struct.pack('<H', colour)


def raw(pixel):
    """pixel(k, r): the colour of column k, row r of the block."""
    return 4, b''.join(struct.pack('<H', pixel(k, r)) for r in range(8) for k in range(8))


def video_frame(frame_id, width, height, stream, raw_size=None, body=None):
    size = len(stream) if raw_size is None else raw_size
    return struct.pack('<IHHBI4x', frame_id, width, height, 0, size) + (
        zlib.compress(stream) if body is None else body)


def stream_setup(width, height, rate=0, channels=0, text=b''):
    return struct.pack('<2xHHxiBx32s', width, height, rate, channels, text)


def app_list(entries):
    """entries: (id, kind, name) tuples."""
    return struct.pack('<H', len(entries)) + b''.join(
        struct.pack('<HBB', i, kind, len(name.encode())) + name.encode() for i, kind, name in entries)


def stats_shown(shot):
    """The statistics line: green text in a black 330 x 18 box at the top left."""
    return shot.count(0, 0, 330, 18, (0, 0, 0), 4) > 2970 and shot.count(0, 0, 330, 18, (0, 255, 0), 40) > 40


def wait_for(condition, timeout, interval=0.05):
    """condition()'s first true value within the time limit, else None."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= deadline:
            return value or None
        time.sleep(interval)


class Connection:
    """One accepted client and the messages read from it, (time, type, payload)."""

    def __init__(self, sock, server):
        self.sock, self.server = sock, server
        self.messages, self.closed = [], False
        self.cond, self.send_lock = threading.Condition(), threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        try:
            while True:
                length, kind = struct.unpack('<IB', self.sock.recv(5, socket.MSG_WAITALL))
                payload = self.sock.recv(length, socket.MSG_WAITALL) if length else b''
                if len(payload) < length:
                    break
                with self.cond:
                    self.messages.append((time.monotonic(), kind, payload))
                    self.cond.notify_all()
                if kind == MSG_PING and self.server.answer_pings:
                    self.send(MSG_PONG, payload[:4])
                self.server.reading.wait()   # a stuck server reads no further
        except (struct.error, OSError):   # cut short or closed
            pass
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def send(self, kind, payload=b''):
        return self.send_raw(struct.pack('<IB', len(payload), kind) + payload)

    def send_raw(self, data):
        with self.send_lock, contextlib.suppress(OSError):
            return self.sock.sendall(data) or True

    def mark(self):
        return len(self.messages)

    def since(self, mark, kinds=None):
        """(type, payload) of the messages from index mark on."""
        with self.cond:
            return [(k, p) for _, k, p in self.messages[mark:] if kinds is None or k in kinds]

    def wait(self, kind, timeout=5, start=0, match=None):
        """The payload of the first message of kind (from index start) that match() accepts."""
        def found():
            return next((p for k, p in self.since(start, (kind,)) if match is None or match(p)), None)
        with self.cond:
            self.cond.wait_for(lambda: found() is not None, timeout)
        return found()

    def wait_closed(self, timeout):
        with self.cond:
            return self.cond.wait_for(lambda: self.closed, timeout)

    def close(self):
        with contextlib.suppress(OSError):
            self.sock.shutdown(socket.SHUT_RDWR)
        self.sock.close()


class FakeServer:
    """Listens on 127.0.0.1 and accepts clients; on_connect(connection) runs for each."""

    def __init__(self, port=0, rcvbuf=None, on_connect=None):
        self.port, self.rcvbuf, self.on_connect = port, rcvbuf, on_connect
        self.answer_pings, self.reading = True, threading.Event()
        self.reading.set()
        self.connections, self.cond, self.listener = [], threading.Condition(), None
        self.listen()

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
            with contextlib.suppress(OSError):
                self.listener.shutdown(socket.SHUT_RDWR)
            self.listener = self.listener.close()

    def _accept(self, listener):
        while True:
            try:
                sock, _ = listener.accept()
            except OSError:
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            connection = Connection(sock, self)
            if self.on_connect:
                self.on_connect(connection)
            with self.cond:
                self.connections.append(connection)
                self.cond.notify_all()

    def wait_connection(self, timeout, index=0):
        """The index-th accepted connection (0 = the first)."""
        with self.cond:
            self.cond.wait_for(lambda: len(self.connections) > index, timeout)
            return self.connections[index] if len(self.connections) > index else None

    def close(self):
        self.reading.set()
        self.stop_listening()
        for connection in self.connections:
            connection.close()


class Shot:
    """A screenshot (an 8-bit binary PPM) in coordinates from origin on."""

    def __init__(self, data, origin=(0, 0)):
        head = re.match(rb'P6\s+(\d+)\s+(\d+)\s+255\s', data)
        self.width, self.height = int(head.group(1)), int(head.group(2))
        self.pixels, self.raw, (self.ox, self.oy) = data[head.end():], data, origin

    def at(self, x, y):
        i = ((y + self.oy) * self.width + x + self.ox) * 3
        return tuple(self.pixels[i:i + 3])

    def count(self, left, top, right, bottom, colour, tolerance=8):
        """Pixels of [left, right) x [top, bottom) within tolerance of colour."""
        return sum(all(abs(a - b) <= tolerance for a, b in zip(self.at(x, y), colour))
                   for y in range(max(top, -self.oy), min(bottom, self.height - self.oy))
                   for x in range(max(left, -self.ox), min(right, self.width - self.ox)))

    def box(self, colour):
        """The smallest (left, top, right, bottom) holding every pixel of colour, or None."""
        stride, found = self.width * 3, None
        for y in range(self.height):
            row = self.pixels[y * stride:(y + 1) * stride]
            xs = [m.start() // 3 for m in re.finditer(b'(?=%s)' % re.escape(bytes(colour)), row)
                  if m.start() % 3 == 0]
            if xs:
                l, t, r, _ = found or (xs[0], y, xs[-1] + 1, y)
                found = (min(l, xs[0]), t, max(r, xs[-1] + 1), y + 1)
        return found and (found[0] - self.ox, found[1] - self.oy, found[2] - self.ox, found[3] - self.oy)

    def save(self, path):
        subprocess.run(['convert', 'ppm:-', path], input=self.raw, check=False)


class Display:
    """An Xvfb screen that picks its own free display number."""

    def __init__(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % (width, height),
             '-nolisten', 'tcp', '-noreset'], pass_fds=(write_end,), stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.name = ':' + pipe.readline().strip()   # empty when Xvfb failed
        if self.name == ':':
            raise RuntimeError('Xvfb did not start')
        self.env = dict(os.environ, DISPLAY=self.name)

    def run(self, *args, timeout=60):
        return subprocess.run(args, env=self.env, capture_output=True,
                              timeout=timeout).stdout.decode('latin-1').strip()

    def xdo(self, *args):
        return self.run('xdotool', *[str(a) for a in args])

    def key(self, *keys):
        self.xdo('key', '--delay', 30, *keys)

    def shot(self):
        return Shot(subprocess.run(['import', '-display', self.name, '-window', 'root', '-depth', '8',
                                    'ppm:-'], capture_output=True, check=True, timeout=30).stdout)

    def find(self, pattern, timeout):   # the first visible X window whose name matches
        return wait_for(lambda: (self.xdo('search', '--onlyvisible', '--name', pattern).split()
                                 or [None])[0], timeout, 0.2)

    def close(self):
        self.process.terminate()
        self.process.wait(10)


def private_wine_prefix(base, folder):
    """A prefix of one run's own (its own wineserver and desktop on this
    run's display) sharing the base prefix's drive_c; the registry files are
    copied, since Wine replaces them by renaming."""
    os.makedirs(os.path.join(folder, 'dosdevices'))
    for name in os.listdir(base):
        if name.endswith('.reg') or (name.startswith('.') and os.path.isfile(os.path.join(base, name))):
            shutil.copy2(os.path.join(base, name), folder)
    os.symlink(os.path.join(base, 'drive_c'), os.path.join(folder, 'drive_c'))
    os.symlink('../drive_c', os.path.join(folder, 'dosdevices', 'c:'))
    os.symlink('/', os.path.join(folder, 'dosdevices', 'z:'))
    return folder


class Client:
    """quorvane.exe copied into a scratch folder of its own and started under Wine."""

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

    def find_window(self, timeout=30):
        self.window = self.display.find('^Quorvane!', timeout)
        return self.window

    def focus(self):
        self.display.xdo('windowfocus', self.window)

    def title(self):
        return self.display.xdo('getwindowname', self.window)

    def wait_exit(self, timeout):
        """The exit code, or None while it runs."""
        with contextlib.suppress(subprocess.TimeoutExpired):
            return self.process.wait(timeout)

    def stop(self):
        self.process.kill()
        self.process.wait(10)
        self.log.close()
        if self.prefix:   # this run's own wineserver and desktop end with it
            subprocess.run(['wineserver', '-k'], env=self.env, capture_output=True, timeout=30)


class Session:
    """A display, a server and a client (`ini` over the default settings) torn down together; the checks."""

    def __init__(self, args, ini=None, arguments=(), layout=None, server=None):
        self.args, self.failed, self.origin = args, [], (0, 0)
        self.display = Display()
        if layout:
            self.display.run('setxkbmap', '-display', self.display.name, layout)
        self.server = server or FakeServer()
        values = {'host': '127.0.0.1', 'port': self.server.port, 'bredd': WIDTH, 'hojd': HEIGHT,
                  'fps': 30, 'fullskarm': 0, 'ljud': 0, 'ljudfrekvens': 22050, 'stereo': 0,
                  'muskanslighet': 100, 'joystick': 0, 'namn': 'E2E', 'nyckel': 'hemlig'}
        values.update(ini or {})
        self.prefix = private_wine_prefix(os.environ.get('WINEPREFIX', '/root/.wine-quorvane'),
                                          tempfile.mkdtemp(prefix='wine-', dir=args.scratch) + '/p')
        self.client = Client(args.exe, self.display, args.scratch, values, arguments, self.prefix)

    def check(self, name, passed, detail=''):
        print('PASS  %s' % name if passed else 'FAIL  %s  %s' % (name, detail or ''), flush=True)
        self.failed += [] if passed else [name]
        return bool(passed)

    def start(self):
        """The connection and its Hello, once the window shows its 640 x 480 title screen."""
        connection = self.server.wait_connection(60)

        def area():
            box = self.display.shot().box(BACKGROUND)
            return box if box and box[2:] == (box[0] + WIDTH, box[1] + HEIGHT) else None
        box = self.client.find_window(60) and wait_for(area, 30, 0.2)
        if not self.check('the client connects, its window shows the title screen', connection and box):
            raise RuntimeError('no client')
        self.origin = box[:2]
        self.client.focus()
        connection.wait(MSG_HELLO, 10)
        return connection

    def shot(self):
        """A screenshot in the coordinates of the client area."""
        return Shot(self.display.shot().raw, self.origin)

    def to_screen(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def close(self):
        self.client.stop()
        self.server.close()
        self.display.close()
        shutil.rmtree(os.path.dirname(self.prefix), ignore_errors=True)


def main(scenarios, extra=()):
    """--exe, --out, --scenario NAME (repeatable; all by default) and the options
    in extra; scenario(args) gives the names of its failed checks."""
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--out', required=True, help='folder for screenshots and scratch files')
    parser.add_argument('--scenario', action='append', choices=sorted(scenarios))
    for option in extra:
        parser.add_argument(option)
    args = parser.parse_args()
    args.exe, args.out = os.path.abspath(args.exe), os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    args.scratch = tempfile.mkdtemp(prefix='e2e-', dir=args.out)
    failed = []
    for name in args.scenario or list(scenarios):
        print('== %s' % name, flush=True)
        try:
            failed += ['%s: %s' % (name, n) for n in scenarios[name](args)]
        except Exception:
            traceback.print_exc()
            failed.append('%s broke off' % name)
    if failed:
        print('FAILED:\n  %s\nclient folders and Wine logs kept in %s' % ('\n  '.join(failed), args.scratch))
        return 1
    shutil.rmtree(args.scratch, ignore_errors=True)
    return 0
