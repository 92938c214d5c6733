#!/usr/bin/env python3
"""quorvane-server with real parts: an xterm in the client's private X
server takes Swedish typing, Enter and Ctrl+C; the program survives the menu
and a lost link; a screen entry shows an X display's colour, follows it and
takes clicks; eight clients at once; nothing is left after SIGKILL.
Usage: server_real_check.py SERVER"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

from qv_client import (LAUNCH, MENU, MOUSE_BUTTON, MOUSE_POS, Checks, Client, Server, Xvfb, rgb555)

t = Checks()
out = os.path.join(tempfile.mkdtemp(prefix='qv-real-'), 'typed.txt')
# The shell writes each line it reads to the file, and "^C" when interrupted.
shell = "trap 'echo ^C >> %s; exit' INT; cat > %s" % (out, out)
screen = Xvfb('640x480')
screen.run('xsetroot', '-solid', '#ff0000')
server = Server(sys.argv[1], '''keep_sessions = 1
[[app]]
name = "Terminal"
kind = "program"
command = ["xterm", "-u8", "-fa", "Monospace", "-fs", "14", "-e", "sh", "-c", "%s"]
[[app]]
name = "Skärmen"
kind = "screen"
display = "%s"
''' % (shell.replace('"', '\\"'), screen.display), env=dict(os.environ, LC_ALL='C.UTF-8'))

# Swedish Windows 98 keyboard: (modifiers, virtual key, scan code) per character.
ALTGR = [(0x11, 0x1D), (0x12, 0x138)]
KEYS = {'h': ([], 0x48, 0x23), 'e': ([], 0x45, 0x12), 'j': ([], 0x4A, 0x24), ' ': ([], 0x20, 0x39),
        'å': ([], 0xDD, 0x1A), 'ä': ([], 0xDE, 0x28), 'ö': ([], 0xC0, 0x27), '€': (ALTGR, 0x45, 0x12),
        '@': (ALTGR, 0x32, 0x03), '{': (ALTGR, 0x37, 0x08), '}': (ALTGR, 0x30, 0x0B), '[': (ALTGR, 0x38, 0x09),
        ']': (ALTGR, 0x39, 0x0A), '\\': (ALTGR, 0xBB, 0x0C), '|': (ALTGR, 0xE2, 0x56), '£': (ALTGR, 0x33, 0x04),
        '$': (ALTGR, 0x34, 0x05), '~': ([], 0x20, 0x39)}  # ~: the dead key AltGr+¨ (no character), then space


def type_swedish(c, text):
    for ch in text:
        mods, vk, scan = KEYS[ch]
        for vk_d, scan_d, down in ((0x11, 0x1D, 1), (0x12, 0x138, 1), (0xBA, 0x1B, 1), (0xBA, 0x1B, 0),
                                   (0x12, 0x138, 0), (0x11, 0x1D, 0)) if ch == '~' else ():
            c.key(vk_d, scan_d, down)
        for m in mods:
            c.key(m[0], m[1], 1)
        c.key(vk, scan, 1)
        c.send(66, struct.pack('<H', ord(ch)))
        c.key(vk, scan, 0)
        for m in reversed(mods):
            c.key(m[0], m[1], 0)


def launch(c, app_id, seconds=20):
    frames = c.frames
    c.send(LAUNCH, struct.pack('<H', app_id))
    return c.pump(seconds, lambda: c.states[-1:] == [1] and c.frames > frames) and c.pump(1.5) is False


def changed_rows(a, b, w):
    return sorted({i // w for i in range(len(a)) if a[i] != b[i]})


try:
    text = 'hej åäö €@{}[]\\~|£$'
    c = Client(server.port, name='KALLE', key='x')
    c.pump(5, lambda: c.apps)
    t.check('the menu is the file\'s', [a[2] for a in c.apps] == ['Terminal', 'Skärmen'], c.apps)
    t.check('the terminal streams at the client\'s size', launch(c, 1) and (c.w, c.h) == (320, 240))
    before = list(c.pixels)
    type_swedish(c, text)
    c.pump(3)
    rows = changed_rows(before, c.pixels, c.w)
    t.check('the typed text shows in the top line', rows and rows[0] < 30 and rows[-1] < 40, rows[:3] + rows[-3:])
    top = lambda: c.pixels[:40 * c.w]  # the text's lines; the pointer is drawn lower down
    typed = top()

    c.send(MENU)
    t.check('F9: back to the menu', c.pump(5, lambda: c.states[-1:] == [0]))
    t.check('the program is there again after the menu', launch(c, 1) and top() == typed)
    c.close()
    c = Client(server.port, name='KALLE', key='x')
    c.pump(5, lambda: c.apps)
    t.check('and after a lost link, for the same name and key', launch(c, 1) and top() == typed)
    other = Client(server.port, name='OLLE', key='x')
    other.pump(5, lambda: other.apps)
    t.check('another client gets a program of its own', launch(other, 1) and other.pixels[:40 * c.w] != typed)
    other.close()

    c.key(0x0D, 0x1C, 1)
    c.key(0x0D, 0x1C, 0)
    # Ctrl+C flushes what the terminal has not handed on yet: wait for the line.
    c.pump(5, lambda: os.path.exists(out) and os.path.getsize(out) > 0)
    for vk, scan, down in ((0x11, 0x1D, 1), (0x43, 0x2E, 1), (0x43, 0x2E, 0), (0x11, 0x1D, 0)):
        c.key(vk, scan, down)
    ended = c.pump(10, lambda: 'Terminal har avslutats.' in c.status())
    t.check('Ctrl+C ends the program: a status text and the menu', ended and c.states[-1] == 0, c.status()[-2:])
    t.check('the file holds exactly the text', open(out, encoding='utf-8').read() == text + '\n^C\n',
            repr(open(out, encoding='utf-8').read()) if os.path.exists(out) else 'no file')
    c.close()

    # A screen entry: colour, a change within a second, eight watchers.
    clients = [Client(server.port, name='C%d' % i) for i in range(8)]
    for k in clients:
        k.pump(5, lambda: k.apps)
    t.check('eight clients stream the screen', all(launch(k, 2, 30) for k in clients))
    red = rgb555(255, 0, 0)
    t.check('each sees its colour', all(k.pixel(10, 10) == red for k in clients), [k.pixel(10, 10) for k in clients])
    screen.run('xsetroot', '-solid', '#0000ff')
    start, blue = time.time(), rgb555(0, 0, 255)
    t.check('and follows a change within a second', clients[0].pump(1, lambda: clients[0].pixel(10, 10) == blue),
            time.time() - start)
    t.check('so do the other seven', all(k.pump(5, lambda: k.pixel(10, 10) == blue) for k in clients[1:]))
    for k in clients[1:]:
        k.close()

    # A click at picture (100, 50) lands at screen (200, 100): 640x480 shown at 320x240.
    xev = subprocess.Popen(['stdbuf', '-oL', 'xev', '-root', '-event', 'button'], env=dict(os.environ, DISPLAY=screen.display),
                           stdout=subprocess.PIPE, text=True)
    time.sleep(1)
    k = clients[0]
    k.send(MOUSE_POS, struct.pack('<HH', 100, 50))
    k.send(MOUSE_BUTTON, b'\x01\x01')
    k.send(MOUSE_BUTTON, b'\x01\x00')
    k.pump(1)
    xev.terminate()
    seen = xev.communicate(timeout=5)[0]
    at = re.search(r'ButtonPress.*?root:\((\d+),(\d+)\)', seen, re.S)
    t.check('a click reaches the matching screen position (within a pixel)',
            at and abs(int(at.group(1)) - 200) <= 1 and abs(int(at.group(2)) - 100) <= 1, seen[:300])
    k.close()

    # SIGKILL: the supervisors take the programs along.
    c = Client(server.port, name='KALLE', key='x')
    c.pump(5, lambda: c.apps)
    launch(c, 1)
    alive = lambda: subprocess.run(['pgrep', '-f', out], capture_output=True).returncode == 0
    t.check('a program runs again', alive())
    server.stop(9)
    time.sleep(1)
    t.check('nothing is left a second after SIGKILL', not alive())
finally:
    server.stop(9)
    screen.stop()
    if t.failures:
        print(server.log_text()[-6000:])
t.exit()
