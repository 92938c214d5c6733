#!/usr/bin/env python3
"""quorvane-server with real parts: an xterm in the client's private X server takes Swedish typing, Enter and
Ctrl+C; the program survives the menu and a lost link; a screen entry shows an X display's colour, follows it and
takes clicks; eight clients at once; nothing is left after SIGKILL. Usage: server_real_check.py SERVER"""
import os, re, subprocess, sys, tempfile, time

from qv_client import ALTGR, CTRL, MENU, Server, check, connect, done, failures, rgb555
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))
from harness import Display  # noqa: E402

out = os.path.join(tempfile.mkdtemp(prefix='qv-real-'), 'typed.txt')
# The shell writes each line it reads to the file, and "^C" when interrupted.
shell = "trap 'echo ^C >> %s; exit' INT; cat > %s" % (out, out)
screen = Display(640, 480)
screen.run('xsetroot', '-solid', '#ff0000')
# A fixed quality: pictures of the same text are compared pixel for pixel.
server = Server(sys.argv[1], 'keep_sessions = 1\nquality = 70\n[[app]]\nname = "Terminal"\nkind = "program"\n'
                'command = ["xterm", "-u8", "-fa", "Monospace", "-fs", "14", "-e", "sh", "-c", "%s"]\n'
                '[[app]]\nname = "Skärmen"\nkind = "screen"\ndisplay = "%s"\n' % (shell.replace('"', '\\"'), screen.name),
                ['--idle-timeout', '120'], env=dict(os.environ, LC_ALL='C.UTF-8'))  # eight launches one by one
# A sanitizer's build runs slower: its time limits stretch by this factor.
SLOW = float(os.environ.get('QV_TIME_SCALE', '1'))

# Swedish Windows 98 keyboard: (virtual key, scan code) per character, with AltGr (Ctrl+right Alt) or without.
KEYS = dict(zip('hej åäö~', ((0x48, 0x23), (0x45, 0x12), (0x4A, 0x24), (0x20, 0x39), (0xDD, 0x1A), (0xDE, 0x28),
                             (0xC0, 0x27), (0x20, 0x39))))
ALT_GR = dict(zip('€@{}[]\\|£$', ((0x45, 0x12), (0x32, 0x03), (0x37, 0x08), (0x30, 0x0B), (0x38, 0x09), (0x39, 0x0A),
                                 (0xBB, 0x0C), (0xE2, 0x56), (0x33, 0x04), (0x34, 0x05))))
try:
    text = 'hej åäö €@{}[]\\~|£$'
    c = connect(server.port, name='KALLE', key='x')
    check('the menu is the file\'s', [a[2] for a in c.apps] == ['Terminal', 'Skärmen'], c.apps)
    check('the terminal streams at the client\'s size', c.launch(1) and (c.w, c.h) == (320, 240))
    before = list(c.pixels)
    for ch in text:
        if ch == '~':  # the dead key AltGr+¨ (no character), then space
            c.press(CTRL, ALTGR, (0xBA, 0x1B))
        c.press(*((CTRL, ALTGR, ALT_GR[ch]) if ch in ALT_GR else (KEYS[ch],)), char=ch)
    c.pump(3)
    rows = sorted({i // c.w for i in range(len(before)) if before[i] != c.pixels[i]})
    check('the typed text shows in the top line', rows and rows[0] < 30 and rows[-1] < 40, rows[:3] + rows[-3:])
    top = lambda k: k.pixels[:40 * k.w]  # the text's lines; the pointer is drawn lower down
    typed = top(c)
    c.send(MENU)
    check('F9: back to the menu', c.pump(5, lambda: c.states[-1:] == [0]))
    check('the program is there again after the menu', c.launch(1) and top(c) == typed)
    c.close()
    c = connect(server.port, name='KALLE', key='x')
    check('and after a lost link, for the same name and key', c.launch(1) and top(c) == typed)
    other = connect(server.port, name='OLLE', key='x')
    check('another client gets a program of its own', other.launch(1) and top(other) != typed)
    other.close()
    c.press((0x0D, 0x1C))
    # Ctrl+C flushes what the terminal has not handed on yet: wait for the line.
    c.pump(5, lambda: os.path.exists(out) and os.path.getsize(out) > 0)
    c.press(CTRL, (0x43, 0x2E))
    ended = c.pump(10, lambda: 'Terminal har avslutats.' in c.status())
    check('Ctrl+C ends the program: a status text and the menu', ended and c.states[-1] == 0, c.status()[-2:])
    got = open(out, encoding='utf-8').read() if os.path.exists(out) else 'no file'
    check('the file holds exactly the text', got == text + '\n^C\n', repr(got))
    c.close()

    # A screen entry: colour, a change within a second, eight watchers.
    clients = [connect(server.port, name='C%d' % i) for i in range(8)]
    check('eight clients stream the screen', all(k.launch(2, 30) for k in clients))
    red, blue = rgb555(255, 0, 0), rgb555(0, 0, 255)
    check('each sees its colour', all(k.pixel(10, 10) == red for k in clients), [k.pixel(10, 10) for k in clients])
    screen.run('xsetroot', '-solid', '#0000ff')
    start, k = time.time(), clients[0]
    check('and follows a change within a second', k.pump(SLOW, lambda: k.pixel(10, 10) == blue), time.time() - start)
    check('so do the other seven', all(o.pump(5, lambda: o.pixel(10, 10) == blue) for o in clients[1:]))
    for o in clients[1:]:
        o.close()

    # A click at picture (100, 50) lands at screen (200, 100): 640x480 shown at 320x240.
    xev = subprocess.Popen(['stdbuf', '-oL', 'xev', '-root', '-event', 'button'], text=True,
                           env=dict(os.environ, DISPLAY=screen.name), stdout=subprocess.PIPE)
    time.sleep(1)
    k.click(100, 50)
    k.pump(1)
    xev.terminate()
    seen = xev.communicate(timeout=5)[0]
    at = re.search(r'ButtonPress.*?root:\((\d+),(\d+)\)', seen, re.S)
    check('a click reaches the matching screen position (within a pixel)',
          at and abs(int(at.group(1)) - 200) <= 1 and abs(int(at.group(2)) - 100) <= 1, seen[:300])
    k.close()

    # SIGKILL: the supervisors take the programs along.
    connect(server.port, name='KALLE', key='x').launch(1)
    alive = lambda: subprocess.run(['pgrep', '-f', out], capture_output=True).returncode == 0
    check('a program runs again', alive())
    server.stop(9)
    time.sleep(1)
    check('nothing is left a second after SIGKILL', not alive())
finally:
    server.stop(9)
    screen.close()
    if failures:
        print(server.log_text()[-6000:])

# As root with a user: the program runs as that user, on an X server that wants a cookie and without sound.
if os.geteuid() == 0:
    seen = tempfile.mkdtemp(prefix='qv-user-')
    os.chmod(seen, 0o1777)
    server = Server(sys.argv[1], 'user = "nobody"\n[[app]]\nname = "Id"\nkind = "program"\ncommand = ["sh", "-c", '
                    '"echo $(id -u) $DISPLAY $XAUTHORITY $PULSE_SERVER > %s/env.new; mv %s/env.new %s/env; sleep 60"]\n'
                    % (seen, seen, seen))
    try:
        c = connect(server.port)
        c.launch(1)
        uid, display, auth, sound = open(seen + '/env').read().split()
        check('the program runs as nobody', uid == '65534', uid)
        xvfb = subprocess.run(['ps', '-o', 'user=,args=', '-C', 'Xvfb'], capture_output=True, text=True).stdout
        check('its X server too, with -auth of its cookie', 'nobody' in xvfb and '-auth ' + auth in xvfb, xvfb)
        st = os.stat(auth)
        check('the cookie is the user\'s alone', (st.st_uid, st.st_mode & 0o777) == (65534, 0o600), st)
        xdpy = lambda a: subprocess.run(['xdpyinfo'], env=dict(os.environ, DISPLAY=display, XAUTHORITY=a),
                                        capture_output=True).returncode
        check('an X client needs the cookie', (xdpy('/dev/null'), xdpy(auth)) == (1, 0))
        check('no sound asked: PULSE_SERVER leads nowhere', sound.startswith('unix:') and
              not os.path.exists(sound[5:]), sound)
        subprocess.run(['pkill', '-KILL', '-f', 'Xvfb .*-auth ' + auth])
        # The text comes after the state; the source or the display session may be the first to notice.
        told = lambda: c.status()[-1] in ('Skärmen är inte längre tillgänglig.', 'X-servern för Id har stängts.')
        gone = c.pump(10, lambda: c.states[-1:] == [0] and told())
        check('its X server killed: the client is back in the menu, told why', gone, c.status())
    finally:
        server.stop(9)
done()
