#!/usr/bin/env python3
"""quorvane.exe under Wine against hostile and broken servers, and with bad
local input (settings file, command line, a deep program folder).

    run_hostile.py --exe path/to/quorvane.exe --out build/folder [--server path] [--scenario NAME ...]

Scenarios:
  framing   a header of 4,194,305 bytes; peers that close in the middle of a
            header, a payload and a frame; one byte a second; unknown types
  media     a flood of 4 MiB AudioData; VideoFrames with raw_size 0xFFFFFFFF,
            sizes 65535 and 0, bad zlib, cut block streams; wild StreamSetups
  texts     AppLists announcing 65535 entries; texts of every slot far longer
            than their fields and with invalid UTF-8
  silent    a server that accepts and never sends while input keeps flowing
  restart   the reference server killed and started again on the same port
  bad_ini   over-long lines and values, binary garbage, missing and
            duplicated sections, a command-line host of thousands of
            characters, a program folder with a path of nearly 260 characters

After every blow the client must still run and still answer: a Ping
arrives, and a new frame is acknowledged and shown on the screen (its
pixels are checked). Where the link must end, a fresh connection starting
with a Hello has to follow.
"""

import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (  # noqa: E402
    MSG_APP_LIST, MSG_AUDIO_DATA, MSG_FRAME_ACK, MSG_HELLO, MSG_PING, MSG_SERVER_TEXT,
    MSG_STREAM_SETUP, MSG_STREAM_STATE, MSG_VIDEO_FRAME, BLOCK_FILL, Checks, Client, Display,
    FakeServer, block_stream, fill_block, near, private_wine_prefix, rgb555, rgb555_to_24,
    run_scenarios, stream_setup, wait_for, wine_env)
from run_e2e import (  # noqa: E402
    BACKGROUND, BAND, HEIGHT, STATUS, WIDTH, Session, base_ini)

MAX_PAYLOAD = 4194304

# Colours of the frames that prove the client alive, one per check in turn.
ALIVE_COLOURS = [rgb555(31, 0, 0), rgb555(0, 31, 0), rgb555(0, 0, 31), rgb555(31, 31, 0),
                 rgb555(0, 31, 31), rgb555(31, 0, 31), rgb555(31, 31, 31), rgb555(16, 8, 0)]
SAMPLES = [(3, 3), (WIDTH // 2, HEIGHT // 2), (WIDTH - 4, HEIGHT - 4), (WIDTH - 4, 3), (3, HEIGHT - 4)]


def solid_frame(frame_id, colour, width=WIDTH, height=HEIGHT):
    stream = block_stream(width, height, lambda bx, by: fill_block(colour))
    return frame_header(frame_id, width, height, len(stream)) + zlib.compress(stream)


def frame_header(frame_id, width, height, raw_size):
    return struct.pack('<IHHBI', frame_id, width, height, 0, raw_size) + b'\0' * 4


class Alive:
    """Proves the client alive on a connection: a Ping arrives, and a new
    frame of a colour not shown before is acknowledged and drawn."""

    def __init__(self, session):
        self.session = session
        self.turn = 0
        self.frame_id = 50000
        self.colour = None

    def shows(self, colour, samples=SAMPLES):
        shot = self.session.shot()
        want = rgb555_to_24(colour)
        return all(near(want, 8)(self.session.pixel(shot, x, y)) for x, y in samples)

    def check(self, checks, connection, label):
        if connection is None:
            return checks.check('%s: a connection to prove the client alive' % label, False)
        ok = checks.check('%s: client process still running' % label,
                          self.session.client.process.poll() is None)
        mark = connection.mark()
        _, ping = connection.wait_message(MSG_PING, 4, start=mark)
        ok &= checks.check('%s: a Ping arrives' % label, ping is not None and len(ping) == 4)
        colour = ALIVE_COLOURS[self.turn % len(ALIVE_COLOURS)]
        self.turn += 1
        self.frame_id += 1
        mark = connection.mark()
        connection.send(MSG_STREAM_STATE, bytes([1, 1, 0]))
        connection.send(MSG_VIDEO_FRAME, solid_frame(self.frame_id, colour))
        _, ack = connection.wait_message(MSG_FRAME_ACK, 6, start=mark,
                                         predicate=lambda p: p == struct.pack('<I', self.frame_id))
        ok &= checks.check('%s: a new frame is acknowledged' % label, ack is not None)
        shown = wait_for(lambda: self.shows(colour), 6, interval=0.1)
        ok &= checks.check('%s: the new frame is shown (pixels)' % label, shown)
        if shown:
            self.colour = colour
        return ok


def fresh_connection(checks, server, index, label, timeout=15):
    """Waits for connection number `index` and its Hello as first message."""
    connection = server.wait_connection(timeout, index=index)
    if not checks.check('%s: the client connects again' % label, connection is not None):
        return None
    _, hello = connection.wait_message(MSG_HELLO, 6)
    first = connection.since(0)[0][1] if connection.since(0) else None
    checks.check('%s: the new connection starts with a fresh Hello' % label,
                 hello is not None and hello[:4] == b'QV98' and first == MSG_HELLO,
                 'first type %r' % first)
    return connection


def raw_send(connection, data):
    try:
        with connection.send_lock:
            connection.sock.sendall(data)
        return True
    except OSError:
        return False


def start(session, checks):
    connection = session.start()
    connection.wait_message(MSG_HELLO, 10)
    return connection


# --- Scenario: framing -------------------------------------------------------

def scenario_framing(args, checks):
    session = Session(args, checks)
    try:
        server = session.server
        connection = start(session, checks)
        alive = Alive(session)
        alive.check(checks, connection, 'at the start')
        index = 0

        def ends_and_returns(label, blow):
            nonlocal connection, index
            blow(connection)
            checks.check('%s: the client ends the link' % label, connection.wait_closed(6))
            connection.close()
            index += 1
            connection = fresh_connection(checks, server, index, label)
            alive.check(checks, connection, label)

        ends_and_returns('header of 4,194,305 bytes',
                         lambda c: raw_send(c, struct.pack('<IB', MAX_PAYLOAD + 1, MSG_SERVER_TEXT) + b'\0' * 64))
        ends_and_returns('header of 0xFFFFFFFF bytes',
                         lambda c: raw_send(c, struct.pack('<IB', 0xFFFFFFFF, MSG_VIDEO_FRAME)))

        def close_after(data):
            def blow(c):
                raw_send(c, data)
                time.sleep(0.2)
                c.close()
            return blow

        text = bytes([0]) + b'x' * 999
        frame = solid_frame(1, rgb555(3, 3, 3))
        ends_and_returns('peer closes in the middle of a header',
                         close_after(struct.pack('<IB', len(text), MSG_SERVER_TEXT)[:3]))
        ends_and_returns('peer closes in the middle of a payload',
                         close_after(struct.pack('<IB', len(text), MSG_SERVER_TEXT) + text[:500]))
        ends_and_returns('peer closes in the middle of a frame',
                         close_after(struct.pack('<IB', len(frame), MSG_VIDEO_FRAME)
                                     + frame[:len(frame) // 2]))
        ends_and_returns('peer closes right after a full message and half a 4 MiB header',
                         close_after(struct.pack('<IB', 1, MSG_STREAM_STATE) + b'\0'
                                     + struct.pack('<IB', MAX_PAYLOAD, MSG_AUDIO_DATA)[:2]))

        # One byte a second: a status text of 2 letters, 8 bytes in all. The
        # client keeps pinging meanwhile, and the text arrives whole.
        message = struct.pack('<IB', 3, MSG_SERVER_TEXT) + b'\0ok'
        mark = connection.mark()
        connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        connection.answer_pings = False   # a Pong must not cut into the message
        for byte in message:
            raw_send(connection, bytes([byte]))
            time.sleep(1.0)
        connection.answer_pings = True
        pings = len(connection.since(mark, MSG_PING))
        checks.check('one byte a second: the client keeps pinging meanwhile', pings >= 4,
                     '%d pings' % pings)
        checks.check('one byte a second: the text arrives whole on the status line',
                     wait_for(lambda: session.count(session.shot(), 40, HEIGHT - 64, 80, HEIGHT - 42,
                                                    STATUS, 8) > 10, 4))
        checks.check('one byte a second: the link stays', not connection.closed
                     and len(server.connections) == index + 1)
        alive.check(checks, connection, 'one byte a second')

        # Unknown types, empty and long, and a type byte of every value
        # outside 1 to 7; the link stays.
        for kind in [0] + list(range(8, 256)):
            connection.send(kind, b'')
            connection.send(kind, bytes(range(256)) * 4)
        connection.send(200, b'\xff' * MAX_PAYLOAD)
        connection.send(0, b'\x00' * MAX_PAYLOAD)
        alive.check(checks, connection, 'unknown message types')
        checks.check('unknown message types: the link stays', not connection.closed
                     and len(server.connections) == index + 1)
    finally:
        session.close()


# --- Scenario: media -----------------------------------------------------------

def scenario_media(args, checks):
    session = Session(args, checks, ini_changes={'ljud': 1, 'stereo': 1})
    try:
        server = session.server
        connection = start(session, checks)
        alive = Alive(session)
        connection.send(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, 22050, 2, 'Ljud'))
        alive.check(checks, connection, 'sound opened')

        # A flood of the largest AudioData messages; the queue drops what
        # does not fit.
        chunk = bytes((i * 7) & 0xFF for i in range(4096)) * 1024
        started = time.monotonic()
        for _ in range(12):
            connection.send(MSG_AUDIO_DATA, chunk)
        connection.send(MSG_AUDIO_DATA, b'\x01')    # an odd byte count
        connection.send(MSG_AUDIO_DATA, b'')
        alive.check(checks, connection, '12 AudioData of 4 MiB')
        checks.check('AudioData flood: read within a reasonable time',
                     time.monotonic() - started < 60, '%.1f s' % (time.monotonic() - started))

        # StreamSetups with formats no device takes, then a sane one.
        for rate, channels in ((-1, 2), (0x7FFFFFFF, 255), (1, 0), (8000, 3), (44100, 2)):
            connection.send(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, rate, channels, 'Format'))
            connection.send(MSG_AUDIO_DATA, chunk[:65536])
        alive.check(checks, connection, 'odd sound formats')

        # VideoFrames with absurd headers. Each must be acknowledged (a body
        # of 17 bytes or more always is) unless its buffer cannot be had.
        stream = block_stream(WIDTH, HEIGHT, lambda bx, by: fill_block(rgb555(1, 2, 3)))
        good = zlib.compress(stream)
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME, frame_header(7001, WIDTH, HEIGHT, 0xFFFFFFFF) + good)
        connection.send(MSG_VIDEO_FRAME, frame_header(7002, WIDTH, HEIGHT, 0xFFFFF000) + good)
        connection.send(MSG_VIDEO_FRAME, frame_header(7003, WIDTH, HEIGHT, 0) + good)
        alive.check(checks, connection, 'raw_size 0xFFFFFFFF, 0xFFFFF000 and 0')

        small = zlib.compress(b'\x01' * 64 + b'\x00\x7c' * 64)
        sizes = [(65535, 65535), (0, 0), (65535, 0), (0, 65535), (65535, 1), (1, 65535)]
        mark = connection.mark()
        for i, (w, h) in enumerate(sizes):
            connection.send(MSG_VIDEO_FRAME, frame_header(7100 + i, w, h, 64 * 3) + small)
        wanted = [struct.pack('<I', 7100 + i) for i in range(len(sizes))]
        got = wait_for(lambda: [p for _, _, p in connection.since(mark, MSG_FRAME_ACK)
                                if p in wanted] == wanted, 20)
        checks.check('frames of 65535 x 65535, 0 x 0 and mixed sizes: each acknowledged, in order',
                     got, repr([p.hex() for _, _, p in connection.since(mark, MSG_FRAME_ACK)]))
        alive.check(checks, connection, 'sizes 65535 and 0')

        # A broken zlib body is acknowledged and leaves the picture as it was.
        before = alive.colour
        mark = connection.mark()
        for i, body in enumerate([b'not zlib at all', good[:len(good) // 2], b'\x78\x9c' + b'\xff' * 300,
                                  good[:2], b'']):
            connection.send(MSG_VIDEO_FRAME, frame_header(7200 + i, WIDTH, HEIGHT, len(stream)) + body)
        got = wait_for(lambda: len(connection.since(mark, MSG_FRAME_ACK)) >= 5, 8)
        checks.check('bad zlib: every frame acknowledged', got)
        time.sleep(0.3)
        checks.check('bad zlib: the picture stays as it was', before and alive.shows(before))

        # Block streams cut short: in the type bytes nothing is drawn; in the
        # payloads the blocks before the cut are drawn, the rest stays.
        blocks = ((WIDTH + 7) // 8) * ((HEIGHT + 7) // 8)
        new = rgb555(20, 0, 20)
        full = block_stream(WIDTH, HEIGHT, lambda bx, by: fill_block(new))
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME, frame_header(7300, WIDTH, HEIGHT, len(full))
                        + zlib.compress(full[:blocks // 2]))
        connection.wait_message(MSG_FRAME_ACK, 5, start=mark)
        time.sleep(0.3)
        checks.check('cut in the type bytes: acknowledged, nothing drawn',
                     len(connection.since(mark, MSG_FRAME_ACK)) == 1 and before
                     and alive.shows(before))
        half = blocks + 2 * (blocks // 2)   # payloads of the top half only
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME, frame_header(7301, WIDTH, HEIGHT, len(full))
                        + zlib.compress(full[:half]))
        connection.wait_message(MSG_FRAME_ACK, 5, start=mark)
        top = [(3, 3), (WIDTH - 4, HEIGHT // 2 - 4)]
        bottom = [(3, HEIGHT // 2 + 4), (WIDTH - 4, HEIGHT - 4)]
        checks.check('cut in the payloads: the top half drawn, the bottom half kept',
                     wait_for(lambda: alive.shows(new, top) and alive.shows(before, bottom), 5))
        # An invalid block type in the middle and a stream of random bytes.
        mixed = bytearray(full)
        mixed[blocks // 3] = 6
        mark = connection.mark()
        connection.send(MSG_VIDEO_FRAME, frame_header(7302, WIDTH, HEIGHT, len(mixed))
                        + zlib.compress(bytes(mixed)))
        noise = bytes(random.Random(7).getrandbits(8) for _ in range(200000))
        connection.send(MSG_VIDEO_FRAME, frame_header(7303, 333, 77, len(noise))
                        + zlib.compress(noise))
        connection.send(MSG_VIDEO_FRAME, struct.pack('<I', 7304) + b'\0' * 12)   # 16 bytes: ignored
        got = wait_for(lambda: len(connection.since(mark, MSG_FRAME_ACK)) >= 2, 5)
        time.sleep(0.3)
        acks = [p for _, _, p in connection.since(mark, MSG_FRAME_ACK)]
        checks.check('invalid block type and random streams acknowledged; a 16-byte body is not',
                     got and acks == [struct.pack('<I', 7302), struct.pack('<I', 7303)],
                     repr([a.hex() for a in acks]))
        alive.check(checks, connection, 'cut and random block streams')

        # A flood of tiny frames as fast as the socket takes them, in the
        # menu: the window thread must not fall behind a growing queue of
        # paints; F11 answers within a few seconds meanwhile.
        connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        tiny = zlib.compress(b'\x00')
        flooding = threading.Event()
        flooding.set()
        sent = [0]

        def flood():
            while flooding.is_set() and sent[0] < 40000:
                body = frame_header(100000 + sent[0], 8, 8, 1) + tiny
                if not connection.send(MSG_VIDEO_FRAME, body):
                    return
                sent[0] += 1
        thread = threading.Thread(target=flood, daemon=True)
        thread.start()
        time.sleep(4)   # let a backlog build up, if one can

        def stats_box():
            return session.count(session.shot(), 0, 0, 330, 18, (0, 255, 0), 40) > 40
        session.display.key('F11')
        shown = wait_for(stats_box, 5, interval=0.1)
        session.display.key('F11')
        hidden = shown and wait_for(lambda: not stats_box(), 5, interval=0.1)
        flooding.clear()
        thread.join(5)
        checks.check('frame flood (%d frames): F11 shows and hides the statistics line meanwhile'
                     % sent[0], shown and hidden)
        last = struct.pack('<I', 100000 + sent[0] - 1)
        caught_up = connection.wait_message(MSG_FRAME_ACK, 60, predicate=lambda p: p == last)[0]
        checks.check('frame flood: every frame acknowledged, the last one too', caught_up is not None)
        alive.check(checks, connection, 'after the frame flood')
        checks.check('media: the link stayed the whole time',
                     not connection.closed and len(server.connections) == 1)
    finally:
        session.close()


# --- Scenario: texts ---------------------------------------------------------

BAD_UTF8 = (b'\xff\xfe\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\x80\xbf\xc3'
            b'\xe2\x82\xf0\x9f\x98\xc3\xa5\xe2\x82\xac' + 'åäö€'.encode('utf-8'))


def scenario_texts(args, checks):
    session = Session(args, checks)
    try:
        server = session.server
        connection = start(session, checks)
        alive = Alive(session)

        # An AppList announcing 65535 entries with 70 present, names of 255
        # bytes of invalid UTF-8, kinds of every value.
        payload = bytearray(struct.pack('<H', 65535))
        for i in range(70):
            name = (BAD_UTF8 * 20)[:255]
            payload += struct.pack('<HBB', i, (i * 37) & 0xFF, len(name)) + name
        connection.send(MSG_APP_LIST, bytes(payload))
        connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        checks.check('AppList of 65535 announced entries: the menu shows, row 0 selected',
                     wait_for(lambda: session.band_box(session.shot()) == (26, 118, WIDTH - 26, 142), 6))
        # Down past the end and back: the client clamps to its 64 rows.
        for _ in range(3):
            session.display.key('Up')
        # Announcing 65535 with 3 present and a name running past the end.
        payload = bytearray(struct.pack('<H', 65535))
        for i in range(3):
            payload += struct.pack('<HBB', i, 0, 4) + b'abcd'
        payload += struct.pack('<HBB', 9, 0, 255) + b'cut'
        connection.send(MSG_APP_LIST, bytes(payload))
        connection.send(MSG_APP_LIST, struct.pack('<H', 65535))
        connection.send(MSG_APP_LIST, b'\x05')
        connection.send(MSG_APP_LIST, b'')
        connection.send(MSG_APP_LIST, struct.pack('<H', 65535) + b'\x01\x00\x00')
        checks.check('short AppLists: the menu empties and the waiting text shows',
                     wait_for(lambda: session.band_box(session.shot()) is None
                              and session.count(session.shot(), 40, 120, 300, 140,
                                                (200, 200, 200), 8) > 40, 6))
        alive.check(checks, connection, 'AppLists of 65535')

        # Every slot, with texts far longer than any field and bad UTF-8.
        connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        long_text = BAD_UTF8 * 4000 + b'A' * 100000
        for slot in range(256):
            connection.send(MSG_SERVER_TEXT, bytes([slot]) + long_text[slot:slot + 20000 + slot * 300])
        connection.send(MSG_SERVER_TEXT, b'\x03' + b'T' * (MAX_PAYLOAD - 1))
        connection.send(MSG_SERVER_TEXT, b'\x00' + b'\xc3' * (MAX_PAYLOAD - 1))
        connection.send(MSG_SERVER_TEXT, b'\x04' + '€'.encode('utf-8') * 1000)
        setup = bytearray(stream_setup(WIDTH, HEIGHT, 0, 0))
        setup[13:45] = b'\xe2\x82' * 16           # a cut sequence at the end of the field
        connection.send(MSG_STREAM_SETUP, bytes(setup) + b'\xff' * 10000)

        def title_ok():
            title = session.client.title()
            return title if title.startswith('Quorvane! - TTT') else None
        title = wait_for(title_ok, 6)
        checks.check('a 4 MiB title is cut to 127 characters in the window title',
                     title is not None and title == 'Quorvane! - ' + 'T' * 127,
                     '%d characters' % len(title or ''))
        checks.check('long texts: the status line and the PIN are drawn',
                     wait_for(lambda: session.count(session.shot(), 40, HEIGHT - 64, WIDTH,
                                                    HEIGHT - 42, STATUS, 8) > 50
                              and session.count(session.shot(), 40, HEIGHT - 125, WIDTH,
                                                HEIGHT - 85, (255, 255, 0), 8) > 80, 6))
        connection.send(MSG_SERVER_TEXT, b'\x03' + BAD_UTF8)
        title = wait_for(lambda: session.client.title() != 'Quorvane! - ' + 'T' * 127
                         and session.client.title(), 6)
        # The X window name is UTF-8 (Wine converts from Windows-1252).
        title = title and title.encode('latin-1').decode('utf-8', 'replace')
        checks.check('a title of invalid UTF-8 becomes "?" and the letters it can show',
                     title is not None and title.startswith('Quorvane! - ??')
                     and title.endswith('åäö€') and len(title) <= 12 + 127, repr(title))
        alive.check(checks, connection, 'texts of every slot')
        checks.check('texts: the link stayed the whole time',
                     not connection.closed and len(server.connections) == 1)
    finally:
        session.close()


# --- Scenario: a silent server ---------------------------------------------------

def scenario_silent(args, checks):
    session = Session(args, checks)
    try:
        session.server.answer_pings = False
        for connection in session.server.connections:
            connection.answer_pings = False
        connection = start(session, checks)
        connection.answer_pings = False
        display = session.display
        mark = connection.mark()

        def stats_shown(on):
            shot = session.shot()
            black = session.count(shot, 0, 0, 330, 18, (0, 0, 0), 4)
            green = session.count(shot, 0, 0, 330, 18, (0, 255, 0), 40)
            return (black > 330 * 18 // 2 and green > 40) if on else black == 0
        rng = random.Random(11)
        keys = ['Down', 'Up', 'a', 'Return', 'space', 'Left', 'Right', 'Escape', 'Tab', 'b']
        toggles = 0
        started = time.monotonic()
        for round_ in range(6):
            for _ in range(10):
                x, y = session.to_screen(rng.randrange(WIDTH), rng.randrange(HEIGHT))
                display.run('xdotool', 'mousemove', str(x), str(y))
                display.key(rng.choice(keys))
                display.run('xdotool', 'click', str(rng.choice((1, 3, 4, 5))))
            display.key('F11')
            on = round_ % 2 == 0
            if checks.check('silent server: F11 %s the statistics line (round %d)'
                            % ('shows' if on else 'hides', round_ + 1),
                            wait_for(lambda: stats_shown(on), 5, interval=0.1)):
                toggles += 1
        seconds = time.monotonic() - started
        pings = connection.since(mark, MSG_PING)
        checks.check('silent server: the client keeps pinging (one a second)',
                     len(pings) >= int(seconds) - 2, '%d pings in %.1f s' % (len(pings), seconds))
        checks.check('silent server: the link stays, nothing but Pings and clicks sent',
                     not connection.closed and len(session.server.connections) == 1)
        checks.check('silent server: client still running', session.client.process.poll() is None)
        connection.answer_pings = True
        Alive(session).check(checks, connection, 'after the silence')
    finally:
        session.close()


# --- Scenario: the server killed and started again ------------------------------

def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class ReferenceServer:
    def __init__(self, binary, port, log):
        self.process = subprocess.Popen([binary, '--listen', '127.0.0.1:%d' % port],
                                        stdout=log, stderr=subprocess.STDOUT)

    def kill(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGKILL)
            self.process.wait(5)


def scenario_restart(args, checks):
    if not args.server or not os.path.exists(args.server):
        checks.check('reference server binary present (--server)', False, repr(args.server))
        return
    port = free_port()
    # The session's own fake server is not used until the end; the client
    # talks to the reference server on `port` first.
    session = Session(args, checks, ini_changes={'port': port})
    log = open(os.path.join(args.scratch, 'server.log'), 'ab')
    reference = ReferenceServer(args.server, port, log)
    try:
        window = session.client.find_window(40)
        checks.check('main window appears', window is not None)
        session.find_client_area()
        menu = (26, 118, WIDTH - 26, 142)
        checks.check('reference server: the menu arrives',
                     wait_for(lambda: session.band_box(session.shot()) == menu, 30, interval=0.2))
        for round_ in range(3):
            reference.kill()
            checks.check('kill %d: the menu goes (link lost)' % (round_ + 1),
                         wait_for(lambda: session.band_box(session.shot()) is None, 8, interval=0.1))
            checks.check('kill %d: client still running' % (round_ + 1),
                         session.client.process.poll() is None)
            reference = ReferenceServer(args.server, port, log)
            checks.check('restart %d on the same port: the client is back with the menu' % (round_ + 1),
                         wait_for(lambda: session.band_box(session.shot()) == menu, 20, interval=0.2))
        # Last, a test server on the same port, to see the client's messages.
        reference.kill()
        wait_for(lambda: session.band_box(session.shot()) is None, 8, interval=0.1)
        server = FakeServer(port=port)
        try:
            connection = fresh_connection(checks, server, 0, 'test server on the same port', 20)
            Alive(session).check(checks, connection, 'after the restarts')
        finally:
            server.close()
    finally:
        reference.kill()
        log.close()
        session.close()


# --- Scenario: bad local input ---------------------------------------------------

class FolderClient(Client):
    """Client in a given folder with a settings file of given bytes (or none)."""

    def __init__(self, exe, display, folder, ini_bytes, arguments, prefix):
        os.makedirs(folder, exist_ok=True)
        self.display = display
        self.folder = folder
        self.exe = os.path.join(folder, 'quorvane.exe')
        shutil.copy(exe, self.exe)
        if ini_bytes is not None:
            with open(os.path.join(folder, 'QUORVANE.INI'), 'wb') as f:
                f.write(ini_bytes)
        self.log = open(os.path.join(args_scratch[0], 'wine-%d.log' % len(os.listdir(args_scratch[0]))), 'wb')
        self.prefix = prefix
        self.process = subprocess.Popen(
            ['wine', self.exe] + list(arguments), cwd=folder,
            env=wine_env(display, prefix), stdout=self.log,
            stderr=subprocess.STDOUT)
        self.window = None


args_scratch = [None]


def ini_bytes(values, before=b'', after=b''):
    lines = [b'[Quorvane]'] + [b'%s=%s' % (k.encode(), v if isinstance(v, bytes) else str(v).encode())
                                for k, v in values.items()]
    return before + b'\r\n'.join(lines) + b'\r\n' + after


def scenario_bad_ini(args, checks):
    display = Display()
    base = os.environ.get('WINEPREFIX', '/root/.wine-quorvane')
    prefix_folder = tempfile.mkdtemp(prefix='wine-', dir=args.scratch)
    prefix = private_wine_prefix(base, os.path.join(prefix_folder, 'p'))
    server = FakeServer()
    args_scratch[0] = tempfile.mkdtemp(prefix='logs-', dir=args.scratch)
    index = [0]

    class Run:
        """One client run: its window, its title screen, its connection."""

        def __init__(self, label, data, arguments=(), folder=None):
            self.label = label
            folder = folder or tempfile.mkdtemp(prefix='client-', dir=args.scratch)
            self.client = FolderClient(args.exe, display, folder, data, arguments, prefix)
            self.origin = None

        def window(self, full_screen=False):
            """Waits for the window and its title screen: 640 x 480 in a
            window, or the whole screen when the file's section is missing
            (full screen is the default)."""
            found = self.client.find_window(40)
            checks.check('%s: the main window appears' % self.label, found is not None)
            box = wait_for(lambda: display.screenshot().bounding_box(BACKGROUND), 20, interval=0.2)
            size = (1024, 768) if full_screen else (WIDTH, HEIGHT)
            checks.check('%s: the title screen is painted, %d x %d' % ((self.label,) + size),
                         box is not None and (box[2] - box[0], box[3] - box[1]) == size,
                         repr(box))
            if box:
                self.origin = box[:2]
                self.size = (box[2] - box[0], box[3] - box[1])
            return box is not None

        def connection(self):
            connection = server.wait_connection(30, index=index[0])
            if connection is not None:
                index[0] += 1
                connection.wait_message(MSG_HELLO, 6)
            return connection

        def hello(self, connection):
            _, hello = connection.wait_message(MSG_HELLO, 6) if connection else (None, None)
            return hello

        def status_drawn(self):
            def drawn():
                shot = display.screenshot()
                ox, oy = self.origin
                width, height = self.size
                return shot.count(ox + 40, oy + height - 64, ox + width, oy + height - 42,
                                  near(STATUS, 8)) > 50
            return wait_for(drawn, 10, interval=0.2)

        def alive_for(self, connection):
            session = type('S', (), {})()
            session.client = self.client
            session.shot = display.screenshot
            session.pixel = lambda shot, x, y: shot.at(self.origin[0] + x, self.origin[1] + y)
            return Alive(session).check(checks, connection, self.label)

        def stop(self):
            checks.check('%s: still running at the end' % self.label, self.client.process.poll() is None)
            display.key('F12')
            code = self.client.wait_exit(15)
            checks.check('%s: F12 ends the program with exit code 0' % self.label, code == 0,
                         'exit code %r' % code)
            self.client.stop()

    def hello_fields(hello):
        width, height, fps, rate, channels = struct.unpack_from('<HHBIB', hello, 6)
        name = hello[16:48].rstrip(b'\0')
        key = hello[48:80].rstrip(b'\0')
        return width, height, fps, rate, channels, name, key

    try:
        # 1. Over-long lines and values, numbers out of range, duplicated keys.
        values = {'host': '127.0.0.1', 'port': server.port, 'fullskarm': 0, 'ljud': 1,
                  'bredd': '9' * 5000, 'hojd': '-5', 'fps': 'abc' * 3000,
                  'ljudfrekvens': '99999999999999999999', 'stereo': '7', 'joystick': 1,
                  'muskanslighet': '-2147483649', 'namn': 'N' * 5000, 'nyckel': 'K' * 70000}
        data = ini_bytes(values, before=b';' + b'x' * 70000 + b'\r\n' + b'y' * 40000 + b'\r\n',
                         after=b'host=\r\n' + b'=' * 30000 + b'\r\n' + b'[' * 10000 + b'\r\n')
        run = Run('over-long lines and values', data)
        if run.window():
            connection = run.connection()
            hello = run.hello(connection)
            if checks.check('%s: connects with the host of the file' % run.label, hello is not None):
                width, height, fps, rate, channels, name, key = hello_fields(hello)
                checks.check('%s: size and fps fall back to 640 x 480 at 30' % run.label,
                             (width, height, fps) == (640, 480, 30), repr((width, height, fps)))
                # Cut to 32 characters in the record, and to 29 plain ASCII
                # characters in the Hello's 32-byte fields (a character is
                # begun only while 3 bytes are left, for a euro sign).
                checks.check('%s: name and key cut to 29 characters in the Hello' % run.label,
                             name == b'N' * 29 and key == b'K' * 29
                             and hello[45:48] == b'\0\0\0' and hello[77:80] == b'\0\0\0',
                             repr((name, key)))
                # Sound in the format the client asked for, whatever the
                # file's numbers made of it: opened or refused, never fatal.
                checks.check('%s: the Hello asks for sound (rate %d, %d channels)'
                             % (run.label, rate, channels), rate != 0 and channels == 2)
                connection.send(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, struct.unpack(
                    '<i', struct.pack('<I', rate))[0], channels, 'Ljud'))
                connection.send(MSG_AUDIO_DATA, b'\x10\x20' * 50000)
                run.alive_for(connection)
        run.stop()

        # 2. Binary garbage around a good section, and duplicated sections:
        # the first section holds the good values, a later copy others.
        rng = random.Random(5)
        garbage = bytes(rng.randrange(1, 256) for _ in range(20000)).replace(b'[', b'(')
        good = ini_bytes({'host': '127.0.0.1', 'port': server.port, 'fullskarm': 0, 'ljud': 0,
                          'namn': 'Forsta'})
        dup = ini_bytes({'namn': 'Andra', 'hojd': 123456})
        run = Run('binary garbage and duplicated sections',
                  garbage + b'\r\n' + good + garbage[:5000] + b'\r\n' + dup + garbage[5000:9000])
        if run.window():
            connection = run.connection()
            hello = run.hello(connection)
            if checks.check('%s: connects with the host of the file' % run.label, hello is not None):
                name = hello_fields(hello)[5]
                checks.check('%s: the name comes from a [Quorvane] section' % run.label,
                             name in (b'Forsta', b'Andra'), repr(name))
                run.alive_for(connection)
        run.stop()

        # 3. Pure binary garbage with NUL bytes, no section at all, and a
        # command-line host of several thousand characters: the host is cut
        # to 127 characters, cannot be resolved, and the client keeps trying
        # with its status text on the title screen.
        garbage = bytes(rng.randrange(0, 256) for _ in range(30000))
        run = Run('garbage file and a host of 6000 characters', garbage,
                  arguments=['h' * 3000 + '.' + 'q' * 2999])
        if run.window(full_screen=True):
            checks.check('%s: the status line shows the failed connect' % run.label, run.status_drawn())
            checks.check('%s: window shown full screen or windowed, no dialog' % run.label,
                         display.run('xdotool', 'search', '--name', 'inst.llningar') == '')
        run.stop()

        # 4. A missing section (another one only) and a long command-line host
        # made of a valid address and many spaces is not valid either; then a
        # plain command-line address with the section missing (port 3300).
        data = b'[Annat]\r\nhost=10.0.0.1\r\nport=1\r\n[quorvane-x]\r\nhost=x\r\n'
        run = Run('missing section, long command-line host', data,
                  arguments=['127.0.0.1' + '9' * 4000])
        if run.window(full_screen=True):
            checks.check('%s: the status line shows the failed connect' % run.label, run.status_drawn())
        run.stop()

        # 5. A program folder whose Windows path is 259 characters with the
        # program's name: the settings file beside it is read.
        root = os.path.join(args.scratch, 'deep')
        target = 259 - len('Z:') - len('/quorvane.exe')
        folder = root
        while len(folder) < target:
            folder = os.path.join(folder, 'd' * min(60, max(1, target - len(folder) - 1)))
        folder = folder[:target]
        if folder.endswith('/'):
            folder = folder[:-1] + 'e'
        windows_path = 'Z:' + os.path.join(folder, 'quorvane.exe').replace('/', '\\')
        run = Run('program folder of %d characters' % len(windows_path),
                  ini_bytes({'host': '127.0.0.1', 'port': server.port, 'fullskarm': 0, 'ljud': 0,
                             'namn': 'Djup'}), folder=folder)
        if run.window():
            connection = run.connection()
            hello = run.hello(connection)
            checks.check('%s: the settings file beside the program is read' % run.label,
                         hello is not None and hello_fields(hello)[5] == b'Djup',
                         repr(hello and hello_fields(hello)[5]))
            if hello is not None:
                run.alive_for(connection)
        run.stop()
    finally:
        server.close()
        display.close()
        subprocess.run(['wineserver', '-k'], env=dict(os.environ, WINEPREFIX=prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=20)
        shutil.rmtree(prefix_folder, ignore_errors=True)


SCENARIOS = {
    'framing': scenario_framing,
    'media': scenario_media,
    'texts': scenario_texts,
    'silent': scenario_silent,
    'restart': scenario_restart,
    'bad_ini': scenario_bad_ini,
}


def main():
    return run_scenarios(SCENARIOS, 'hostile-', lambda parser: parser.add_argument(
        '--server', help='the reference server (for the restart scenario)'))


if __name__ == '__main__':
    sys.exit(main())
