#!/usr/bin/env python3
"""A soak of quorvane.exe under Wine: for a bounded time a server streams
frames of changing sizes with sound, sends text updates that repaint the
title screen many times a second, and switches between the menu and the
stream, while keys, pointer moves and the wheel are injected.

    python3 scripts/soak.py --exe build/win/quorvane.exe --out build/win/e2e --seconds 600 [--margin-mb 8]

At the end the client must draw the title screen exactly as it did at the
start (fonts and brushes still work), and a known picture pixel-exactly; the
resident memory of its Wine process, sampled once a second, must level off:
the largest sample of the last third is at most the largest of the first
third plus the margin. The figures are printed at the end. A tool that
measures, run by scripts/soak.sh; the test suite does not run it.
"""

import argparse
import os
import random
import shutil
import signal
import struct
import sys
import tempfile
import threading
import time
import traceback
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'e2e'))
from harness import (  # noqa: E402
    BAND, HEIGHT, MSG_APP_LIST, MSG_AUDIO_DATA, MSG_FRAME_ACK, MSG_HELLO, MSG_SERVER_TEXT, MSG_STREAM_SETUP,
    MSG_STREAM_STATE, MSG_VIDEO_FRAME, WIDTH, Session, app_list, blocks, fill, raw, rgb555, stream_setup,
    video_frame, wait_for)
from run_e2e import MENU, picture, test_picture  # noqa: E402


def server_text(slot, text):
    return bytes([slot]) + text.encode()

SIZES = [(640, 480), (320, 240), (800, 600), (160, 120), (1024, 768), (333, 201)]
KEYS = ['a', 'b', 'Left', 'Right', 'Up', 'Down', 'space', 'Return', 'shift+c', 'BackSpace']


def rss_kib(pid):
    try:
        with open('/proc/%d/status' % pid) as f:
            for line in f:
                if line.startswith('VmRSS:'):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def client_pid(exe):
    """The process that runs the exe: the one whose command line names it,
    with the largest resident set (the Wine loader execs into it)."""
    best = None
    for name in os.listdir('/proc'):
        if not name.isdigit():
            continue
        try:
            with open('/proc/%s/cmdline' % name, 'rb') as f:
                cmdline = f.read()
        except OSError:
            continue
        if exe.encode() in cmdline or exe.replace('/', '\\').encode() in cmdline:
            rss = rss_kib(int(name)) or 0
            if best is None or rss > best[1]:
                best = (int(name), rss)
    return best[0] if best else None


def frame_bodies(width, height, variants=6):
    """Compressed block streams of a picture whose colours change per variant."""
    bodies = []
    for v in range(variants):
        def block(bx, by, v=v):
            if (bx + by + v) % 7 == 0:
                return raw(lambda k, r: rgb555((k * 4 + v) & 31, (r * 4) & 31, (bx + by) & 31))
            return fill(rgb555((bx + v * 5) & 31, (by * 3) & 31, (v * 9) & 31))
        stream = blocks(width, height, block)
        bodies.append((len(stream), zlib.compress(stream, 1)))
    return bodies


def steady_client_area(session, timeout=8):
    """The client area once two screenshots in a row agree."""
    previous = [None]

    def steady():
        shot, (ox, oy) = session.display.shot(), session.origin
        region = b''.join(shot.pixels[((oy + y) * shot.width + ox) * 3:((oy + y) * shot.width + ox + WIDTH) * 3]
                          for y in range(HEIGHT))
        same = region == previous[0]
        previous[0] = region
        return region if same else None
    return wait_for(steady, timeout, interval=0.15)


def show_reference_title(connection, session):
    connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
    connection.send(MSG_APP_LIST, app_list([]))     # the selection back to row 0
    connection.send(MSG_APP_LIST, app_list(MENU))
    connection.send(MSG_SERVER_TEXT, server_text(4, '4711'))
    connection.send(MSG_SERVER_TEXT, server_text(0, 'Uthållighet: samma text som i början'))
    wait_for(lambda: session.shot().box(BAND) == (26, 118, WIDTH - 26, 142), 8)
    return steady_client_area(session)


def show_reference_picture(connection, session):
    connection.send(MSG_STREAM_SETUP, stream_setup(WIDTH, HEIGHT, 22050, 2, b'Referens'))
    connection.send(MSG_STREAM_STATE, bytes([1, 1, 0]))
    mark = connection.mark()
    connection.send(MSG_VIDEO_FRAME, video_frame(900000, WIDTH, HEIGHT, test_picture(WIDTH, HEIGHT)))
    connection.wait(MSG_FRAME_ACK, 8, start=mark)
    problem = [None]

    def shown():
        problem[0] = picture(WIDTH, HEIGHT, 1)(session.shot())
        return problem[0] == ''
    return wait_for(shown, 8, interval=0.2), problem[0]


def soak(args):
    session = Session(args, {'ljud': 1, 'stereo': 1})
    checks = session
    stop = threading.Event()
    try:
        connection = session.start()
        connection.wait(MSG_HELLO, 10)
        pid = client_pid(session.client.exe)
        checks.check('the client process is found in /proc', pid is not None)

        title_before = show_reference_title(connection, session)
        checks.check('reference title screen captured', title_before is not None)
        picture_ok, problem = show_reference_picture(connection, session)
        checks.check('reference picture shown pixel-exactly at the start', picture_ok, problem)

        bodies = {size: frame_bodies(*size) for size in SIZES}
        samples = []          # (seconds, KiB)
        counts = {'frames_sent': 0, 'frames_acked': 0, 'text_updates': 0, 'app_lists': 0,
                  'audio_bytes': 0, 'round_trips': 0, 'inputs': 0, 'size_changes': 0}
        started = time.monotonic()

        def sampler():
            while not stop.is_set():
                value = rss_kib(pid) if pid else None
                if value is not None:
                    samples.append((time.monotonic() - started, value))
                stop.wait(1.0)

        def injector():
            rng = random.Random(3)
            display = session.display
            while not stop.is_set():
                x, y = session.to_screen(rng.randrange(WIDTH), rng.randrange(HEIGHT))
                action = rng.randrange(3)
                try:
                    if action == 0:
                        display.run('xdotool', 'mousemove', str(x), str(y))
                    elif action == 1:
                        display.key(rng.choice(KEYS))
                    else:
                        display.run('xdotool', 'click', str(rng.choice((4, 5))))
                    counts['inputs'] += 1
                except Exception:
                    pass
                stop.wait(0.2)

        threads = [threading.Thread(target=sampler, daemon=True),
                   threading.Thread(target=injector, daemon=True)]
        for thread in threads:
            thread.start()

        frame_id = 1
        cycle = 0
        audio = bytes((i * 13) & 0xFF for i in range(3528))   # 40 ms of 22050 Hz stereo
        while time.monotonic() - started < args.seconds:
            # The menu: the status line and the title change ten times a
            # second, the list now and then.
            connection.send(MSG_STREAM_STATE, bytes([0, 1, 0]))
            counts['round_trips'] += 1
            phase_end = time.monotonic() + 1.5
            step = 0
            while time.monotonic() < phase_end:
                connection.send(MSG_SERVER_TEXT, server_text(0, 'Status %d: åäö € %s' % (step, 'x' * (step % 40))))
                connection.send(MSG_SERVER_TEXT, server_text(3, 'Titel %d' % step))
                counts['text_updates'] += 2
                if step % 5 == 0:
                    entries = [(i, i % 5, 'Program %d %s' % (i, 'å' * (step % 9))) for i in range(1 + step % 12)]
                    connection.send(MSG_APP_LIST, app_list(entries))
                    counts['app_lists'] += 1
                step += 1
                time.sleep(0.1)

            # The stream: a new size, frames with sound, paced by the acks.
            width, height = SIZES[cycle % len(SIZES)]
            connection.send(MSG_STREAM_SETUP, stream_setup(width, height, 22050, 2, 'Strömmar'.encode()))
            connection.send(MSG_STREAM_STATE, bytes([1, cycle % 2, 0]))
            counts['size_changes'] += 1
            phase_end = time.monotonic() + 2.5
            while time.monotonic() < phase_end:
                raw_size, body = bodies[(width, height)][frame_id % 6]
                header = struct.pack('<IHHBI', frame_id, width, height, 0, raw_size) + b'\0' * 4
                connection.send(MSG_VIDEO_FRAME, header + body)
                connection.send(MSG_AUDIO_DATA, audio)
                counts['frames_sent'] += 1
                counts['audio_bytes'] += len(audio)
                # At most 3 frames ahead of the acknowledgements.
                wait_for(lambda: counts['frames_sent'] - len(connection.since(0, (MSG_FRAME_ACK,))) <= 3, 5,
                         interval=0.005)
                frame_id += 1
                time.sleep(0.04)
            cycle += 1
            if connection.closed or session.client.process.poll() is not None:
                break
        duration = time.monotonic() - started
        stop.set()
        for thread in threads:
            thread.join(5)
        wait_for(lambda: len(connection.since(0, (MSG_FRAME_ACK,))) >= counts['frames_sent'] + 1, 10)
        counts['frames_acked'] = len(connection.since(0, (MSG_FRAME_ACK,))) - 1   # less the reference frame

        checks.check('soak: the client still runs and the link stayed',
                     session.client.process.poll() is None and not connection.closed
                     and len(session.server.connections) == 1)
        checks.check('soak: every frame acknowledged',
                     counts['frames_acked'] == counts['frames_sent'],
                     '%d of %d' % (counts['frames_acked'], counts['frames_sent']))

        # The same title screen and the same picture as at the start.
        title_after = show_reference_title(connection, session)
        checks.check('soak: the title screen is drawn exactly as at the start (text, menu, PIN)',
                     title_after is not None and title_after == title_before,
                     'differs' if title_after != title_before else '')
        if title_after != title_before and title_after is not None:
            session.shot().save(os.path.join(args.out, 'soak_title_after.png'))
        picture_ok, problem = show_reference_picture(connection, session)
        checks.check('soak: the known picture is shown pixel-exactly at the end', picture_ok, problem)

        # Memory: the last third may not rise above the first third.
        values = [v for _, v in samples]
        third = max(1, len(values) // 3)
        first_max, last_max = max(values[:third] or [0]), max(values[-third:] or [0])
        checks.check('soak: memory levels off (last third max <= first third max + %d MB)' % args.margin_mb,
                     len(values) >= 6 and last_max <= first_max + args.margin_mb * 1024,
                     'first third max %d KiB, last third max %d KiB' % (first_max, last_max))
        print('SOAK duration %.0f s, cycles %d (menu/stream round trips %d, size changes %d)'
              % (duration, cycle, counts['round_trips'], counts['size_changes']))
        print('SOAK frames sent %d, acknowledged %d; title-screen text updates %d, AppLists %d; '
              'audio %d bytes; injected inputs %d'
              % (counts['frames_sent'], counts['frames_acked'], counts['text_updates'],
                 counts['app_lists'], counts['audio_bytes'], counts['inputs']))
        if values:
            print('SOAK memory (VmRSS of the Wine process): start %d KiB, end %d KiB, min %d, max %d, '
                  'first third max %d, last third max %d, %d samples'
                  % (values[0], values[-1], min(values), max(values), first_max, last_max, len(values)))
            with open(os.path.join(args.out, 'soak_memory.txt'), 'w') as f:
                f.write(''.join('%.1f %d\n' % s for s in samples))
        session.display.key('F12')
        checks.check('F12 ends the program with exit code 0', session.client.wait_exit(15) == 0)
    finally:
        stop.set()
        session.close()
    return session.failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--out', required=True)
    parser.add_argument('--seconds', type=float, default=60)
    parser.add_argument('--margin-mb', type=int, default=8)
    args = parser.parse_args()
    args.exe = os.path.abspath(args.exe)
    args.out = os.path.abspath(args.out)
    os.makedirs(args.out, exist_ok=True)
    args.scratch = tempfile.mkdtemp(prefix='soak-', dir=args.out)
    # Terminated like interrupted: the session's finally ends its X server and Wine.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        failed = soak(args)
    except Exception:
        traceback.print_exc()
        failed = ['soak ran to its end']
    if failed:
        print('FAILED:\n  ' + '\n  '.join(failed))
        print('client folder and Wine log kept in %s' % args.scratch)
        return 1
    shutil.rmtree(args.scratch, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
