"""End-to-end harness: the real quorvane.exe under Wine on a virtual X screen,
talking to a fake server on 127.0.0.1.

Pieces:
  Display       an Xvfb screen (it picks its own free display number), with
                screenshots (`import -window root ppm:-`) and xdotool input.
  FakeServer    listens on 127.0.0.1, accepts the client, reads its framed
                messages on a thread and sends server messages.
  Client        a scratch folder with a copy of the exe and its QUORVANE.INI,
                the Wine process, and its main window.
  Checks        named checks that are recorded, printed and counted; a
                scenario goes on after a failed check where that makes sense.

Every wait is for a condition with a time limit; nothing sleeps for long.
Python 3 standard library only.
"""

import argparse
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import traceback
import zlib

# --- Protocol -----------------------------------------------------------

MSG_HELLO, MSG_KEY, MSG_CHAR = 64, 65, 66
MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL = 67, 68, 69, 70
MSG_GAMEPAD, MSG_LAUNCH_APP, MSG_WEB_ADDRESS, MSG_MENU_REQUEST = 71, 72, 73, 74
MSG_PING, MSG_FRAME_ACK = 75, 76

MSG_STREAM_SETUP, MSG_APP_LIST, MSG_VIDEO_FRAME, MSG_AUDIO_DATA = 1, 2, 3, 4
MSG_STREAM_STATE, MSG_SERVER_TEXT, MSG_PONG = 5, 6, 7

BLOCK_SKIP, BLOCK_FILL, BLOCK_RAW = 0, 1, 4


def rgb555(r, g, b):
    """RGB555 from 5-bit channels."""
    return (r << 10) | (g << 5) | b


def rgb555_to_24(value):
    """What a 5-bit colour becomes on a 24-bit screen (channels 0 and 31 are exact)."""
    def widen(c):
        return (c << 3) | (c >> 2)
    return (widen((value >> 10) & 31), widen((value >> 5) & 31), widen(value & 31))


def block_stream(width, height, block):
    """A block stream for width x height; block(bx, by) gives (type, payload bytes)."""
    bx_count = (width + 7) // 8
    by_count = (height + 7) // 8
    types = bytearray()
    payloads = bytearray()
    for by in range(by_count):
        for bx in range(bx_count):
            kind, payload = block(bx, by)
            types.append(kind)
            payloads += payload
    return bytes(types + payloads)


def fill_block(colour):
    return (BLOCK_FILL, struct.pack('<H', colour))


def raw_block(pixel):
    """pixel(k, r) gives the colour of column k, row r of the block."""
    return (BLOCK_RAW, b''.join(struct.pack('<H', pixel(k, r)) for r in range(8) for k in range(8)))


def video_frame(frame_id, width, height, stream):
    compressed = zlib.compress(stream)
    header = struct.pack('<IHHBI', frame_id, width, height, 0, len(stream)) + b'\0' * 4
    return header + compressed


def stream_setup(width, height, rate=0, channels=0, text=''):
    payload = bytearray(45)
    struct.pack_into('<HH', payload, 2, width, height)
    struct.pack_into('<iB', payload, 7, rate, channels)
    encoded = text.encode('utf-8')[:32]
    payload[13:13 + len(encoded)] = encoded
    return bytes(payload)


def app_list(entries):
    """entries: (id, kind, name) tuples."""
    payload = bytearray(struct.pack('<H', len(entries)))
    for app_id, kind, name in entries:
        encoded = name.encode('utf-8')
        payload += struct.pack('<HBB', app_id, kind, len(encoded)) + encoded
    return bytes(payload)


def server_text(slot, text):
    return bytes([slot]) + text.encode('utf-8')


# --- Waiting -------------------------------------------------------------

def wait_for(condition, timeout, interval=0.05):
    """Calls condition() until it returns a true value; returns that value,
    or None when the time limit passes first."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


# --- The fake server -----------------------------------------------------

class Connection:
    """One accepted client connection and the messages read from it."""

    def __init__(self, sock, answer_pings):
        self.sock = sock
        self.answer_pings = answer_pings
        self.messages = []          # (time, type, payload)
        self.closed = False
        self.cond = threading.Condition()
        self.send_lock = threading.Lock()
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _recv_exact(self, n):
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
                header = self._recv_exact(5)
                length, kind = struct.unpack('<IB', header)
                payload = self._recv_exact(length) if length else b''
                with self.cond:
                    self.messages.append((time.monotonic(), kind, payload))
                    self.cond.notify_all()
                if kind == MSG_PING and self.answer_pings:
                    self.send(MSG_PONG, payload[:4])
        except (EOFError, OSError):
            pass
        with self.cond:
            self.closed = True
            self.cond.notify_all()

    def send(self, kind, payload=b''):
        try:
            with self.send_lock:
                self.sock.sendall(struct.pack('<IB', len(payload), kind) + payload)
            return True
        except OSError:
            return False

    def of_type(self, kind):
        with self.cond:
            return [payload for _, kind_, payload in self.messages if kind_ == kind]

    def count(self, kind):
        return len(self.of_type(kind))

    def wait_message(self, kind, timeout, start=0, predicate=None):
        """Waits for the first message of `kind` at index >= start in the
        message list that satisfies predicate; returns (index, payload)."""
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                for i in range(start, len(self.messages)):
                    _, kind_, payload = self.messages[i]
                    if kind_ == kind and (predicate is None or predicate(payload)):
                        return i, payload
                left = deadline - time.monotonic()
                if left <= 0:
                    return None, None
                self.cond.wait(left)

    def mark(self):
        """Index of the next message to arrive."""
        with self.cond:
            return len(self.messages)

    def since(self, mark, kind=None):
        with self.cond:
            return [(t, k, p) for t, k, p in self.messages[mark:] if kind is None or k == kind]

    def wait_closed(self, timeout):
        with self.cond:
            return self.cond.wait_for(lambda: self.closed, timeout)

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


class FakeServer:
    """Listens on 127.0.0.1 (a free port, or a given one) and accepts clients."""

    def __init__(self, port=0, answer_pings=True):
        self.answer_pings = answer_pings
        self.connections = []
        self.cond = threading.Condition()
        self.listener = None
        self.port = port
        self.listen()

    def listen(self):
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(('127.0.0.1', self.port))
        listener.listen(4)
        self.port = listener.getsockname()[1]
        self.listener = listener
        threading.Thread(target=self._accept, args=(listener,), daemon=True).start()

    def stop_listening(self):
        listener, self.listener = self.listener, None
        if listener is not None:
            try:
                listener.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            listener.close()

    def _accept(self, listener):
        while True:
            try:
                sock, _ = listener.accept()
            except OSError:
                return
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            connection = Connection(sock, self.answer_pings)
            with self.cond:
                self.connections.append(connection)
                self.cond.notify_all()

    def wait_connection(self, timeout, index=0):
        """Waits for the index-th accepted connection (0 = the first)."""
        with self.cond:
            if self.cond.wait_for(lambda: len(self.connections) > index, timeout):
                return self.connections[index]
        return None

    def close(self):
        self.stop_listening()
        with self.cond:
            for connection in self.connections:
                connection.close()


# --- The screen --------------------------------------------------------------

class Screenshot:
    def __init__(self, data):
        # P6 <width> <height> <maxval> and raw RGB bytes.
        fields = []
        position = 0
        while len(fields) < 4:
            while data[position:position + 1].isspace():
                position += 1
            if data[position:position + 1] == b'#':
                position = data.index(b'\n', position) + 1
                continue
            end = position
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[position:end])
            position = end
        if fields[0] != b'P6' or fields[3] != b'255':
            raise ValueError('not an 8-bit binary PPM')
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[position + 1:]
        self.raw = data

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.pixels[i:i + 3])

    def count(self, left, top, right, bottom, match):
        """How many pixels of [left, right) x [top, bottom) satisfy match(rgb)."""
        n = 0
        left, top = max(left, 0), max(top, 0)
        right, bottom = min(right, self.width), min(bottom, self.height)
        for y in range(top, bottom):
            row = y * self.width * 3
            for x in range(left, right):
                i = row + x * 3
                if match((self.pixels[i], self.pixels[i + 1], self.pixels[i + 2])):
                    n += 1
        return n

    def bounding_box(self, colour):
        """Smallest (left, top, right, bottom) holding every pixel of colour, or None."""
        target = bytes(colour)
        stride = self.width * 3
        left = top = right = bottom = None
        for y in range(self.height):
            row = self.pixels[y * stride:(y + 1) * stride]
            first = row.find(target)
            while first >= 0 and first % 3 != 0:
                first = row.find(target, first + 1)
            if first < 0:
                continue
            last = row.rfind(target)
            while last >= 0 and last % 3 != 0:
                last = row.rfind(target, 0, last + 2)
            left = first // 3 if left is None else min(left, first // 3)
            right = last // 3 + 1 if right is None else max(right, last // 3 + 1)
            top = y if top is None else top
            bottom = y + 1
        if top is None:
            return None
        return (left, top, right, bottom)

    def region(self, left, top, right, bottom):
        """The bytes of a rectangle, for comparing two pictures of it."""
        out = bytearray()
        for y in range(top, bottom):
            start = (y * self.width + left) * 3
            out += self.pixels[start:start + (right - left) * 3]
        return bytes(out)

    def save_png(self, path):
        subprocess.run(['convert', 'ppm:-', path], input=self.raw, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def near(colour, tolerance=24):
    """A matcher for pixels within tolerance of colour in every channel."""
    def match(pixel):
        return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))
    return match


class Display:
    """An Xvfb screen of its own, found with -displayfd so parallel runs never clash."""

    def __init__(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', '%dx%dx24' % (width, height),
             '-nolisten', 'tcp', '-noreset'],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b''
        deadline = time.monotonic() + 20
        while not number.endswith(b'\n') and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            self.process.kill()
            raise RuntimeError('Xvfb did not start')
        self.name = ':' + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)

    def run(self, *args, timeout=10):
        result = subprocess.run(list(args), env=self.env, capture_output=True, timeout=timeout)
        return result.stdout.decode('latin-1').strip()

    def screenshot(self):
        data = subprocess.run(['import', '-display', self.name, '-window', 'root', '-depth', '8', 'ppm:-'],
                              capture_output=True, check=True, timeout=20).stdout
        return Screenshot(data)

    def key(self, *keys):
        self.run('xdotool', 'key', '--delay', '30', *keys)

    def click(self, x, y, button=1):
        self.run('xdotool', 'mousemove', str(x), str(y), 'sleep', '0.1', 'click', str(button))

    def move(self, x, y):
        self.run('xdotool', 'mousemove', str(x), str(y), 'sleep', '0.1')

    def close(self):
        self.process.terminate()
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()


# --- The client ---------------------------------------------------------------

def private_wine_prefix(base, folder):
    """A Wine prefix of one session's own that shares the base prefix's
    drive_c. Wine processes share one wineserver per prefix, and its desktop
    process takes its X display from the first program that starts it: a
    prefix shared with other runs (the unit tests run with no display at all)
    could hand the client a desktop without a screen. Only the registry files
    are copied; Wine replaces them by renaming when it saves."""
    os.makedirs(os.path.join(folder, 'dosdevices'))
    for name in os.listdir(base):
        path = os.path.join(base, name)
        if name.endswith('.reg') or (name.startswith('.') and os.path.isfile(path)):
            shutil.copy2(path, os.path.join(folder, name))
    os.symlink(os.path.join(base, 'drive_c'), os.path.join(folder, 'drive_c'))
    os.symlink('../drive_c', os.path.join(folder, 'dosdevices', 'c:'))
    os.symlink('/', os.path.join(folder, 'dosdevices', 'z:'))
    return folder


def wine_env(display, prefix=None):
    env = dict(display.env)
    env['WINEPREFIX'] = prefix or os.environ.get('WINEPREFIX', '/root/.wine-quorvane')
    env['WINEDEBUG'] = '-all'
    env['WINEDLLOVERRIDES'] = 'winemenubuilder.exe=d;mscoree,mshtml='
    return env


def write_ini(folder, values):
    """QUORVANE.INI with section Quorvane and the given keys, in Windows line ends."""
    lines = ['[Quorvane]'] + ['%s=%s' % (key, value) for key, value in values.items()]
    with open(os.path.join(folder, 'QUORVANE.INI'), 'wb') as f:
        f.write(('\r\n'.join(lines) + '\r\n').encode('latin-1'))


class Client:
    """quorvane.exe in a scratch folder of its own, started under Wine."""

    def __init__(self, exe, display, scratch_root, ini, arguments=(), prefix=None):
        self.display = display
        self.folder = tempfile.mkdtemp(prefix='client-', dir=scratch_root)
        self.exe = os.path.join(self.folder, 'quorvane.exe')
        shutil.copy(exe, self.exe)
        if ini is not None:
            write_ini(self.folder, ini)
        self.log = open(os.path.join(self.folder, 'wine.log'), 'wb')
        self.prefix = prefix
        self.process = subprocess.Popen(['wine', self.exe] + list(arguments), cwd=self.folder,
                                        env=wine_env(display, prefix), stdout=self.log,
                                        stderr=subprocess.STDOUT)
        self.window = None

    def find_window(self, timeout=30):
        """The X window of the main window, found by its title."""
        def search():
            out = self.display.run('xdotool', 'search', '--name', '^Quorvane!')
            ids = [line for line in out.split() if line.strip()]
            return ids[0] if ids else None
        self.window = wait_for(search, timeout, interval=0.2)
        return self.window

    def title(self):
        return self.display.run('xdotool', 'getwindowname', self.window)

    def geometry(self):
        """(x, y, width, height) of the X window."""
        out = self.display.run('xdotool', 'getwindowgeometry', '--shell', self.window)
        values = dict(line.split('=', 1) for line in out.splitlines() if '=' in line)
        return tuple(int(values[k]) for k in ('X', 'Y', 'WIDTH', 'HEIGHT'))

    def focus(self):
        if self.window:
            self.display.run('xdotool', 'windowfocus', self.window)

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def ini_text(self):
        with open(os.path.join(self.folder, 'QUORVANE.INI'), 'rb') as f:
            return f.read().decode('latin-1')

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                pass
        self.log.close()
        if self.prefix:
            # A private prefix's wineserver ends a few seconds after its last
            # program; wait for that (bounded) so the prefix can be removed.
            try:
                subprocess.run(['wineserver', '-w'],
                               env=dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG='-all'),
                               timeout=20, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            except subprocess.TimeoutExpired:
                pass


# --- Checks -------------------------------------------------------------------

class Checks:
    """Records named checks; a scenario's result is whether all passed."""

    def __init__(self, scenario):
        self.scenario = scenario
        self.results = []

    def check(self, name, passed, detail=''):
        passed = bool(passed)
        self.results.append((name, passed, detail))
        print('%s  %-60s %s' % ('PASS' if passed else 'FAIL', name, detail), flush=True)
        return passed

    def failed(self):
        return [name for name, passed, _ in self.results if not passed]


def run_scenarios(scenarios, scratch_prefix='e2e-', add_arguments=None):
    """The command line of a scenario script: --exe, --out and --scenario
    NAME (repeatable; all scenarios when none is named), plus whatever
    add_arguments(parser) adds. Runs each scenario with its own Checks; a
    scenario that breaks off counts as failed. Returns the exit code; the
    scratch folder is kept when anything failed."""
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--out', required=True, help='folder for screenshots and scratch files')
    parser.add_argument('--scenario', action='append', choices=sorted(scenarios))
    if add_arguments is not None:
        add_arguments(parser)
    args = parser.parse_args()
    # Wine wants an absolute prefix, and the client runs in its own folder.
    args.exe = os.path.abspath(args.exe)
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    args.scratch = tempfile.mkdtemp(prefix=scratch_prefix, dir=args.out)
    failed = []
    for name in args.scenario or list(scenarios):
        checks = Checks(name)
        print('== %s' % name, flush=True)
        started = time.monotonic()
        try:
            scenarios[name](args, checks)
        except Exception:  # a scenario that breaks off counts as failed
            traceback.print_exc()
            checks.check('%s ran to its end' % name, False)
        print('== %s: %d checks, %d failed, %.1f s' % (
            name, len(checks.results), len(checks.failed()), time.monotonic() - started), flush=True)
        failed += ['%s: %s' % (name, n) for n in checks.failed()]
    if failed:
        print('FAILED:\n  ' + '\n  '.join(failed))
        print('client folders and Wine logs kept in %s' % args.scratch)
        return 1
    shutil.rmtree(args.scratch, ignore_errors=True)
    return 0
