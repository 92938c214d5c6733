"""quorvane.exe under Wine: hostile (blows; after each the client pings, acknowledges and
shows a frame) and stuck (no reading while keys flood in, TCP buffers lowered as root) servers."""
import os, random, subprocess, struct, sys, time  # noqa: E401

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import *  # noqa: E402,F401,F403

MAX = 4194304
COLOURS = [rgb555(r, g, b) for r, g, b in ((31, 0, 0), (0, 31, 0), (0, 0, 31), (31, 31, 0), (0, 31, 31), (31, 0, 31))]
SAMPLES = [(3, 3), (WIDTH // 2, HEIGHT // 2), (WIDTH - 4, HEIGHT - 4), (WIDTH - 4, 3), (3, HEIGHT - 4)]
BAD_UTF8 = b'\xff\xfe\xc0\xaf\xe0\x80\xaf\xed\xa0\x80\xf4\x90\x80\x80\x80\xbf\xc3\xe2\x82' + 'åäö€'.encode()


def solid(frame_id, colour): return video_frame(frame_id, WIDTH, HEIGHT, blocks(WIDTH, HEIGHT, lambda *_: fill(colour)))
def shows(session, colour): return (lambda shot: all(near(shot.at(*xy), rgb24(colour)) for xy in SAMPLES))(session.shot())


def alive(session, conn, label):
    session.turn = getattr(session, 'turn', 0) + 1
    colour, frame_id, mark = COLOURS[session.turn % len(COLOURS)], 50000 + session.turn, conn.mark()
    ping = conn.wait(MSG_PING, 5, mark)
    conn.send_raw(msg(MSG_STREAM_STATE, bytes([1, 1, 0])) + msg(MSG_VIDEO_FRAME, solid(frame_id, colour)))
    ack = conn.wait(MSG_FRAME_ACK, 10, mark, lambda p: p == struct.pack('<I', frame_id))
    shown = wait_for(lambda: shows(session, colour), 10, 0.1)
    return session.check('%s: still running, a Ping, a new frame acknowledged and shown' % label,
                         session.client.process.poll() is None and ping and ack and shown,
                         'ping %r, ack %r, shown %r' % (ping, ack, shown))


def fresh(session, label, timeout=30): return session.reconnect(label + ': connects again, Hello first', timeout=timeout)


def blows():
    # (what, bytes the server sends, then: 'close' the link, the client 'ends' it, or it 'stays')
    frame, chunk = solid(1, rgb555(3, 3, 3)), bytes(range(256)) * 16384
    names = b''.join(struct.pack('<HBB', i, i * 37 & 255, 255) + (BAD_UTF8 * 20)[:255] for i in range(70))
    text = BAD_UTF8 * 4000 + b'A' * 100000
    return [
        ('a header of 4,194,305 bytes', struct.pack('<IB', MAX + 1, MSG_SERVER_TEXT) + bytes(64), 'ends'),
        ('a header of 0xFFFFFFFF bytes', struct.pack('<IB', 0xFFFFFFFF, MSG_VIDEO_FRAME), 'ends'),
        ('the server closes inside a header', struct.pack('<IB', 1000, MSG_SERVER_TEXT)[:3], 'close'),
        ('the server closes inside a frame', msg(MSG_VIDEO_FRAME, frame)[:len(frame) // 2], 'close'),
        ('unknown message types, empty, 1 KB and 4 MiB', b''.join(
            msg(k) + msg(k, bytes(1024)) for k in [0] + list(range(8, 256))) + msg(200, b'\xff' * MAX), 'stays'),
        ('12 AudioData of 4 MiB, an odd byte, an empty one', msg(MSG_STREAM_SETUP, stream_setup(
            WIDTH, HEIGHT, 22050, 2)) + msg(MSG_AUDIO_DATA, chunk) * 12 + msg(MSG_AUDIO_DATA, b'\1')
         + msg(MSG_AUDIO_DATA), 'stays'),
        ('StreamSetups with sound formats no device takes', b''.join(
            msg(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, rate, channels)) + msg(MSG_AUDIO_DATA, chunk[:65536])
            for rate, channels in ((-1, 2), (0x7FFFFFFF, 255), (1, 0), (8000, 3))), 'stays'),
        ('AppLists announcing 65535 entries, names of invalid UTF-8, cut short',
         msg(MSG_APP_LIST, b'\xff\xff' + names) + msg(MSG_STREAM_STATE, bytes([0, 1, 0]))
         + msg(MSG_APP_LIST, b'\xff\xff' + struct.pack('<HBB', 9, 0, 255) + b'cut') + msg(MSG_APP_LIST, b'\5')
         + msg(MSG_APP_LIST), 'stays'),
        ('texts of every slot longer than their fields, of invalid UTF-8', b''.join(
            msg(MSG_SERVER_TEXT, bytes([slot]) + text[slot:20000 + slot * 300]) for slot in range(256))
         + msg(MSG_SERVER_TEXT, b'\0' + b'\xc3' * (MAX - 1))
         + msg(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT) + b'\xff' * 10000), 'stays')]


def hostile(args):
    session = Session(args, {'ljud': 1, 'stereo': 1})
    try:
        alive(session, conn := session.start(), 'at the start')
        for label, data, then in blows():
            conn.send_raw(data)
            if then == 'ends':
                session.check('%s: the client ends the link' % label, conn.wait_closed(10))
            if then != 'stays':   # the client reads what came before the link closes
                conn = time.sleep(0.2) or conn.close() or fresh(session, label)
            alive(session, conn, label)

        # Frames with absurd headers or bodies: each acknowledged, in order; a 16-byte body is not a frame.
        good = video_frame(0, 0, 0, blocks(WIDTH, HEIGHT, lambda bx, by: fill(1)))[17:]
        noise = bytes(random.Random(7).getrandbits(8) for _ in range(200000))
        frames = [(WIDTH, HEIGHT, 0xFFFFFFFF, good), (WIDTH, HEIGHT, 0, good), (65535, 65535, 192, good),
                  (0, 0, 192, good), (65535, 1, 192, good), (WIDTH, HEIGHT, 4800, b'not zlib'),
                  (WIDTH, HEIGHT, 4800, good[:len(good) // 2]), (333, 77, len(noise), None)]
        mark = conn.mark()
        conn.send_raw(b''.join(msg(MSG_VIDEO_FRAME, video_frame(7000 + i, width, height, noise, size, body))
                               for i, (width, height, size, body) in enumerate(frames)))
        conn.send(MSG_VIDEO_FRAME, struct.pack('<I', 7100) + bytes(12))
        wait_for(lambda: len(conn.since(mark, (MSG_FRAME_ACK,))) >= len(frames) + 1, 20)
        got = [p for _, p in conn.since(mark, (MSG_FRAME_ACK,))]
        session.check('frames of absurd sizes, raw sizes and bodies: each acknowledged, in order',
                      got == [struct.pack('<I', 7000 + i) for i in range(len(frames))], repr(got))

        # A 4 MiB title is cut to 127 characters; a text sent one byte at a time arrives whole.
        conn.send(MSG_SERVER_TEXT, b'\x03' + b'T' * (MAX - 1))
        session.check('a 4 MiB title is cut to 127 characters',
                      wait_for(lambda: session.client.title() == 'Quorvane! - ' + 'T' * 127, 10))
        conn.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
        session.server.answer_pings = False   # no Pong inside the message
        [conn.send_raw(bytes([byte])) or time.sleep(0.5) for byte in msg(MSG_SERVER_TEXT, b'\0ok')]
        session.server.answer_pings = True
        session.check('a status text sent one byte at a time arrives whole; the link stays', not conn.closed
                      and wait_for(lambda: session.shot().count(40, HEIGHT - 64, 80, HEIGHT - 42, STATUS) > 10, 10))
        alive(session, conn, 'after the slow text')

        session.exit()
    finally:
        session.close()
    return session.failed


TCP_BUFFERS = ['/proc/sys/net/ipv4/tcp_wmem', '/proc/sys/net/ipv4/tcp_rmem']
def set_tcp_buffers(values): [open(path, 'w').write(value) for path, value in zip(TCP_BUFFERS, values)]


def stuck(args):
    saved, session, flood = [open(path).read() for path in TCP_BUFFERS], None, None
    try:
        set_tcp_buffers(['4096 4096 4096'] * 2)
        session = Session(args, server=FakeServer(rcvbuf=4096))
        conn = session.start()   # then every connection streams at once
        session.server.on_connect = stream = lambda conn: conn.send_raw(msg(MSG_STREAM_SETUP, stream_setup(
            WIDTH, HEIGHT)) + msg(MSG_STREAM_STATE, bytes([1, 1, 0])) + msg(MSG_VIDEO_FRAME, solid(1, COLOURS[2])))
        stream(conn)
        session.check('streaming', wait_for(lambda: shows(session, COLOURS[2]), 10, 0.1))
        session.server.reading.clear()   # from now on each connection is read up to its Hello only
        flood = subprocess.Popen(['xdotool', 'type', '--delay', '2', 'a' * 4000], env=session.display.env)
        fresh(session, 'the server stops reading while keys flood in', 60)
        shown = session.display.key('F11') or wait_for(lambda: stats_shown(session.shot()), 15, 0.1)
        hidden = shown and (session.display.key('F11') or wait_for(
            lambda: not stats_shown(session.shot()) and shows(session, COLOURS[2]), 15, 0.1))
        session.check('the window answers and repaints: F11 shows the statistics line, F11 hides it again',
                      hidden, 'shown %r, hidden %r' % (shown, hidden))
        session.exit()
    finally:
        set_tcp_buffers(saved)
        flood and (flood.kill(), flood.wait())
        session and session.close()
    return session.failed


if __name__ == '__main__':
    sys.exit(main({'hostile': hostile, 'stuck': stuck}))
