"""quorvane.exe under Wine, scenarios as data: one session each, steps that act (ACTIONS) or check (Run.step_*)
what reaches the server, the screen and QUORVANE.INI.  run_e2e.py --exe EXE --out DIR [--scenario NAME ...]"""
import contextlib, os, socket, struct, subprocess, sys, threading, time  # noqa: E401

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *  # noqa: E402,F401,F403

W, H, DIALOG = WIDTH, HEIGHT, '^Quorvane! - inst\u00e4llningar$'
WAITING, TITLE, HELP, WHITE = (200, 200, 200), (255, 90, 40), (110, 110, 140), (255, 255, 255)
RED, GREEN, BLUE, WHITE5, YELLOW, CYAN, MAGENTA = (rgb555(*c) for c in (
    (31, 0, 0), (0, 31, 0), (0, 0, 31), (31, 31, 31), (31, 31, 0), (0, 31, 31), (31, 0, 31)))


def M(kind, layout, *values): return kind, struct.pack(layout, *values)
def K(vk, scan, down): return M(MSG_KEY, '<BHB', vk, scan, down)
def C(code): return M(MSG_CHAR, '<H', code)


def hello(name, key): return b'QV98\1\0' + struct.pack('<HHBIB', W, H, 30, 0, 1) + name.ljust(32, b'\0') + key.ljust(32, b'\0')


def test_pixel(x, y, width, height):   # block (0, 0) a checkerboard, (1, 0) stripes, the last magenta
    bx, by = x // 8, y // 8
    return (RED if (x + y) % 2 == 0 else BLUE) if (bx, by) == (0, 0) else (
        (GREEN if x % 2 == 0 else WHITE5) if (bx, by) == (1, 0) else MAGENTA
        if (bx, by) == ((width - 1) // 8, (height - 1) // 8) else YELLOW if (bx + by) % 2 == 0 else CYAN)


def test_picture(width, height):
    return blocks(width, height, lambda bx, by: raw(lambda k, r: test_pixel(bx * 8 + k, r, width, height))
                  if by == 0 and bx < 2 else fill(test_pixel(bx * 8, by * 8, width, height)))


# Screen predicates: shot -> '' when right, else what is wrong.
def region(left, top, right, bottom, colour, least=1, most=1 << 30):
    def problem(shot):
        n = shot.count(left, top, right, bottom, colour)
        return '' if least <= n <= most else '%d of %r in %r' % (n, colour, (left, top, right, bottom))
    return problem


def band(row):
    want = row is not None and (26, 118 + 26 * row, W - 26, 142 + 26 * row) or None
    return lambda shot: '' if shot.box(BAND) == want else 'band at %r' % (shot.box(BAND),)


def stats(shown): return lambda shot: '' if stats_shown(shot) == shown else 'statistics line %s' % (not shown)
def bar(shown): return region(6, 6, W - 6, 26, WHITE, 1000) if shown else region(6, 6, W - 6, 26, WHITE, 0, 0)


def picture(width, height, scale):
    samples = [(x, y) for y in range(8) for x in range(16)] + [
        (width - 1, height - 1), (width - 8, height - 8), (100, 100), (width // 2, 37), (width - 9, 3)]
    return lambda shot: next(('picture (%d, %d) is %r' % (x, y, got) for x, y in samples for d in range(scale * scale)
                              for got in [shot.at(x * scale + d % scale, y * scale + d // scale)]
                              if not near(got, rgb24(test_pixel(x, y, width, height)))), '')


ACTIONS = {'send': lambda run, kind, payload: run.conn.send(kind, payload), 'do': lambda run, action: action(run),
           'key': lambda run, *keys: run.display.key(*keys), 'xdo': lambda run, *args: run.display.xdo(*args) or time.sleep(0.1),
           'type': lambda run, text: run.display.xdo('type', '--delay', 40, text),
           'move': lambda run, x, y, *then: ACTIONS['xdo'](run, 'mousemove', *run.to_screen(x, y), *then),
           'shot': lambda run, name: run.shot().save(os.path.join(run.args.out, name))}


class Run(Session):
    """Step ('name', args...) is ACTIONS[name](run, *args) or run.step_name(*args)."""

    def play(self, steps):
        self.conn, self.mark = self.start(), 0
        for verb, *args in steps:
            (ACTIONS.get(verb) or getattr(Run, 'step_' + verb))(self, *args)

    def geometry(self, command, *args):
        out = dict(line.split('=') for line in self.display.xdo(command, '--shell', *args).split())
        return int(out['X']), int(out['Y'])

    def step_stream(self, pointer, kind=0):   # 1280 x 720; once a key comes back as a Key message
        self.conn.send(MSG_STREAM_SETUP, stream_setup(1280, 720))
        self.conn.send(MSG_STREAM_STATE, bytes([1, pointer, kind]))
        mark = self.conn.mark()
        self.check('streaming', wait_for(lambda: self.display.key('shift') or self.conn.wait(MSG_KEY, 0.5, mark),
                                         15, 0))
        self.settle()

    def settle(self):   # the mark after the last input message, once none came for 0.4 s
        wait_for(lambda: time.monotonic() - max([t for t, k, _ in self.conn.messages if k in INPUT] + [0]) > 0.4, 5)
        self.mark = self.conn.mark()

    def step_expect(self, name, want, kinds=None):
        """Exactly these messages of these kinds (of `want`, or input) since the last expect."""
        kinds, start = kinds or {k for k, _ in want} or INPUT, self.mark
        wait_for(lambda: len(self.conn.since(start, kinds)) >= len(want), 5)
        self.settle()
        got = self.conn.since(start, kinds)
        self.check(name, got == list(want), ' '.join('%d:%s' % (k, p.hex()) for k, p in got))

    def step_seen(self, name, message):
        kind, payload = message
        self.check(name, self.conn.wait(kind, 10, self.mark, lambda p: p == payload) is not None,
                   repr(self.conn.since(self.mark, (kind,))[-3:]))

    def step_screen(self, name, *predicates):
        problems = ['']
        problem = lambda: problems.__setitem__(0, '; '.join(filter(None, (p(self.shot()) for p in predicates))))  # noqa
        self.check(name, wait_for(lambda: problem() or not problems[0], 10, 0.1), problems[0])

    def step_check(self, name, condition, timeout=10): self.check(name, wait_for(lambda: condition(self), timeout, 0.1))

    def step_dialog(self, name, shown):   # shown, its host, port, name, key and frame-rate fields white; or gone
        self.step_check(name, lambda run: (run.dialog_fields() if shown else not run.display.find(DIALOG, 0)))
        if not shown:
            self.client.focus()

    def dialog_fields(self):
        window = self.display.find(DIALOG, 0)
        shot = window and Shot(self.display.shot().raw, self.geometry('getwindowgeometry', window))
        return shot and all(shot.count(l, t, r, b, WHITE, 2) > (r - l) * (b - t) * 0.4 for l, t, r, b in (
            (20, 32, 200, 46), (226, 32, 300, 46), (16, 80, 146, 94), (164, 80, 300, 94), (174, 128, 226, 142)))

    def step_reconnect(self, name, hello=lambda payload: True): self.conn, self.mark = self.reconnect(name, hello) or self.conn, 0
    def step_exit(self): self.check('the server sees the link closed', self.exit() and self.conn.wait_closed(10))


def settings(run): return open(os.path.join(run.client.folder, 'QUORVANE.INI'), encoding='latin-1').read().split()


def real_server(run):   # on the test server's port; its menu a terminal whose shell keeps what it reads
    run.typed, config = (os.path.join(run.args.scratch, n) for n in ('typed.txt', 'server.toml'))
    with open(config, 'w') as f:
        f.write('[[app]]\nname = "Terminal"\nkind = "program"\ncommand = ["xterm", "-fa", "Monospace", "-fs", "14",'
                ' "-e", "sh", "-c", "cat > %s"]\n' % run.typed)
    run.server.stop_listening() or run.conn.close()
    run.real = subprocess.Popen([run.args.server, '--config', config, '--listen', '127.0.0.1:%d' % run.server.port,
                                 '--allow-root'],
                                stderr=open(os.path.join(run.args.scratch, 'server.log'), 'w'))


def typed(run): return os.path.exists(run.typed) and open(run.typed, encoding='utf-8').read()


def moonlight_server(run):   # the real server with a game stream entry of the test host, through a proxy that reads the PIN
    scratch, run.pins = run.args.scratch, []
    host_bin = os.path.join(os.path.dirname(os.path.dirname(run.args.server)), 'tests', 'moonlight', 'fake_host')
    run.host = subprocess.Popen([host_bin], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    with open(os.path.join(scratch, 'server.toml'), 'w') as f:
        f.write('[[app]]\nname = "Spel"\nkind = "moonlight"\nhost = "127.0.0.1"\nport = %s\napp = "Desktop"\n'
                % run.host.stdout.readline().split()[1])
    run.real = subprocess.Popen([run.args.server, '--config', f.name, '--listen', '127.0.0.1:0', '--allow-root'],
                                stdout=subprocess.PIPE, stderr=open(os.path.join(scratch, 'server.log'), 'w'),
                                env=dict(os.environ, XDG_DATA_HOME=scratch))
    target = int(run.real.stdout.readline())
    run.server.stop_listening() or run.conn.close()
    listener = socket.create_server(('127.0.0.1', run.server.port))

    def pipe(source, sink, sniff, buf=b''):
        with contextlib.suppress(OSError):
            while data := source.recv(1 << 16):
                sink.sendall(data)
                buf += data if sniff else b''
                while len(buf) >= 5 and len(buf) >= 5 + struct.unpack('<I', buf[:4])[0]:
                    n, kind = struct.unpack('<IB', buf[:5])
                    kind == MSG_SERVER_TEXT and buf[5:6] == b'\x04' and run.pins.append(buf[6:5 + n].decode())
                    buf = buf[5 + n:]

    def accept():
        client = listener.accept()[0]
        real = socket.create_connection(('127.0.0.1', target))
        for args in ((client, real, False), (real, client, True)):
            threading.Thread(target=pipe, args=args, daemon=True).start()
    threading.Thread(target=accept, daemon=True).start()


def type_pin(run): run.host.stdin.write('pin %s\n' % run.pins[-1]) and run.host.stdin.flush()


def host_picture(shot):   # one of the test host's pure colours, over the whole window
    got = {shot.at(x, y) for x, y in ((W // 2, H // 2), (5, 5), (W - 5, H - 5))}
    pure = len(got) == 1 and all(v <= 24 or v >= 231 for v in next(iter(got))) and max(next(iter(got))) >= 231
    return '' if pure else 'not the host\'s picture: %r' % got


MENU = [(7, 0, 'Anteckningar'), (300, 1, 'Hela sk\u00e4rmen'), (0xBEEF, 3, 'Webbl\u00e4sare')]
HALF, NO_STATUS, WAITS = picture(W // 2, H // 2, 2), region(0, 0, W, H, STATUS, 0, 0), region(40, 120, 300, 140, WAITING, 40)
SCENARIOS = {   # name: (keyboard layout, steps)
    # The title screen and its menu, the streamed picture, losing the server.
    'title_stream': (None, [
        ('check', 'Hello first: QV98 1 0, 640 x 480, 30 fps, no sound, mono, name, key; the window title',
         lambda run: run.conn.since(0)[0] == (MSG_HELLO, hello(b'E2E', b'hemlig'))
         and run.client.title() == 'Quorvane! 1.0.0'),
        ('screen', 'title screen: title, waiting text, help line; no status, no menu', region(30, 22, 330, 72, TITLE, 150),
         WAITS, region(40, H - 38, W, H - 16, HELP, 80), NO_STATUS, band(None)), ('send', MSG_APP_LIST, app_list(MENU)),
        ('screen', 'menu: band on row 0 at (26, 118)-(614, 142), names in white, no waiting text',
         band(0), region(40, 146, 300, 168, WHITE, 30), region(40, 120, 300, 140, WAITING, 0, 0)),
        ('shot', 'e2e_title_menu.png'), ('key', 'Down'), ('screen', 'Down moves the band to row 1', band(1)),
        ('key', 'Up', 'Up'), ('screen', 'Up twice: back on row 0, not above', band(0)),
        ('move', 320, 300, 'click', 5), ('screen', 'the wheel moves the band down', band(1)),
        ('key', 'Return'), ('seen', 'Enter sends LaunchApp 300', M(MSG_LAUNCH_APP, '<H', 300)),
        ('move', 200, 180, 'click', 1), ('screen', 'a click on row 2 selects it', band(2)),
        ('move', 200, 180, 'click', 1), ('seen', 'a second click starts it', M(MSG_LAUNCH_APP, '<H', 0xBEEF)),
        ('key', 'F9'), ('seen', 'F9 sends an empty MenuRequest', (MSG_MENU_REQUEST, b'')),
        ('send', MSG_SERVER_TEXT, b'\x03Testprogram'),
        ('check', 'ServerText 3 sets the title', lambda run: run.client.title() == 'Quorvane! - Testprogram'),
        ('send', MSG_STREAM_SETUP, stream_setup(W, H)), ('send', MSG_STREAM_STATE, bytes([1, 1, 0])),
        ('send', MSG_VIDEO_FRAME, video_frame(1000, W, H, test_picture(W, H))),
        ('seen', 'FrameAck 1000', M(MSG_FRAME_ACK, '<I', 1000)),
        ('screen', 'the frame shown 1:1, pixel-exact, no menu over it', picture(W, H, 1), band(None)),
        ('shot', 'e2e_stream.png'), ('send', MSG_VIDEO_FRAME, video_frame(1001, W // 2, H // 2, test_picture(W // 2, H // 2))),
        ('screen', 'a 320 x 240 frame is stretched: every pixel doubled', HALF),
        ('key', 'F11'), ('screen', 'F11 shows the statistics line', stats(True)),
        ('key', 'F11'), ('screen', 'F11 hides it again', stats(False), HALF), ('send', MSG_STREAM_STATE, bytes([0, 1, 0])),
        ('screen', 'StreamState 0 brings the menu back, row 2 still selected', band(2)),
        ('do', lambda run: run.server.stop_listening() or run.conn.close()),
        ('screen', 'the server gone: no menu, the loss on the status line', band(None),
         region(40, H - 64, W, H - 42, STATUS, 50)),
        ('do', lambda run: run.server.listen()), ('reconnect', 'the server back: a new link, a fresh Hello'),
        ('screen', 'connected again: status empty, waiting for the list', NO_STATUS, WAITS), ('exit',)]),
    # Keys and characters on a Swedish keyboard, the pointer, the locked mouse, the address bar, the settings dialog.
    'input': ('se', [
        ('stream', 1), ('key', 'a'), ('expect', '"a": Key press (0x41, scan 0x1E), Char U+0061, Key release',
                                      [K(0x41, 0x1E, 1), C(0x61), K(0x41, 0x1E, 0)]),
        ('key', 'aring', 'adiaeresis', 'odiaeresis', 'EuroSign'),
        ('expect', 'å, ä, ö and € (AltGr+E) arrive as Unicode characters', [C(c) for c in (229, 228, 246, 8364)]),
        ('key', 'Return'), ('expect', 'Return: Key press and release, no Char',
                            [K(0x0D, 0x1C, 1), K(0x0D, 0x1C, 0)], (MSG_KEY, MSG_CHAR)), ('key', 'F9', 'F11', 'F11', 'F7'),
        ('expect', 'F9 and F11 are commands, not keys; F7 is a key', [K(0x76, 0x41, 1), K(0x76, 0x41, 0)]),
        ('move', 320, 240), ('seen', '(320, 240) is MousePos (640, 360) of 1280 x 720', M(MSG_MOUSE_POS, '<HH', 640, 360)),
        ('move', 639, 479), ('seen', '(639, 479) is MousePos (1278, 718)', M(MSG_MOUSE_POS, '<HH', 1278, 718)),
        ('xdo', 'click', 1), ('xdo', 'click', 3), ('xdo', 'click', 4), ('xdo', 'click', 5),
        ('expect', 'left and right clicks: MouseButton; the wheel: MouseWheel +120, -120',
         [M(MSG_MOUSE_BUTTON, 'BB', *b) for b in ((1, 1), (1, 0), (2, 1), (2, 0))]
         + [M(MSG_MOUSE_WHEEL, '<h', d) for d in (120, -120)]), ('send', MSG_STREAM_STATE, bytes([1, 0, 0])),
        ('check', 'locked: the cursor held at the centre',
         lambda run: run.geometry('getmouselocation') == run.to_screen(320, 240)),
        ('xdo', 'mousemove_relative', '--', 3, -2), ('xdo', 'click', 5),
        ('expect', 'locked: 3 right and 2 up is MouseDelta (3, -2), the wheel -120; re-centring sends nothing',
         [M(MSG_MOUSE_DELTA, '<hh', 3, -2), M(MSG_MOUSE_WHEEL, '<h', -120)], (MSG_MOUSE_DELTA, MSG_MOUSE_POS, MSG_MOUSE_WHEEL)),
        ('send', MSG_SERVER_TEXT, b'\x01http://start.example/'), ('stream', 1, 3),
        ('key', 'F6'), ('screen', 'F6 while a web app streams opens the address bar', bar(True)),
        ('shot', 'e2e_address_bar.png'), ('type', 'abc'), ('key', 'Return'),
        ('seen', 'Enter sends WebAddress "abc"', (MSG_WEB_ADDRESS, b'\0abc')), ('screen', 'Enter closes the bar', bar(False)),
        ('key', 'F6'), ('screen', 'F6 opens it again', bar(True)),
        ('key', 'Escape'), ('screen', 'Esc closes it', bar(False)), ('key', 'x'),
        ('expect', 'nothing typed in the bar reaches the server, not the release of the Enter or Esc that '
         'closed it; then "x" does', [K(0x58, 0x2D, 1), C(0x78), K(0x58, 0x2D, 0)], (MSG_KEY, MSG_CHAR)),
        ('key', 'F10'), ('dialog', 'F10 opens the settings dialog, its fields drawn', True), ('shot', 'e2e_settings.png'),
        ('type', '10.9.9.9'), ('key', 'Escape'), ('dialog', 'Esc closes the dialog', False),
        ('check', 'cancelled: the link stays, the settings file keeps its host', lambda run: len(
            run.server.connections) == 1 and not run.conn.closed and 'host=127.0.0.1' in settings(run), 2),
        ('key', 'F10'), ('dialog', 'F10 opens it again', True), ('key', 'Tab', 'Tab'), ('type', 'Nytt'), ('key', 'Return'),
        ('reconnect', 'confirmed: the client connects again, the Hello with the new name',
         lambda payload: payload[16:21] == b'Nytt\0'),
        ('check', 'QUORVANE.INI holds the new name', lambda run: 'namn=Nytt' in settings(run)), ('exit',)]),
    # The real server: a real xterm in the client's own X server, typed into on a Swedish keyboard.
    'real_terminal': ('se', [
        ('do', real_server), ('screen', "the real server's menu", band(0)),
        ('key', 'Return'), ('screen', 'the terminal fills the picture', region(0, 0, W, H, WHITE, 200000)),
        ('type', 'Hej '), ('key', 'aring', 'adiaeresis', 'odiaeresis', 'EuroSign', 'Return'),
        ('check', 'the shell read exactly the typed line', lambda run: typed(run) == 'Hej \u00e5\u00e4\u00f6\u20ac\n'),
        ('screen', 'the text shows on the top line', region(0, 0, W, 24, (0, 0, 0), 100)), ('shot', 'e2e_real_terminal.png')]),
    # A game stream entry: the PIN on the title screen, typed into the test host, then the host's picture.
    'moonlight': (None, [
        ('do', moonlight_server), ('screen', "the real server's menu", band(0)), ('key', 'Return'),
        ('check', 'a PIN reaches the client', lambda run: run.pins and len(run.pins[-1]) == 4, 20),
        ('screen', 'the title screen shows the PIN under its prompt', region(40, H - 150, W, H - 128, (255, 220, 120), 50),
         region(40, H - 125, 240, H - 85, (255, 255, 0), 50)), ('shot', 'e2e_moonlight_pin.png'), ('do', type_pin),
        ('screen', "the PIN typed into the host: the host's picture", host_picture), ('shot', 'e2e_moonlight_stream.png')]),
}


def play(layout, steps, args):
    run = Run(args, layout=layout)
    try:
        run.play(steps)
    finally:
        for p in (getattr(run, 'real', None), getattr(run, 'host', None)):
            p and (p.kill(), p.wait())
        run.close()
    return run.failed


if __name__ == '__main__':
    sys.exit(main({name: (lambda args, spec=spec: play(*spec, args)) for name, spec in SCENARIOS.items()}))
