#!/usr/bin/env python3
"""End-to-end scenarios for quorvane.exe under Wine: what a person sees on the
screen and what the server receives.

    run_e2e.py --exe path/to/quorvane.exe --out build/folder [--scenario NAME ...]

Scenarios: title_menu, stream, reconnect, command_line, full_screen (all by default).
Screenshots e2e_title_menu.png and e2e_stream.png go into --out.
"""

import os
import shutil
import struct
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (  # noqa: E402
    MSG_APP_LIST, MSG_FRAME_ACK, MSG_HELLO, MSG_LAUNCH_APP, MSG_MENU_REQUEST, MSG_PING,
    MSG_SERVER_TEXT, MSG_STREAM_SETUP, MSG_STREAM_STATE, MSG_VIDEO_FRAME, BLOCK_SKIP, Checks,
    Client, Display, FakeServer, app_list, block_stream, fill_block, near, raw_block, rgb555,
    private_wine_prefix, rgb555_to_24, server_text, stream_setup, video_frame, wait_for, run_scenarios)

WIDTH, HEIGHT = 640, 480
BACKGROUND = (12, 10, 24)
BAND = (170, 40, 20)
TITLE = (255, 90, 40)
SHADOW = (120, 20, 10)
TAG_LINE = (150, 150, 190)
WAITING = (200, 200, 200)
PIN_PROMPT = (255, 220, 120)
PIN = (255, 255, 0)
STATUS = (255, 200, 120)
HELP = (110, 110, 140)
LABEL_SELECTED = (255, 220, 200)
LABEL = (120, 120, 150)
WHITE = (255, 255, 255)

MENU = [(7, 0, 'Anteckningar'), (300, 1, 'Hela skärmen'), (0xBEEF, 3, 'Webbläsare')]


def base_ini(port):
    return {'host': '127.0.0.1', 'port': port, 'bredd': WIDTH, 'hojd': HEIGHT, 'fps': 30,
            'fullskarm': 0, 'ljud': 0, 'ljudfrekvens': 22050, 'stereo': 0,
            'muskanslighet': 100, 'joystick': 0, 'namn': 'E2E', 'nyckel': 'hemlig'}


class Session:
    """A display, a fake server and one client, torn down together."""

    def __init__(self, args, checks, ini_changes=None, arguments=()):
        self.args = args
        self.checks = checks
        self.display = Display()
        self.server = FakeServer()
        ini = base_ini(self.server.port)
        ini.update(ini_changes or {})
        base = os.environ.get('WINEPREFIX', '/root/.wine-quorvane')
        self.prefix_folder = tempfile.mkdtemp(prefix='wine-', dir=args.scratch)
        prefix = private_wine_prefix(base, os.path.join(self.prefix_folder, 'p'))
        self.client = Client(args.exe, self.display, args.scratch, ini, arguments, prefix)
        self.origin = None

    def close(self):
        self.client.stop()
        self.server.close()
        self.display.close()
        shutil.rmtree(self.prefix_folder, ignore_errors=True)

    # The client area: the bounding box of the title screen's background.
    def find_client_area(self, timeout=20):
        def box():
            shot = self.display.screenshot()
            found = shot.bounding_box(BACKGROUND)
            if found and found[2] - found[0] >= 100 and found[3] - found[1] >= 100:
                return found
            return None
        found = wait_for(box, timeout, interval=0.2)
        if found:
            self.origin = (found[0], found[1])
        return found

    def shot(self):
        return self.display.screenshot()

    def to_screen(self, x, y):
        return self.origin[0] + x, self.origin[1] + y

    def count(self, shot, left, top, right, bottom, colour, tolerance=24):
        ox, oy = self.origin
        return shot.count(ox + left, oy + top, ox + right, oy + bottom, near(colour, tolerance))

    def pixel(self, shot, x, y):
        return shot.at(self.origin[0] + x, self.origin[1] + y)

    def band_box(self, shot):
        box = shot.bounding_box(BAND)
        if box is None:
            return None
        ox, oy = self.origin
        return (box[0] - ox, box[1] - oy, box[2] - ox, box[3] - oy)

    def wait_band_row(self, row, timeout=5):
        expected = (26, 118 + 26 * row, WIDTH - 26, 142 + 26 * row)
        return wait_for(lambda: self.band_box(self.shot()) == expected, timeout, interval=0.1)

    def start(self, timeout=40):
        """Waits for the connection, the window and its title screen."""
        connection = self.server.wait_connection(timeout)
        if not self.checks.check('client connects to the server', connection is not None):
            raise RuntimeError('no connection')
        window = self.client.find_window(timeout)
        if not self.checks.check('main window appears', window is not None):
            raise RuntimeError('no window')
        if not self.checks.check('title screen is painted', self.find_client_area() is not None):
            raise RuntimeError('no title screen')
        self.client.focus()
        return connection


def check_hello(checks, connection, name='E2E', key='hemlig'):
    _, hello = connection.wait_message(MSG_HELLO, 10)
    if not checks.check('Hello arrives', hello is not None):
        return
    first = connection.since(0)[0][1]
    checks.check('Hello is the first message', first == MSG_HELLO, 'first type %d' % first)
    expected = bytearray(80)
    expected[0:4] = b'QV98'
    expected[4] = 1
    expected[5] = 0
    struct.pack_into('<HHBIB', expected, 6, WIDTH, HEIGHT, 30, 0, 1)
    expected[16:16 + len(name)] = name.encode()
    expected[48:48 + len(key)] = key.encode()
    checks.check('Hello bytes: QV98, 1, 0, 640x480, 30 fps, no sound, mono, name, key',
                 hello == bytes(expected), hello.hex())


# --- Scenario: title screen and menu -------------------------------------------

def scenario_title_menu(args, checks):
    session = Session(args, checks)
    try:
        connection = session.start()
        check_hello(checks, connection)
        client, display = session.client, session.display

        checks.check('window title is "Quorvane! 1.0.0"', client.title() == 'Quorvane! 1.0.0',
                     repr(client.title()))
        shot = session.shot()
        box = shot.bounding_box(BACKGROUND)
        checks.check('client area is exactly 640 x 480',
                     box is not None and (box[2] - box[0], box[3] - box[1]) == (WIDTH, HEIGHT),
                     repr(box))
        # The window's outer top-left corner sits at (40, 40): the client
        # area lies below and right of it by the frame and the caption. (With
        # no window manager on the virtual screen, the X window is the client
        # area itself.)
        ox, oy = session.origin
        checks.check('window outer top-left corner at (40, 40)',
                     1 <= ox - 40 <= 8 and 16 <= oy - 40 <= 40,
                     'client origin %r, X window %r' % (session.origin, client.geometry()))

        # Connected with an empty list: the waiting text at (40, 120).
        checks.check('waiting text at (40, 120)',
                     session.count(shot, 40, 120, 300, 140, WAITING, 8) > 40)
        checks.check('title at (30, 22) in orange with its shadow',
                     session.count(shot, 30, 22, 330, 72, TITLE, 8) > 150
                     and session.count(shot, 34, 26, 334, 76, SHADOW, 8) > 20
                     and session.count(shot, 0, 100, WIDTH, HEIGHT, TITLE, 8) == 0)
        checks.check('tag line at (34, 72)',
                     session.count(shot, 34, 72, 500, 94, TAG_LINE, 8) > 60
                     and session.count(shot, 0, 100, WIDTH, HEIGHT, TAG_LINE, 8) == 0)
        checks.check('help line at (40, H - 38)',
                     session.count(shot, 40, HEIGHT - 38, WIDTH, HEIGHT - 16, HELP, 8) > 80
                     and session.count(shot, 0, 100, WIDTH, HEIGHT - 40, HELP, 8) == 0)
        checks.check('status line empty after the connect',
                     session.count(shot, 0, 0, WIDTH, HEIGHT, STATUS, 8) == 0)
        checks.check('no menu band before the list', shot.bounding_box(BAND) is None)

        # The menu.
        connection.send(MSG_APP_LIST, app_list(MENU))
        checks.check('menu band at row 0 spans (26,118)-(614,142)', session.wait_band_row(0))
        shot = session.shot()
        checks.check('waiting text gone with the menu',
                     session.count(shot, 40, 120, 300, 140, WAITING, 8) == 0)
        for row in range(3):
            y = 120 + 26 * row
            checks.check('menu row %d: name in white at (40, %d)' % (row, y),
                         session.count(shot, 40, y, 300, y + 22, WHITE, 8) > 30)
        checks.check('kind label of the selected row at (W - 140, 120)',
                     session.count(shot, WIDTH - 140, 120, WIDTH - 20, 142, LABEL_SELECTED, 8) > 20)
        checks.check('kind labels of the other rows',
                     session.count(shot, WIDTH - 140, 146, WIDTH - 20, 168, LABEL, 8) > 20
                     and session.count(shot, WIDTH - 140, 172, WIDTH - 20, 194, LABEL, 8) > 20)
        shot.save_png(os.path.join(args.out, 'e2e_title_menu.png'))

        # Keys and the wheel move the band.
        display.key('Down')
        checks.check('Down moves the band to row 1', session.wait_band_row(1))
        display.key('Up')
        checks.check('Up moves the band back to row 0', session.wait_band_row(0))
        display.key('Up')
        checks.check('Up at the first row stays there', session.wait_band_row(0))
        sx, sy = session.to_screen(320, 300)
        display.move(sx, sy)
        display.run('xdotool', 'click', '5')
        checks.check('wheel towards the user moves the band down', session.wait_band_row(1))
        display.run('xdotool', 'click', '5')
        display.run('xdotool', 'click', '5')
        checks.check('wheel stops at the last row', session.wait_band_row(2))
        display.run('xdotool', 'click', '4')
        checks.check('wheel away from the user moves the band up', session.wait_band_row(1))

        mark = connection.mark()
        display.key('Return')
        _, launch = connection.wait_message(MSG_LAUNCH_APP, 5, start=mark)
        checks.check('Enter sends LaunchApp with the selected id (300)',
                     launch == struct.pack('<H', 300), repr(launch))

        # A click on another row selects it; a second click starts it.
        mark = connection.mark()
        cx, cy = session.to_screen(200, 120 + 52 + 8)
        display.click(cx, cy)
        checks.check('first click on row 2 selects it', session.wait_band_row(2))
        checks.check('first click sends no LaunchApp',
                     not connection.since(mark, MSG_LAUNCH_APP))
        display.click(cx, cy)
        _, launch = connection.wait_message(MSG_LAUNCH_APP, 5, start=mark)
        checks.check('second click sends LaunchApp with that row\'s id (0xBEEF)',
                     launch == struct.pack('<H', 0xBEEF), repr(launch))

        mark = connection.mark()
        display.key('F9')
        _, request = connection.wait_message(MSG_MENU_REQUEST, 5, start=mark)
        checks.check('F9 sends MenuRequest with no payload', request == b'', repr(request))

        # Pings: once a second, carrying the client's tick count.
        mark = connection.mark()
        wait_for(lambda: len(connection.since(mark, MSG_PING)) >= 4, 8)
        pings = connection.since(mark, MSG_PING)
        ticks = [struct.unpack('<I', p[:4])[0] for _, _, p in pings]
        steps = [(b - a) & 0xFFFFFFFF for a, b in zip(ticks, ticks[1:])]
        checks.check('Ping about once a second (>= 1000 ms apart by its own ticks)',
                     len(pings) >= 4 and all(1000 <= s < 2000 for s in steps),
                     'ticks %r' % ticks)

        connection.send(MSG_SERVER_TEXT, server_text(3, 'Testprogram'))
        title = wait_for(lambda: client.title() == 'Quorvane! - Testprogram', 5)
        checks.check('ServerText slot 3 sets the title "Quorvane! - Testprogram"', title,
                     repr(client.title()))
        connection.send(MSG_SERVER_TEXT, server_text(3, ''))
        time.sleep(0.3)
        checks.check('an empty title keeps the window title',
                     client.title() == 'Quorvane! - Testprogram', repr(client.title()))

        connection.send(MSG_SERVER_TEXT, server_text(4, '4711'))

        def pin_shown():
            s = session.shot()
            return (session.count(s, 40, HEIGHT - 125, 260, HEIGHT - 85, PIN, 8) > 80
                    and session.count(s, 40, HEIGHT - 150, WIDTH, HEIGHT - 128, PIN_PROMPT, 6) > 80)
        checks.check('PIN prompt at (40, H - 150) and PIN at (40, H - 125)', wait_for(pin_shown, 5))
        checks.check('menu still shown with the PIN', session.band_box(session.shot()) is not None)
        session.shot().save_png(os.path.join(args.out, 'e2e_title_pin.png'))

        # Alt+F4 is a key like any other: the window stays, and a later key
        # still reaches it.
        mark = connection.mark()
        display.key('alt+F4')
        display.key('F9')
        _, request = connection.wait_message(MSG_MENU_REQUEST, 5, start=mark)
        checks.check('Alt+F4 does not close the window',
                     request == b'' and client.process.poll() is None)

        display.key('F12')
        code = client.wait_exit(15)
        checks.check('F12 ends the program with exit code 0', code == 0, 'exit code %r' % code)
        checks.check('the server sees the connection closed', connection.wait_closed(5))
    finally:
        session.close()


# --- Scenario: the streamed picture --------------------------------------------

RED, GREEN, BLUE = rgb555(31, 0, 0), rgb555(0, 31, 0), rgb555(0, 0, 31)
WHITE555, YELLOW, CYAN, MAGENTA = rgb555(31, 31, 31), rgb555(31, 31, 0), rgb555(0, 31, 31), rgb555(31, 0, 31)


def checker(k, r):
    return RED if (k + r) % 2 == 0 else BLUE


def test_picture(width, height):
    """Block (0,0) a one-pixel checkerboard, block (1,0) vertical stripes, the
    last block magenta, the rest in colours that follow the block position."""
    last = ((width + 7) // 8 - 1, (height + 7) // 8 - 1)

    def block(bx, by):
        if (bx, by) == (0, 0):
            return raw_block(checker)
        if (bx, by) == (1, 0):
            return raw_block(lambda k, r: GREEN if k % 2 == 0 else WHITE555)
        if (bx, by) == last:
            return fill_block(MAGENTA)
        return fill_block(YELLOW if (bx + by) % 2 == 0 else CYAN)
    return block_stream(width, height, block)


def expected_pixel(x, y, width, height):
    """The colour of picture pixel (x, y) in test_picture."""
    bx, by = x // 8, y // 8
    if (bx, by) == (0, 0):
        return checker(x % 8, y % 8)
    if (bx, by) == (1, 0):
        return GREEN if (x % 8) % 2 == 0 else WHITE555
    if (bx, by) == ((width + 7) // 8 - 1, (height + 7) // 8 - 1):
        return MAGENTA
    return YELLOW if (bx + by) % 2 == 0 else CYAN


def picture_matches(session, shot, width, height, scale):
    """Compares sample pixels of the window with the picture scaled by `scale`."""
    samples = [(x, y) for y in range(8) for x in range(16)]
    samples += [(width - 1, height - 1), (width - 8, height - 8), (100, 100), (width // 2, 37),
                (33, height // 2), (width - 9, 3)]
    for x, y in samples:
        want = rgb555_to_24(expected_pixel(x, y, width, height))
        for dx in range(scale):
            for dy in range(scale):
                got = session.pixel(shot, x * scale + dx, y * scale + dy)
                if not near(want, 8)(got):
                    return 'picture (%d,%d) at window (%d,%d): want %r got %r' % (
                        x, y, x * scale + dx, y * scale + dy, want, got)
    return ''


def scenario_stream(args, checks):
    session = Session(args, checks)
    try:
        connection = session.start()
        connection.wait_message(MSG_HELLO, 10)
        display = session.display
        connection.send(MSG_APP_LIST, app_list(MENU[:1]))
        session.wait_band_row(0)

        connection.send(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, 0, 0, 'Startar'))
        connection.send(MSG_STREAM_STATE, bytes([1, 1, 0]))  # streaming, absolute pointer
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME, video_frame(1000, WIDTH, HEIGHT, test_picture(WIDTH, HEIGHT)))
        _, ack = connection.wait_message(MSG_FRAME_ACK, 5, start=mark)
        checks.check('FrameAck carries the frame number 1000', ack == struct.pack('<I', 1000),
                     repr(ack))
        problem = [None]

        def shown_1_to_1():
            problem[0] = picture_matches(session, session.shot(), WIDTH, HEIGHT, 1)
            return problem[0] == ''
        checks.check('frame decoded and shown 1:1 (pixel-exact checkerboard, edges)',
                     wait_for(shown_1_to_1, 5), problem[0])
        shot = session.shot()
        checks.check('no title screen over the picture',
                     shot.bounding_box(BACKGROUND) is None and shot.bounding_box(BAND) is None)
        shot.save_png(os.path.join(args.out, 'e2e_stream.png'))

        # A run of frames, each acknowledged with its own number.
        mark = connection.mark()
        ids = list(range(1001, 1011))
        for i, frame_id in enumerate(ids):
            def block(bx, by, i=i):
                return fill_block(GREEN) if (bx, by) == (i + 2, 3) else (BLOCK_SKIP, b'')
            connection.send(MSG_VIDEO_FRAME,
                            video_frame(frame_id, WIDTH, HEIGHT, block_stream(WIDTH, HEIGHT, block)))
        wait_for(lambda: len(connection.since(mark, MSG_FRAME_ACK)) >= len(ids), 5)
        def later_frames_drawn(shot):
            return (near(rgb555_to_24(GREEN), 8)(session.pixel(shot, 8 * 11 + 3, 8 * 3 + 3))
                    and near(rgb555_to_24(RED), 8)(session.pixel(shot, 0, 0)))
        acks = [struct.unpack('<I', p)[0] for _, _, p in connection.since(mark, MSG_FRAME_ACK)]
        checks.check('a FrameAck for every frame, in order', acks == ids, repr(acks))
        checks.check('later frames draw on top of the earlier picture (skip blocks keep it)',
                     wait_for(lambda: later_frames_drawn(session.shot()), 5))

        # An undecodable frame is still acknowledged.
        mark = connection.mark()
        broken = struct.pack('<IHHBI', 1500, WIDTH, HEIGHT, 0, 100) + b'\0' * 4 + b'not zlib'
        connection.send(MSG_VIDEO_FRAME, broken)
        _, ack = connection.wait_message(MSG_FRAME_ACK, 5, start=mark)
        checks.check('a frame that does not inflate is acknowledged too',
                     ack == struct.pack('<I', 1500), repr(ack))

        # A smaller picture, stretched to the window: every pixel doubled.
        small_w, small_h = WIDTH // 2, HEIGHT // 2
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME,
                        video_frame(2000, small_w, small_h, test_picture(small_w, small_h)))
        connection.wait_message(MSG_FRAME_ACK, 5, start=mark)

        def stretched():
            problem[0] = picture_matches(session, session.shot(), small_w, small_h, 2)
            return problem[0] == ''
        checks.check('a 320 x 240 picture is stretched to the 640 x 480 window',
                     wait_for(stretched, 5), problem[0])
        session.shot().save_png(os.path.join(args.out, 'e2e_stream_stretched.png'))

        # The statistics line over the picture.
        display.key('F11')

        def stats_on():
            s = session.shot()
            black = session.count(s, 0, 0, 330, 18, (0, 0, 0), 4)
            green = session.count(s, 0, 0, 330, 18, (0, 255, 0), 40)
            return (black > 330 * 18 // 2 and green > 40
                    and session.count(s, 330, 0, 340, 18, (0, 0, 0), 4) == 0
                    and session.count(s, 0, 18, 330, 28, (0, 0, 0), 4) == 0)
        checks.check('F11 shows the statistics line: green text in a black 330 x 18 box',
                     wait_for(stats_on, 5))
        shot = session.shot()
        shot.save_png(os.path.join(args.out, 'e2e_stream_stats.png'))
        display.key('F11')
        checks.check('F11 again hides it and the picture returns',
                     wait_for(lambda: session.count(session.shot(), 0, 0, 330, 18, (0, 0, 0), 4) == 0,
                              5))

        # Back to the menu: the title screen returns.
        connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        checks.check('StreamState 0 brings the title screen and menu back',
                     wait_for(lambda: session.band_box(session.shot()) == (26, 118, WIDTH - 26, 142), 5))
        display.key('F12')
        checks.check('F12 ends the program with exit code 0', session.client.wait_exit(15) == 0)
    finally:
        session.close()


# --- Scenario: losing the link and connecting again ----------------------------

def status_region(session, shot):
    ox, oy = session.origin
    return shot.region(ox + 40, oy + HEIGHT - 64, ox + WIDTH, oy + HEIGHT - 42)


def scenario_reconnect(args, checks):
    session = Session(args, checks)
    try:
        connection = session.start()
        connection.wait_message(MSG_HELLO, 10)
        port = session.server.port
        connection.send(MSG_APP_LIST, app_list(MENU))
        checks.check('menu shown', session.wait_band_row(0))

        # What the status texts look like, drawn from server texts of the same
        # words in the same place: the client's own texts must match them.
        texts = {
            'lost': 'Anslutningen bröts. Ansluter igen ...',
            'refused': 'Kunde inte ansluta till 127.0.0.1:%d. Försöker igen ... '
                       '(F10 = inställningar)' % port,
        }
        references = {}
        for key, text in texts.items():
            connection.send(MSG_SERVER_TEXT, server_text(0, text))
            wait_for(lambda: session.count(session.shot(), 40, HEIGHT - 64, WIDTH, HEIGHT - 42,
                                           STATUS, 8) > 50, 5)
            previous = None

            def steady():
                # Two equal pictures in a row: the text has been drawn.
                nonlocal previous
                region = status_region(session, session.shot())
                same = region == previous
                previous = region
                return same and region
            references[key] = wait_for(steady, 5, interval=0.1)
        connection.send(MSG_SERVER_TEXT, server_text(0, ''))
        checks.check('reference status texts drawn',
                     all(references.values()) and references['lost'] != references['refused'])

        # The server goes away.
        session.server.stop_listening()
        connection.close()

        def status_is(key):
            return lambda: status_region(session, session.shot()) == references[key]
        checks.check('lost link: "Anslutningen bröts. Ansluter igen ..." on the status line',
                     wait_for(status_is('lost'), 5, interval=0.05))
        shot = session.shot()
        checks.check('lost link: the menu is gone, no waiting text',
                     shot.bounding_box(BAND) is None
                     and session.count(shot, 40, 120, 300, 140, WAITING, 8) == 0)
        checks.check('refused connect: "Kunde inte ansluta till 127.0.0.1:PORT. Försöker igen ..."',
                     wait_for(status_is('refused'), 8, interval=0.05))

        # The server is back: a fresh connection with a fresh Hello.
        session.server.listen()
        again = session.server.wait_connection(15, index=1)
        checks.check('client connects again', again is not None)
        if again is not None:
            _, hello = again.wait_message(MSG_HELLO, 5)
            checks.check('reconnection starts with a fresh Hello',
                         hello is not None and hello[:4] == b'QV98'
                         and again.since(0)[0][1] == MSG_HELLO)
            checks.check('after the reconnection: status emptied, waiting for the list',
                         wait_for(lambda: session.count(session.shot(), 0, 0, WIDTH, HEIGHT,
                                                        STATUS, 8) == 0
                                  and session.count(session.shot(), 40, 120, 300, 140,
                                                    WAITING, 8) > 40, 5))
        session.display.key('F12')
        checks.check('F12 ends the program with exit code 0', session.client.wait_exit(15) == 0)
    finally:
        session.close()


# --- Scenario: a host on the command line --------------------------------------------

def scenario_command_line(args, checks):
    session = Session(args, checks, ini_changes={'host': ''}, arguments=['127.0.0.1'])
    try:
        before = session.client.ini_text()
        connection = session.start()
        _, hello = connection.wait_message(MSG_HELLO, 10)
        checks.check('host from the command line is used when the file has none',
                     hello is not None and hello[:4] == b'QV98')
        session.display.key('F12')
        checks.check('F12 ends the program with exit code 0', session.client.wait_exit(15) == 0)
        checks.check('the settings file keeps its empty host', session.client.ini_text() == before)
    finally:
        session.close()


# --- Scenario: full screen ------------------------------------------------------------

def scenario_full_screen(args, checks):
    session = Session(args, checks, ini_changes={'fullskarm': 1})
    try:
        connection = session.start()
        connection.wait_message(MSG_HELLO, 10)
        shot = session.shot()
        box = shot.bounding_box(BACKGROUND)
        # Either the screen was switched to 640 x 480, or (when the display
        # refuses) the window covers the unchanged desktop: the client area
        # is the whole screen in both cases.
        checks.check('full screen: the client area is the whole screen',
                     box == (0, 0, shot.width, shot.height),
                     'client %r on a %dx%d screen' % (box, shot.width, shot.height))
        connection.send(MSG_APP_LIST, app_list(MENU))
        checks.check('full screen: menu band spans (26, 118) to (W - 26, 142)',
                     wait_for(lambda: session.band_box(session.shot())
                              == (26, 118, shot.width - 26, 142), 5))
        session.display.key('F12')
        checks.check('F12 ends the program with exit code 0', session.client.wait_exit(15) == 0)
        after = session.shot()
        checks.check('the screen has its own size again afterwards',
                     (after.width, after.height) == (1024, 768),
                     '%dx%d' % (after.width, after.height))
    finally:
        session.close()


SCENARIOS = {
    'title_menu': scenario_title_menu,
    'stream': scenario_stream,
    'reconnect': scenario_reconnect,
    'command_line': scenario_command_line,
    'full_screen': scenario_full_screen,
}


def main():
    return run_scenarios(SCENARIOS)


if __name__ == '__main__':
    sys.exit(main())
