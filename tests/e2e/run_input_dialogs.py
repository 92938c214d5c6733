#!/usr/bin/env python3
"""End-to-end scenarios for input forwarding, the address bar and the settings
dialog: quorvane.exe under Wine on its own Xvfb screen, typed at with xdotool,
with the test playing the server and reading what arrives on the wire and in
QUORVANE.INI.

    run_input_dialogs.py --exe path/to/quorvane.exe --out build/folder [--scenario NAME ...]

Scenarios: keys, pointer, locked, address_bar, first_run, first_run_cancel,
settings_f10, settings_quit, settings_full_screen, settings_mode_change (all by
default). Screenshots of the dialog and the address bar
go into --out.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (  # noqa: E402
    MSG_APP_LIST, MSG_CHAR, MSG_GAMEPAD, MSG_HELLO, MSG_KEY, MSG_LAUNCH_APP, MSG_MENU_REQUEST,
    MSG_MOUSE_BUTTON, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_WHEEL, MSG_PING, MSG_SERVER_TEXT, MSG_STREAM_SETUP,
    MSG_STREAM_STATE, MSG_WEB_ADDRESS, Checks, Client, Display, FakeServer, app_list, near,
    private_wine_prefix, run_scenarios, server_text, stream_setup, wait_for, write_ini)

WIDTH, HEIGHT = 640, 480
REMOTE_WIDTH, REMOTE_HEIGHT = 1280, 720
BACKGROUND = (12, 10, 24)  # the title screen's background
SCREEN_WIDTH, SCREEN_HEIGHT = 1024, 768
DIALOG_TITLE = '^Quorvane! - inst\u00e4llningar$'
MAIN_TITLE = '^Quorvane! 1\\.0\\.0$'
INPUT_TYPES = (MSG_KEY, MSG_CHAR, MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_BUTTON, MSG_MOUSE_WHEEL)
INI_KEYS = ('host', 'port', 'bredd', 'hojd', 'fps', 'fullskarm', 'ljud', 'ljudfrekvens', 'stereo',
            'muskanslighet', 'joystick', 'namn', 'nyckel')


def base_ini(port, host='127.0.0.1'):
    return {'host': host, 'port': port, 'bredd': WIDTH, 'hojd': HEIGHT, 'fps': 30,
            'fullskarm': 0, 'ljud': 0, 'ljudfrekvens': 22050, 'stereo': 0,
            'muskanslighet': 100, 'joystick': 0, 'namn': 'E2E', 'nyckel': 'hemlig'}


def key_message(payload):
    """(vk, scan, down) of a Key payload."""
    return payload[0], struct.unpack('<H', payload[1:3])[0], payload[3]


def describe(messages):
    out = []
    for _, kind, payload in messages:
        if kind == MSG_KEY:
            out.append('Key(%#x,%#x,%d)' % key_message(payload))
        elif kind == MSG_CHAR:
            out.append('Char(U+%04X)' % struct.unpack('<H', payload)[0])
        else:
            out.append('%d:%s' % (kind, payload.hex()))
    return ' '.join(out)


def parse_ini(text):
    """The keys of section [Quorvane] as a dict (lower-case names)."""
    values, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith('['):
            section = line.strip('[]')
        elif '=' in line and section == 'Quorvane':
            key, value = line.split('=', 1)
            values[key.strip().lower()] = value.strip()
    return values


class DesktopClient:
    """quorvane.exe started inside a Wine virtual desktop of the screen's size,
    in a scratch folder of its own."""

    def __init__(self, exe, display, scratch_root, ini, prefix):
        self.folder = tempfile.mkdtemp(prefix='client-', dir=scratch_root)
        self.exe = os.path.join(self.folder, 'quorvane.exe')
        shutil.copy(exe, self.exe)
        write_ini(self.folder, ini)
        self.log = open(os.path.join(self.folder, 'wine.log'), 'wb')
        env = dict(display.env, WINEPREFIX=prefix, WINEDEBUG='-all',
                   WINEDLLOVERRIDES='winemenubuilder.exe=d;mscoree,mshtml=')
        self.process = subprocess.Popen(
            ['wine', 'explorer', '/desktop=QVTEST,%dx%d' % (SCREEN_WIDTH, SCREEN_HEIGHT), self.exe],
            cwd=self.folder, env=env, stdout=self.log, stderr=subprocess.STDOUT)

    def wait_exit(self, timeout):
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self.log.close()


class Session:
    """One Xvfb screen, one fake server, one Wine prefix and one client."""

    def __init__(self, args, checks, ini, arguments=(), start_client=True):
        self.args = args
        self.checks = checks
        self.display = Display(SCREEN_WIDTH, SCREEN_HEIGHT)
        # A Swedish keyboard, as the client's users have: å, ä and ö have
        # keys of their own and € is AltGr+E. (Keys that the keyboard lacks
        # are bound by xdotool for one press only, and Wine may read the
        # press before it has seen the binding.)
        self.display.run('setxkbmap', '-display', self.display.name, 'se')
        self.server = FakeServer()
        if ini is not None and ini.get('port') == 'SERVER':
            ini['port'] = self.server.port
        base = os.environ.get('WINEPREFIX', '/root/.wine-quorvane')
        self.prefix = private_wine_prefix(base, tempfile.mkdtemp(prefix='wine-', dir=args.scratch) + '/p')
        self.client = None
        if start_client:
            self.client = Client(args.exe, self.display, args.scratch, ini, arguments, self.prefix)
        self.main = None     # X window of the main window
        self.origin = None   # screen position of the main window's client area

    def close(self):
        if self.client is not None:
            self.client.stop()
        # This session's own wineserver and desktop process end with it.
        subprocess.run(['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=self.prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
        self.server.close()
        self.display.close()
        shutil.rmtree(os.path.dirname(self.prefix), ignore_errors=True)

    def find(self, pattern, timeout=30):
        def search():
            out = self.display.run('xdotool', 'search', '--onlyvisible', '--name', pattern)
            ids = out.split()
            return ids[0] if ids else None
        return wait_for(search, timeout, interval=0.2)

    def geometry(self, window):
        out = self.display.run('xdotool', 'getwindowgeometry', '--shell', window)
        values = dict(line.split('=', 1) for line in out.splitlines() if '=' in line)
        return tuple(int(values[k]) for k in ('X', 'Y', 'WIDTH', 'HEIGHT'))

    def mouse(self):
        out = self.display.run('xdotool', 'getmouselocation', '--shell')
        values = dict(line.split('=', 1) for line in out.splitlines() if '=' in line)
        return int(values['X']), int(values['Y'])

    def start_main(self, timeout=40):
        """Waits for the connection and the main window; returns the connection."""
        connection = self.server.wait_connection(timeout)
        if not self.checks.check('client connects to the server', connection is not None):
            raise RuntimeError('no connection')
        self.main = self.find(MAIN_TITLE, timeout)
        if not self.checks.check('main window appears', self.main is not None):
            raise RuntimeError('no window')
        self.client.window = self.main

        def client_area():
            box = self.display.screenshot().bounding_box(BACKGROUND)
            return box if box and box[2] - box[0] == WIDTH and box[3] - box[1] == HEIGHT else None
        box = wait_for(client_area, 20, interval=0.2)
        if not self.checks.check('title screen painted, client area 640 x 480', box is not None):
            raise RuntimeError('no title screen')
        self.origin = (box[0], box[1])
        self.display.run('xdotool', 'windowfocus', self.main)
        connection.wait_message(MSG_HELLO, 10)
        return connection

    def to_screen(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def stream(self, connection, pointer_mode, app_kind=0):
        """StreamSetup with a 1280 x 720 picture, then StreamState mode 1."""
        connection.send(MSG_STREAM_SETUP, stream_setup(REMOTE_WIDTH, REMOTE_HEIGHT, 0, 0, 'Startar'))
        connection.send(MSG_STREAM_STATE, bytes([1, pointer_mode, app_kind]))
        # The mode has taken effect once a key comes back as a Key message.
        mark = connection.mark()

        def echoed():
            self.display.key('shift')
            return connection.wait_message(MSG_KEY, 0.5, start=mark)[0] is not None
        return wait_for(echoed, 10, interval=0)

    def quit(self):
        self.display.key('F12')
        return self.client.wait_exit(15)


def press_special(display, keysym):
    """Types a key of the Swedish keyboard (å, ä, ö, and € with AltGr+E)."""
    display.key(keysym)


def input_since(connection, mark, types=INPUT_TYPES):
    return [m for m in connection.since(mark) if m[1] in types]


def wait_input(connection, mark, count, types=INPUT_TYPES, timeout=5):
    wait_for(lambda: len(input_since(connection, mark, types)) >= count, timeout)
    return input_since(connection, mark, types)


def settle_input(connection, quiet=0.3, timeout=3):
    """Waits (bounded) until no input message has arrived for `quiet`
    seconds, so that the releases of earlier key presses (the Shift presses
    that probe for stream mode) are in before a test takes its mark."""
    def settled():
        messages = input_since(connection, 0)
        return not messages or time.monotonic() - messages[-1][0] >= quiet
    wait_for(settled, timeout, interval=0.05)


def after_stray_shift(messages):
    """The messages from the first one that is not a Shift release: a
    release of the probing Shift may still come in after a test's mark on a
    busy machine."""
    i = 0
    while i < len(messages) and messages[i][1] == MSG_KEY and messages[i][2][0] == 0x10 \
            and messages[i][2][3] == 0:
        i += 1
    return messages[i:]


# --- Scenario: keys and characters -------------------------------------------------

def scenario_keys(args, checks):
    ini = base_ini('SERVER')
    ini['joystick'] = 1  # wanted, but Wine offers no joystick here
    session = Session(args, checks, ini)
    try:
        connection = session.start_main()
        display = session.display
        checks.check('stream mode 1 reached', session.stream(connection, 1))
        settle_input(connection)
        command_mark = connection.mark()

        mark = connection.mark()
        display.key('a')
        wait_for(lambda: len(after_stray_shift(input_since(connection, mark, (MSG_KEY, MSG_CHAR))))
                 >= 3, 3)
        got = after_stray_shift(input_since(connection, mark, (MSG_KEY, MSG_CHAR)))
        expected = [(MSG_KEY, bytes([0x41, 0x1E, 0, 1])), (MSG_CHAR, struct.pack('<H', 0x61)),
                    (MSG_KEY, bytes([0x41, 0x1E, 0, 0]))]
        checks.check('"a": Key press (0x41, scan 0x1E), Char U+0061, Key release, in order',
                     [(k, p) for _, k, p in got] == expected, describe(got))

        mark = connection.mark()
        display.key('shift+b')
        got = wait_input(connection, mark, 5, (MSG_KEY, MSG_CHAR))
        chars = [p for _, k, p in got if k == MSG_CHAR]
        checks.check('Shift+b sends Char U+0042 between the key messages',
                     chars == [struct.pack('<H', 0x42)] and got[0][1] == MSG_KEY
                     and got[-1][1] == MSG_KEY, describe(got))

        # A held key: one more press (and character) per auto-repeat, one
        # release.
        mark = connection.mark()
        display.run('xdotool', 'keydown', 'c')
        wait_for(lambda: len([1 for _, k, p in input_since(connection, mark, (MSG_KEY,)) if p[3] == 1]) >= 3, 5)
        display.run('xdotool', 'keyup', 'c')
        wait_for(lambda: any(p[3] == 0 for _, _, p in input_since(connection, mark, (MSG_KEY,))), 5)
        time.sleep(0.2)
        got = input_since(connection, mark, (MSG_KEY, MSG_CHAR))
        keys = [key_message(p) for _, k, p in got if k == MSG_KEY]
        chars = [p for _, k, p in got if k == MSG_CHAR]
        presses = [k for k in keys if k[2] == 1]
        checks.check('held "c": a Key press and a Char per auto-repeat, one release at the end',
                     len(presses) >= 3 and all(k[0] == 0x43 for k in keys) and keys[-1][2] == 0
                     and [k[2] for k in keys].count(0) == 1 and chars == [b'c\x00'] * len(presses),
                     '%d presses, %d chars, %d releases' % (len(presses), len(chars), len(keys) - len(presses)))

        for name, vk in (('Return', 0x0D), ('Tab', 0x09), ('BackSpace', 0x08), ('Escape', 0x1B)):
            mark = connection.mark()
            display.key(name)
            got = wait_input(connection, mark, 2, (MSG_KEY, MSG_CHAR))
            time.sleep(0.2)  # a stray Char would follow right behind the press
            got = input_since(connection, mark, (MSG_KEY, MSG_CHAR))
            keys = [key_message(p) for _, k, p in got if k == MSG_KEY]
            checks.check('%s: Key press and release (vk %#x), no Char' % (name, vk),
                         [k for _, k, _ in got] == [MSG_KEY, MSG_KEY]
                         and [(v, d) for v, _, d in keys] == [(vk, 1), (vk, 0)], describe(got))

        mark = connection.mark()
        display.key('ctrl+BackSpace')
        got = wait_input(connection, mark, 4, (MSG_KEY, MSG_CHAR))
        time.sleep(0.2)
        got = input_since(connection, mark, (MSG_KEY, MSG_CHAR))
        checks.check('Ctrl+Backspace (character 0x7F) sends Key messages only',
                     len(got) >= 4 and all(k == MSG_KEY for _, k, _ in got), describe(got))

        mark = connection.mark()
        display.key('Control_R')
        wait_input(connection, mark, 2, (MSG_KEY,))
        time.sleep(0.2)
        got = input_since(connection, mark, (MSG_KEY,))
        keys = [key_message(p) for _, _, p in got]
        checks.check('right Ctrl: vk 0x11 with the extended scan code 0x11D, press and release',
                     (0x11, 0x11D, 1) in keys and (0x11, 0x11D, 0) in keys
                     and keys.index((0x11, 0x11D, 1)) < keys.index((0x11, 0x11D, 0)), describe(got))

        # Characters beyond ASCII arrive as their Unicode code points:
        # Wine hands the ANSI window Windows-1252 codes (0xE5, 0x80), the
        # client turns them into U+00E5 and U+20AC.
        for keysym, code in (('aring', 0x00E5), ('adiaeresis', 0x00E4), ('odiaeresis', 0x00F6),
                             ('EuroSign', 0x20AC)):
            mark = connection.mark()
            press_special(display, keysym)
            got = wait_input(connection, mark, 3, (MSG_KEY, MSG_CHAR))
            chars = [struct.unpack('<H', p)[0] for _, k, p in got if k == MSG_CHAR]
            checks.check('%s arrives as Char U+%04X' % (keysym, code), chars == [code], describe(got))

        # The command keys: never a Key message, neither press nor release.
        mark = connection.mark()
        display.key('F8', 'F8', 'F11', 'F11', 'F9')
        connection.wait_message(MSG_MENU_REQUEST, 5, start=mark)
        display.key('F7')  # an ordinary function key as a marker behind them
        got = wait_input(connection, mark, 2, (MSG_KEY,))
        keys = [key_message(p) for _, _, p in got]
        checks.check('F8, F9, F11 send no Key press or release; F7 goes to the server',
                     [(v, d) for v, _, d in keys] == [(0x76, 1), (0x76, 0)], describe(got))

        # Alt+F4 reaches the server as keys and leaves the window open.
        mark = connection.mark()
        display.key('alt+F4')
        got = wait_input(connection, mark, 4, (MSG_KEY,))
        vks = [(v, d) for v, _, d in (key_message(p) for _, _, p in got)]
        checks.check('Alt+F4 is forwarded as keys (Alt 0x12, F4 0x73) and the window stays',
                     (0x12, 1) in vks and (0x73, 1) in vks and (0x73, 0) in vks
                     and session.client.process.poll() is None, describe(got))

        checks.check('joystick wanted but none answers: no Gamepad message while streaming',
                     connection.count(MSG_GAMEPAD) == 0)
        code = session.quit()
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
        commands = [key_message(p) for _, _, p in connection.since(command_mark, MSG_KEY)]
        checks.check('no Key message for F8-F12 in the whole session',
                     all(not 0x77 <= v <= 0x7B for v, _, _ in commands),
                     repr([c for c in commands if 0x77 <= c[0] <= 0x7B]))
    finally:
        session.close()


# --- Scenario: absolute pointer and the wheel -----------------------------------------

def scenario_pointer(args, checks):
    session = Session(args, checks, base_ini('SERVER'))
    try:
        connection = session.start_main()
        display = session.display
        connection.send(MSG_APP_LIST, app_list([(7, 0, 'Ett'), (8, 0, 'Tv\u00e5'), (9, 0, 'Tre')]))

        # The wheel in the menu moves the selection and sends no MouseWheel.
        display.move(*session.to_screen(320, 300))
        mark = connection.mark()
        display.run('xdotool', 'click', '5')
        time.sleep(0.3)
        display.key('Return')
        _, launch = connection.wait_message(MSG_LAUNCH_APP, 5, start=mark)
        checks.check('menu: one wheel notch down then Enter starts row 1 (id 8)',
                     launch == struct.pack('<H', 8), repr(launch))
        checks.check('menu: the wheel sends no MouseWheel',
                     not connection.since(mark, MSG_MOUSE_WHEEL))

        checks.check('stream mode 1 reached', session.stream(connection, 1))
        mark = connection.mark()
        display.move(*session.to_screen(320, 240))
        _, pos = connection.wait_message(MSG_MOUSE_POS, 5, start=mark,
                                         predicate=lambda p: p == struct.pack('<HH', 640, 360))
        checks.check('client (320, 240) of 640 x 480 arrives as MousePos (640, 360) of 1280 x 720',
                     pos is not None, describe(connection.since(mark, MSG_MOUSE_POS)[-3:]))
        mark = connection.mark()
        display.move(*session.to_screen(639, 479))
        _, pos = connection.wait_message(MSG_MOUSE_POS, 5, start=mark,
                                         predicate=lambda p: p == struct.pack('<HH', 1278, 718))
        checks.check('client (639, 479) arrives as MousePos (1278, 718)', pos is not None,
                     describe(connection.since(mark, MSG_MOUSE_POS)[-3:]))

        display.move(*session.to_screen(10, 10))
        time.sleep(0.3)
        mark = connection.mark()
        display.run('xdotool', 'mousedown', '1')
        got = wait_input(connection, mark, 2, (MSG_MOUSE_POS, MSG_MOUSE_BUTTON))
        checks.check('left press at (10, 10): MousePos (20, 15) first, then MouseButton (1, 1)',
                     [(k, p) for _, k, p in got[:2]]
                     == [(MSG_MOUSE_POS, struct.pack('<HH', 20, 15)), (MSG_MOUSE_BUTTON, bytes([1, 1]))],
                     describe(got))
        # A drag beyond the window stays captured and is clamped.
        mark = connection.mark()
        display.move(*session.to_screen(-5, 500))
        _, pos = connection.wait_message(MSG_MOUSE_POS, 5, start=mark,
                                         predicate=lambda p: p == struct.pack('<HH', 0, 719))
        checks.check('captured drag to (-5, 500) arrives clamped as MousePos (0, 719)',
                     pos is not None, describe(connection.since(mark, MSG_MOUSE_POS)[-3:]))
        display.move(*session.to_screen(10, 10))
        time.sleep(0.3)
        mark = connection.mark()
        display.run('xdotool', 'mouseup', '1')
        got = wait_input(connection, mark, 1, (MSG_MOUSE_POS, MSG_MOUSE_BUTTON))
        time.sleep(0.2)
        got = input_since(connection, mark, (MSG_MOUSE_POS, MSG_MOUSE_BUTTON))
        checks.check('release sends MouseButton (1, 0) only',
                     [(k, p) for _, k, p in got] == [(MSG_MOUSE_BUTTON, bytes([1, 0]))], describe(got))

        mark = connection.mark()
        display.run('xdotool', 'click', '3')
        got = wait_input(connection, mark, 3, (MSG_MOUSE_BUTTON,))
        checks.check('right click: MouseButton (2, 1) and (2, 0)',
                     [p for _, _, p in got] == [bytes([2, 1]), bytes([2, 0])], describe(got))

        mark = connection.mark()
        display.run('xdotool', 'click', '4')
        display.run('xdotool', 'click', '5')
        got = wait_input(connection, mark, 2, (MSG_MOUSE_WHEEL,))
        checks.check('streaming: wheel away sends MouseWheel +120, towards -120',
                     [struct.unpack('<h', p)[0] for _, _, p in got] == [120, -120], describe(got))
        code = session.quit()
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


# --- Scenario: locked mouse ---------------------------------------------------------

def scenario_locked(args, checks):
    session = Session(args, checks, base_ini('SERVER'))
    try:
        connection = session.start_main()
        display = session.display
        display.move(*session.to_screen(100, 100))
        checks.check('stream mode 1 reached (locked mouse)', session.stream(connection, 0))
        centre = session.to_screen(WIDTH // 2, HEIGHT // 2)
        checks.check('the lock puts the cursor at the centre of the client area',
                     wait_for(lambda: session.mouse() == centre, 5), '%r, want %r' % (session.mouse(), centre))

        mark = connection.mark()
        display.run('xdotool', 'mousemove_relative', '--', '3', '-2')
        got = wait_input(connection, mark, 1, (MSG_MOUSE_DELTA, MSG_MOUSE_POS))
        checks.check('a move 3 right and 2 up sends MouseDelta (3, -2)',
                     [(k, p) for _, k, p in got[:1]] == [(MSG_MOUSE_DELTA, struct.pack('<hh', 3, -2))],
                     describe(got))
        checks.check('the cursor is put back at the centre',
                     wait_for(lambda: session.mouse() == centre, 5), '%r' % (session.mouse(),))
        time.sleep(0.3)
        got = input_since(connection, mark, (MSG_MOUSE_DELTA, MSG_MOUSE_POS))
        checks.check('the re-centring itself sends nothing (one MouseDelta only, no MousePos)',
                     len(got) == 1, describe(got))

        mark = connection.mark()
        display.run('xdotool', 'mousemove_relative', '--', '-40', '25')
        got = wait_input(connection, mark, 1, (MSG_MOUSE_DELTA,))
        total = [sum(v) for v in zip(*(struct.unpack('<hh', p) for _, _, p in got))] if got else []
        checks.check('a larger move arrives as deltas adding up to (-40, 25)',
                     wait_for(lambda: [sum(v) for v in zip(*(struct.unpack('<hh', p) for _, _, p in
                                                             input_since(connection, mark, (MSG_MOUSE_DELTA,))))]
                              == [-40, 25], 3), repr(total))
        mark = connection.mark()
        display.run('xdotool', 'click', '1')
        got = wait_input(connection, mark, 2, (MSG_MOUSE_BUTTON, MSG_MOUSE_POS))
        checks.check('locked click: MouseButton (1, 1), (1, 0) without MousePos',
                     [(k, p) for _, k, p in got] == [(MSG_MOUSE_BUTTON, bytes([1, 1])),
                                                     (MSG_MOUSE_BUTTON, bytes([1, 0]))], describe(got))
        mark = connection.mark()
        display.run('xdotool', 'click', '5')
        got = wait_input(connection, mark, 1, (MSG_MOUSE_WHEEL,))
        checks.check('locked: the wheel sends MouseWheel -120',
                     [p for _, _, p in got] == [struct.pack('<h', -120)], describe(got))

        # F10 frees the mouse for the dialog; after the dialog the lock
        # comes back by itself.
        display.key('F10')
        dialog = session.find(DIALOG_TITLE, 10)
        checks.check('locked: F10 opens the dialog', dialog is not None)
        mark = connection.mark()
        free = session.to_screen(30, 400)
        display.move(*free)
        time.sleep(0.3)
        checks.check('locked: with the dialog up the cursor is free and sends no MouseDelta',
                     session.mouse() == free and not connection.since(mark, MSG_MOUSE_DELTA),
                     '%r %s' % (session.mouse(), describe(connection.since(mark, MSG_MOUSE_DELTA))))
        display.key('Escape')
        checks.check('locked: after the dialog the cursor is held at the centre again',
                     wait_for(lambda: session.mouse() == centre, 5), repr(session.mouse()))

        # F8: the absolute pointer; the cursor is free and positions flow.
        display.key('F8')
        mark = connection.mark()
        time.sleep(0.3)
        display.move(*session.to_screen(160, 120))
        _, pos = connection.wait_message(MSG_MOUSE_POS, 5, start=mark,
                                         predicate=lambda p: p == struct.pack('<HH', 320, 180))
        checks.check('after F8 the pointer is free: (160, 120) sends MousePos (320, 180)',
                     pos is not None and session.mouse() == session.to_screen(160, 120),
                     describe(connection.since(mark)[-3:]))
        display.key('F8')
        checks.check('F8 again locks and centres the cursor',
                     wait_for(lambda: session.mouse() == centre, 5), '%r' % (session.mouse(),))
        code = session.quit()
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


# --- Scenario: the address bar --------------------------------------------------------

def bar_pixels(session):
    """How many white pixels lie inside the bar's place (4, 4)-(636, 28)."""
    shot = session.display.screenshot()
    ox, oy = session.origin
    return shot.count(ox + 6, oy + 6, ox + WIDTH - 6, oy + 26, near((255, 255, 255), 4)), shot


def scenario_address_bar(args, checks):
    session = Session(args, checks, base_ini('SERVER'))
    try:
        connection = session.start_main()
        display = session.display
        connection.send(MSG_SERVER_TEXT, server_text(1, 'http://start.example/'))
        checks.check('stream mode 1 with a web browser reached', session.stream(connection, 1, 3))
        checks.check('no bar before F6', bar_pixels(session)[0] == 0)

        mark = connection.mark()
        display.key('F6')
        opened = wait_for(lambda: bar_pixels(session)[0] > 1000, 5)
        white, shot = bar_pixels(session)
        shot.save_png(os.path.join(args.out, 'e2e_address_bar.png'))
        ox, oy = session.origin
        box = shot.bounding_box((255, 255, 255))
        checks.check('F6 opens the bar: its field inside (4, 4)-(636, 28)',
                     opened and box is not None and box[0] - ox >= 4 and box[1] - oy >= 4
                     and box[2] - ox <= WIDTH - 4 and box[3] - oy <= 28 and box[2] - ox > WIDTH - 12,
                     'white box %r relative to the client area' % ((
                         None if box is None else (box[0] - ox, box[1] - oy, box[2] - ox, box[3] - oy)),))
        # The pre-filled address is selected: a band of the selection colour.
        selected = shot.count(ox + 6, oy + 6, ox + 200, oy + 26, lambda p: p[2] > 100 and p[0] < 80)
        checks.check('the current address is shown selected', selected > 200, '%d pixels' % selected)
        checks.check('F6 is not forwarded', not connection.since(mark, MSG_KEY))

        display.run('xdotool', 'type', '--delay', '40', 'abc')
        time.sleep(0.3)
        checks.check('typing into the bar forwards no Key or Char',
                     not input_since(connection, mark, (MSG_KEY, MSG_CHAR)),
                     describe(input_since(connection, mark, (MSG_KEY, MSG_CHAR))))
        display.key('Return')
        _, address = connection.wait_message(MSG_WEB_ADDRESS, 5, start=mark)
        checks.check('Enter sends WebAddress 00 61 62 63', address == b'\x00abc',
                     None if address is None else address.hex())
        checks.check('Enter closes the bar', wait_for(lambda: bar_pixels(session)[0] == 0, 5))
        time.sleep(0.2)
        # The key is released after the bar has closed, so its release
        # reaches the main window like any other release; the press and the
        # character never leave the bar.
        got = input_since(connection, mark, (MSG_KEY, MSG_CHAR))
        checks.check('Enter in the bar is not forwarded (at most its later release)',
                     [(k, p) for _, k, p in got] in ([], [(MSG_KEY, bytes([0x0D, 0x1C, 0, 0]))]),
                     describe(got))

        mark = connection.mark()
        display.key('x')
        got = wait_input(connection, mark, 3, (MSG_KEY, MSG_CHAR))
        checks.check('after closing, keys reach the main window again',
                     [k for _, k, _ in got[:3]] == [MSG_KEY, MSG_CHAR, MSG_KEY], describe(got))

        # Reopened: the typed address is shown (and selected); Esc closes
        # without sending.
        mark = connection.mark()
        display.key('F6')
        checks.check('F6 opens the bar again', wait_for(lambda: bar_pixels(session)[0] > 1000, 5))
        _, shot = bar_pixels(session)
        shot.save_png(os.path.join(args.out, 'e2e_address_bar_abc.png'))
        display.run('xdotool', 'type', '--delay', '40', 'zz')
        display.key('Escape')
        checks.check('Esc closes the bar', wait_for(lambda: bar_pixels(session)[0] == 0, 5))
        time.sleep(0.3)
        got = input_since(connection, mark, (MSG_KEY, MSG_CHAR))
        checks.check('Esc sends nothing (no WebAddress; no key but Esc\'s later release)',
                     not connection.since(mark, MSG_WEB_ADDRESS)
                     and [(k, p) for _, k, p in got] in ([], [(MSG_KEY, bytes([0x1B, 0x01, 0, 0]))]),
                     describe(connection.since(mark)))

        # The text kept from the last Enter is the pre-filled text: Enter
        # right away sends abc again.
        mark = connection.mark()
        display.key('F6')
        wait_for(lambda: bar_pixels(session)[0] > 1000, 5)
        display.key('End')
        display.key('p')
        press_special(display, 'aring')
        display.key('Return')
        _, address = connection.wait_message(MSG_WEB_ADDRESS, 5, start=mark)
        checks.check('the bar keeps the last sent address: "abc" + "på" arrives as UTF-8',
                     address == b'\x00abcp\xc3\xa5', None if address is None else address.hex())
        wait_for(lambda: bar_pixels(session)[0] == 0, 5)
        mark = connection.mark()
        display.key('F6')
        wait_for(lambda: bar_pixels(session)[0] > 1000, 5)
        display.key('BackSpace')
        display.key('Return')
        _, address = connection.wait_message(MSG_WEB_ADDRESS, 5, start=mark)
        checks.check('an emptied field sends the single byte 00', address == b'\x00',
                     None if address is None else address.hex())

        # With the mouse locked, F6 frees the cursor at once; after Esc the
        # lock comes back by itself.
        connection.send(MSG_STREAM_STATE, bytes([1, 0, 3]))
        centre = session.to_screen(WIDTH // 2, HEIGHT // 2)
        checks.check('locked mouse with the browser: the cursor is held at the centre',
                     wait_for(lambda: session.mouse() == centre, 5), repr(session.mouse()))
        display.key('F6')
        checks.check('F6 opens the bar with the mouse locked', wait_for(lambda: bar_pixels(session)[0] > 1000, 5))
        mark = connection.mark()
        free = session.to_screen(100, 200)
        display.move(*free)
        time.sleep(0.3)
        checks.check('while the bar is open the cursor is free and no MouseDelta is sent',
                     session.mouse() == free and not connection.since(mark, MSG_MOUSE_DELTA),
                     '%r %s' % (session.mouse(), describe(connection.since(mark, MSG_MOUSE_DELTA))))
        display.key('Escape')
        checks.check('after Esc the mouse is locked again (cursor back at the centre)',
                     wait_for(lambda: session.mouse() == centre, 5), repr(session.mouse()))

        # With another kind of application F6 is a key.
        connection.send(MSG_STREAM_STATE, bytes([1, 1, 0]))
        time.sleep(0.3)
        mark = connection.mark()
        display.key('F6')
        got = wait_input(connection, mark, 2, (MSG_KEY,))
        checks.check('F6 while a program (kind 0) streams is forwarded as a key',
                     [(v, d) for v, _, d in (key_message(p) for _, _, p in got)] == [(0x75, 1), (0x75, 0)]
                     and bar_pixels(session)[0] == 0, describe(got))
        code = session.quit()
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


# --- Scenarios: the settings dialog ---------------------------------------------------

def dialog_client_area(session, window):
    """(x, y, width, height) of the dialog's client area on the screen."""
    return session.geometry(window)


def check_dialog_picture(session, checks, window, name, cancel_text):
    x, y, w, h = dialog_client_area(session, window)
    left, top = (SCREEN_WIDTH - 330) // 2, (SCREEN_HEIGHT - 290) // 2
    checks.check('dialog centred: outer corner at (%d, %d), 330 x 290' % (left, top),
                 1 <= x - left <= 8 and 16 <= y - top <= 40 and 314 <= w <= 328 and 250 <= h <= 280,
                 'client area at %r' % ((x, y, w, h),))
    shot = session.display.screenshot()
    shot.save_png(os.path.join(session.args.out, name))
    face = shot.at(x + 5, y + 5)
    checks.check('dialog face in the button-face grey', face[0] == face[1] == face[2] and face[0] >= 180,
                 repr(face))
    # The OK and cancel buttons at (140, 226) and (228, 226), 80 x 26: their
    # dark text lies inside them.
    dark = near((0, 0, 0), 140)  # the text is smoothed: black and greys
    checks.check('text inside the OK and %s buttons' % cancel_text,
                 shot.count(x + 150, y + 230, x + 210, y + 248, dark) > 10
                 and shot.count(x + 238, y + 230, x + 298, y + 248, dark) > 10)
    checks.check('two lines of help text at (12, 186)',
                 shot.count(x + 12, y + 186, x + 312, y + 201, dark) > 40
                 and shot.count(x + 12, y + 202, x + 312, y + 218, dark) > 40)
    # The edit fields are white with a sunken edge.
    white = near((255, 255, 255), 2)
    checks.check('host, port, name, key and frame-rate fields drawn white',
                 shot.count(x + 20, y + 32, x + 200, y + 46, white) > 1000
                 and shot.count(x + 226, y + 32, x + 300, y + 46, white) > 400
                 and shot.count(x + 16, y + 80, x + 146, y + 94, white) > 600
                 and shot.count(x + 164, y + 80, x + 300, y + 94, white) > 600
                 and shot.count(x + 174, y + 128, x + 226, y + 142, white) > 300)
    return shot


def scenario_first_run(args, checks):
    """No host known: the dialog opens, Tab goes through every field in order,
    Enter (with the focus on the cancel button) confirms, the file holds all
    thirteen keys and the client connects to the typed host."""
    ini = base_ini('SERVER', host='')
    ini.update({'fullskarm': 1, 'ljud': 0, 'namn': 'Gammal', 'nyckel': 'gammal', 'muskanslighet': 77,
                'joystick': 0, 'ljudfrekvens': 11025, 'stereo': 1})
    session = Session(args, checks, ini)
    try:
        display = session.display
        dialog = session.find(DIALOG_TITLE, 30)
        if not checks.check('first start without a host opens "Quorvane! - inst\u00e4llningar"', dialog):
            return
        time.sleep(0.5)
        first = check_dialog_picture(session, checks, dialog, 'e2e_settings_first_run.png', 'Avsluta')
        checks.check('no connection while the dialog is up', not session.server.connections)

        # Focus starts in the host field; every Tab moves on and selects the
        # next field's text, so typing replaces it.
        display.run('xdotool', 'type', '--delay', '30', '127.0.0.1')
        display.key('Tab')
        display.run('xdotool', 'type', '--delay', '30', str(session.server.port))
        display.key('Tab')
        display.run('xdotool', 'type', '--delay', '30', 'Bertil')
        display.key('Tab')
        display.run('xdotool', 'type', '--delay', '30', 'nyckel7')
        display.key('Tab')
        display.key('Down')          # the resolution list: 640 x 480 -> 320 x 240
        display.key('Tab')
        display.run('xdotool', 'type', '--delay', '30', '25')
        display.key('Tab')
        display.key('space')         # Helskärm: 1 -> 0
        display.key('Tab')
        display.key('space')         # Ljud: 0 -> 1
        display.key('Tab')           # OK
        display.key('Tab')           # Avsluta
        time.sleep(0.3)
        shot = session.display.screenshot()
        shot.save_png(os.path.join(args.out, 'e2e_settings_filled.png'))
        # The focused button carries the dotted focus frame: nine Tabs from
        # the host field end on the cancel button, not on OK.
        x, y, _, _ = session.geometry(dialog)
        dark = near((0, 0, 0), 140)

        def inside(picture, left):
            return picture.count(x + left + 3, y + 229, x + left + 77, y + 249, dark)
        checks.check('after nine Tabs the focus frame is on the cancel button',
                     inside(shot, 228) - inside(first, 228) >= 40
                     and abs(inside(shot, 140) - inside(first, 140)) <= 10,
                     'cancel %d -> %d, OK %d -> %d' % (inside(first, 228), inside(shot, 228),
                                                       inside(first, 140), inside(shot, 140)))
        display.key('Return')        # Enter confirms wherever the focus is

        connection = session.server.wait_connection(30)
        checks.check('after Enter the client connects to the typed host and port', connection is not None)
        ini_path = os.path.join(session.client.folder, 'QUORVANE.INI')
        values = parse_ini(open(ini_path, 'rb').read().decode('latin-1'))
        checks.check('QUORVANE.INI holds all thirteen keys', set(INI_KEYS) <= set(values), repr(values))
        want = {'host': '127.0.0.1', 'port': str(session.server.port), 'namn': 'Bertil',
                'nyckel': 'nyckel7', 'bredd': '320', 'hojd': '240', 'fps': '25', 'fullskarm': '0',
                'ljud': '1', 'ljudfrekvens': '11025', 'stereo': '1', 'muskanslighet': '77',
                'joystick': '0'}
        checks.check('the typed values in Tab order: host, port, name, key, resolution, '
                     'frame rate, full screen, sound; the hidden keys kept',
                     all(values.get(k) == v for k, v in want.items()),
                     repr({k: values.get(k) for k in want}))
        if connection is not None:
            _, hello = connection.wait_message(MSG_HELLO, 10)
            checks.check('Hello carries the new values (320 x 240, 25 fps, sound 11025 Hz stereo, Bertil)',
                         hello is not None and struct.unpack('<HHBIB', hello[6:16]) == (320, 240, 25, 11025, 2)
                         and hello[16:22] == b'Bertil' and hello[48:55] == b'nyckel7',
                         None if hello is None else hello[:24].hex())
        main = session.find(MAIN_TITLE, 20)
        checks.check('the main window appears after the dialog', main is not None)
        checks.check('the dialog is gone', session.find(DIALOG_TITLE, 0.5) is None)
        if main:
            session.client.window = main
            display.run('xdotool', 'windowfocus', main)
            code = session.quit()
            checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


def scenario_first_run_cancel(args, checks):
    """No settings file at all: Esc in the dialog ends the program with exit
    code 0 and writes nothing; closing the window (Alt+F4) does the same."""
    for how in ('Escape', 'Alt+F4'):
        session = Session(args, checks, None)
        try:
            dialog = session.find(DIALOG_TITLE, 30)
            if not checks.check('%s: the dialog opens without a settings file' % how, dialog):
                continue
            time.sleep(0.3)
            if how == 'Escape':
                session.display.run('xdotool', 'type', '--delay', '30', '10.1.2.3')
                session.display.key('Escape')
            else:
                session.display.key('alt+F4')
            code = session.client.wait_exit(15)
            checks.check('%s ends the program with exit code 0' % how, code == 0, 'exit code %r' % code)
            checks.check('%s: no QUORVANE.INI written' % how,
                         not os.path.exists(os.path.join(session.client.folder, 'QUORVANE.INI')),
                         repr(os.listdir(session.client.folder)))
            checks.check('%s: no connection was made' % how, not session.server.connections)
        finally:
            session.close()


def scenario_settings_f10(args, checks):
    """F10 while connected: cancel changes nothing; confirming saves and the
    client connects again with a fresh Hello carrying the new values."""
    session = Session(args, checks, base_ini('SERVER'))
    try:
        connection = session.start_main()
        display = session.display
        checks.check('stream mode 1 reached', session.stream(connection, 1))
        ini_path = os.path.join(session.client.folder, 'QUORVANE.INI')
        before = open(ini_path, 'rb').read()

        mark = connection.mark()
        display.key('F10')
        dialog = session.find(DIALOG_TITLE, 10)
        checks.check('F10 opens the settings dialog', dialog is not None)
        if dialog is None:
            return
        time.sleep(0.3)
        check_dialog_picture(session, checks, dialog, 'e2e_settings_f10.png', 'Avbryt')
        ping_mark = connection.mark()
        checks.check('the main window keeps running behind the dialog (its timer sends Pings)',
                     wait_for(lambda: len(connection.since(ping_mark, MSG_PING)) >= 2, 4),
                     describe(connection.since(mark)))
        display.run('xdotool', 'type', '--delay', '30', '10.9.9.9')
        display.key('Escape')
        checks.check('Esc closes the dialog', wait_for(lambda: session.find(DIALOG_TITLE, 0.2) is None, 5))
        time.sleep(1.0)
        checks.check('cancel: the link stays, no reconnection, the file untouched',
                     not connection.closed and len(session.server.connections) == 1
                     and open(ini_path, 'rb').read() == before)
        # Only the release of Esc may follow, once the main window has the
        # keyboard again; nothing typed into the dialog is forwarded.
        presses = [p for _, _, p in connection.since(mark, MSG_KEY) if p[3] == 1]
        checks.check('cancel: no key pressed in the dialog reached the server', not presses,
                     describe(connection.since(mark, MSG_KEY)))

        display.run('xdotool', 'windowfocus', session.main)
        display.key('F10')
        dialog = session.find(DIALOG_TITLE, 10)
        checks.check('F10 opens the dialog again', dialog is not None)
        if dialog is None:
            return
        time.sleep(0.3)
        display.key('Tab', 'Tab')
        display.run('xdotool', 'type', '--delay', '30', 'Nytt')
        display.key('Tab')
        display.run('xdotool', 'type', '--delay', '30', 'k2')
        display.key('Tab', 'Tab')
        display.run('xdotool', 'type', '--delay', '30', '4')      # out of range: 30
        display.key('shift+Tab')     # back to the resolution list
        display.key('F4')            # and open it
        time.sleep(0.5)
        shot = display.screenshot()
        shot.save_png(os.path.join(args.out, 'e2e_settings_list_open.png'))
        x, y, w, h = session.geometry(dialog)
        # The dropped list reaches below the dialog's bottom edge? No: it lies
        # under the list's own box, from y = 146 of the client area.
        checks.check('F4 drops the resolution list open (white list under its box)',
                     shot.count(x + 14, y + 150, x + 150, y + 190, near((255, 255, 255), 2))
                     + shot.count(x + 14, y + 150, x + 150, y + 190, lambda p: p[2] > 150 and p[0] < 100)
                     > 2500)
        display.key('Return')        # Enter confirms also from the open list
        checks.check('confirming drops the link', connection.wait_closed(10))
        again = session.server.wait_connection(15, index=1)
        checks.check('the client connects again', again is not None)
        if again is not None:
            _, hello = again.wait_message(MSG_HELLO, 10)
            checks.check('a fresh Hello with the new name and key and fps 30',
                         hello is not None and again.since(0)[0][1] == MSG_HELLO
                         and hello[16:21] == b'Nytt\x00' and hello[48:51] == b'k2\x00' and hello[10] == 30,
                         None if hello is None else hello[:52].hex())
        values = parse_ini(open(ini_path, 'rb').read().decode('latin-1'))
        checks.check('the file holds the new name and key, and every key',
                     values.get('namn') == 'Nytt' and values.get('nyckel') == 'k2'
                     and values.get('fps') == '30' and set(INI_KEYS) <= set(values), repr(values))
        f10 = [p for _, _, p in connection.since(0, MSG_KEY) if p[0] == 0x79]
        checks.check('no Key message for F10, press or release', not f10, repr(f10))
        main = session.find(MAIN_TITLE, 10)
        checks.check('the main window is back', main is not None)
        if main:
            display.run('xdotool', 'windowfocus', main)
            code = session.quit()
            checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


def scenario_settings_quit(args, checks):
    """While the F10 dialog is up the main window keeps working: a second
    F10 opens no second dialog, and F12 there ends the program (the dialog
    gives the quit message back to the main loop) without saving."""
    session = Session(args, checks, base_ini('SERVER'))
    try:
        connection = session.start_main()
        display = session.display
        ini_path = os.path.join(session.client.folder, 'QUORVANE.INI')
        before = open(ini_path, 'rb').read()
        display.key('F10')
        dialog = session.find(DIALOG_TITLE, 10)
        checks.check('F10 opens the settings dialog', dialog is not None)
        display.run('xdotool', 'type', '--delay', '30', 'x')
        # A click on the part of the main window beside the dialog makes it
        # the active window with the keyboard.
        display.click(*session.to_screen(20, 300))
        time.sleep(0.3)
        display.key('F10')
        time.sleep(1.0)
        out = display.run('xdotool', 'search', '--onlyvisible', '--name', DIALOG_TITLE)
        checks.check('a second F10 on the main window opens no second dialog', len(out.split()) == 1, out)
        display.click(*session.to_screen(20, 300))
        time.sleep(0.3)
        display.key('F12')
        code = session.client.wait_exit(15)
        checks.check('F12 on the main window ends the program through the dialog, exit code 0',
                     code == 0, 'exit code %r' % code)
        checks.check('nothing saved', open(ini_path, 'rb').read() == before)
        checks.check('the server sees the connection closed', connection.wait_closed(5))
    finally:
        session.close()


def scenario_settings_full_screen(args, checks):
    """F10 in full screen: the dialog is shown on the desktop, and full
    screen returns after a cancel and after a confirmation."""
    ini = base_ini('SERVER')
    ini['fullskarm'] = 1
    session = Session(args, checks, ini)
    try:
        connection = session.server.wait_connection(40)
        checks.check('client connects to the server', connection is not None)
        main = session.find(MAIN_TITLE, 30)
        checks.check('main window appears', main is not None)
        session.main = main

        def full_screen():
            shot = session.display.screenshot()
            return shot.bounding_box(BACKGROUND) == (0, 0, shot.width, shot.height)
        checks.check('full screen: the title screen covers the whole screen', wait_for(full_screen, 20))
        for how in ('Escape', 'Return'):
            display = session.display
            display.run('xdotool', 'windowfocus', main)
            time.sleep(0.3)
            display.key('F10')
            dialog = session.find(DIALOG_TITLE, 10)
            checks.check('%s: F10 opens the dialog over the full-screen client' % how, dialog is not None)
            if dialog is None:
                return
            time.sleep(0.5)
            shot = display.screenshot()
            shot.save_png(os.path.join(args.out, 'e2e_settings_full_screen.png'))
            x, y, w, h = session.geometry(dialog)
            face = shot.at(x + 5, y + 5)
            checks.check('%s: the dialog is seen on top (its face at its place)' % how,
                         face[0] == face[1] == face[2] and face[0] >= 180, repr(face))
            display.key(how)
            checks.check('%s: the dialog closes' % how,
                         wait_for(lambda: session.find(DIALOG_TITLE, 0.2) is None, 5))
            checks.check('%s: full screen again afterwards' % how, wait_for(full_screen, 10))
        again = session.server.wait_connection(15, index=1)
        checks.check('the confirmation reconnects', again is not None)
        display.run('xdotool', 'windowfocus', main)
        time.sleep(0.3)
        code = session.quit()
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
    finally:
        session.close()


def scenario_settings_mode_change(args, checks):
    """F10 in full screen with a real change of the display mode: the client
    runs in a Wine virtual desktop, whose size follows the display mode that
    the program sets (Xvfb itself offers no other mode). While the dialog is
    up the desktop has its own mode and the main window is minimised; after
    a cancel and after a confirmation the mode is the client's again."""
    ini = base_ini('SERVER')
    ini['fullskarm'] = 1
    session = Session(args, checks, ini, start_client=False)
    display = session.display
    try:
        session.client = DesktopClient(args.exe, display, args.scratch, ini, session.prefix)
        def size_of(pattern):
            window = session.find(pattern, 0.5)
            return session.geometry(window)[2:] if window else None
        desktop = '^QVTEST - Wine desktop$'
        checks.check('full screen switches the display mode to 640 x 480',
                     wait_for(lambda: size_of(desktop) == (WIDTH, HEIGHT), 40), repr(size_of(desktop)))
        connection = session.server.wait_connection(20)
        checks.check('client connects to the server', connection is not None)
        for how in ('Escape', 'Return'):
            display.run('xdotool', 'windowfocus', session.find(desktop, 5))
            time.sleep(0.3)
            display.key('F10')
            dialog = session.find(DIALOG_TITLE, 10)
            checks.check('%s: F10 opens the dialog' % how, dialog is not None)
            checks.check('%s: the desktop has its own mode (1024 x 768) while the dialog is up' % how,
                         wait_for(lambda: size_of(desktop) == (SCREEN_WIDTH, SCREEN_HEIGHT), 5),
                         repr(size_of(desktop)))
            checks.check('%s: the main window is minimised meanwhile' % how,
                         wait_for(lambda: size_of(MAIN_TITLE) not in (None, (WIDTH, HEIGHT),
                                                                      (SCREEN_WIDTH, SCREEN_HEIGHT)), 5),
                         repr(size_of(MAIN_TITLE)))
            display.screenshot().save_png(os.path.join(args.out, 'e2e_settings_mode_change.png'))
            display.key(how)
            checks.check('%s: afterwards the mode is 640 x 480 again' % how,
                         wait_for(lambda: size_of(desktop) == (WIDTH, HEIGHT), 10), repr(size_of(desktop)))
            checks.check('%s: and the main window fills it' % how,
                         wait_for(lambda: size_of(MAIN_TITLE) == (WIDTH, HEIGHT), 10), repr(size_of(MAIN_TITLE)))
        checks.check('the confirmation reconnects', session.server.wait_connection(15, index=1) is not None)
        display.key('F12')
        checks.check('F12 ends the program', session.client.wait_exit(15) is not None)
    finally:
        session.close()


SCENARIOS = {
    'keys': scenario_keys,
    'pointer': scenario_pointer,
    'locked': scenario_locked,
    'address_bar': scenario_address_bar,
    'first_run': scenario_first_run,
    'first_run_cancel': scenario_first_run_cancel,
    'settings_f10': scenario_settings_f10,
    'settings_quit': scenario_settings_quit,
    'settings_full_screen': scenario_settings_full_screen,
    'settings_mode_change': scenario_settings_mode_change,
}


def main():
    return run_scenarios(SCENARIOS)


if __name__ == '__main__':
    sys.exit(main())
