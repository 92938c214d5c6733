#!/usr/bin/env python3
"""Game stream entries against the test host: pairing by the PIN shown in text slot 4 (a wrong PIN, a refusing
or absent host, F9 while the PIN shows, no PIN after a restart), the host's picture, tone and input, F9 and resume,
the host's apps as menu entries, a host that vanishes, and a smoke run of scripts/moonlight-check.sh.
Usage: server_moonlight_check.py SERVER FAKE_HOST MOONLIGHT_CHECK_SH"""
import os, socket, struct, subprocess, sys, tempfile, threading, time

from qv_client import KEY, LAUNCH, MENU, MOUSE_POS, PING, Server, check, connect, done

server_bin, host_bin, check_sh = sys.argv[1:4]
work = tempfile.mkdtemp(prefix='qv-moonlight-')
env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, 'data'))


class Host:  # the test host: typed into through its stdin, its API events read from its stdout
    def __init__(self, *args):
        self.log = os.path.join(work, 'input-%d.log' % time.monotonic_ns())
        self.proc = subprocess.Popen([host_bin, '--input-log', self.log] + list(args), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        self.http, self.events = int(self.proc.stdout.readline().split()[1]), []
        threading.Thread(target=lambda: [self.events.append(l.strip()) for l in self.proc.stdout], daemon=True).start()

    def type(self, line):
        self.proc.stdin.write(line + '\n')
        self.proc.stdin.flush()

    def saw(self, word, seconds=10):  # waits for an event line beginning with `word`
        end = time.time() + seconds
        while not any(e.startswith(word) for e in self.events) and time.time() < end:
            time.sleep(0.05)
        return any(e.startswith(word) for e in self.events)

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(10)


def entry(name, port, extra=''):
    return '[[app]]\nname = "%s"\nkind = "moonlight"\nhost = "127.0.0.1"\nport = %d\n%s' % (name, port, extra)


def launch(c, app_id, until=None, seconds=10):  # texts and states from here on
    c.texts, c.states = [], []
    c.send(LAUNCH, struct.pack('<H', app_id))
    c.pump(seconds, until)
    c.pump(0.3)  # the texts that come with it


pin_shown = lambda c: lambda: any(s == 4 and t for s, t in c.texts)
streams = lambda c: lambda: c.states[-1:] == [1] and c.frames > 2
back = lambda c: lambda: 0 in c.states
said = lambda c, words: words in ' '.join(c.status())
pin = lambda c: ([t for s, t in c.texts if s == 4 and t] or [''])[-1]  # the last PIN shown
pin_now = lambda c: ([t for s, t in c.texts if s == 4] or [''])[-1]  # what slot 4 holds now

host, refusing = Host('--drop-every', '7'), Host('--refuse-pairing')
nobody = socket.socket()
nobody.bind(('127.0.0.1', 0))  # bound, not listening: refused at once
toml = (entry('Spel', host.http, 'app = "Desktop"\n') + entry('Alla', host.http) +
        entry('Borta', nobody.getsockname()[1]) + entry('Nej', refusing.http, 'app = "Desktop"\n'))
server = Server(server_bin, toml, env=env)
try:
    c = connect(server.port, size=(640, 480), rate=22050)
    check('the entries are in the menu as kind 4', [k for _, k, _ in c.apps] == [4] * 4, c.apps)
    for app_id, words in ((3, 'svarar inte'), (4, 'vägrade')):
        launch(c, app_id, back(c))
        check('a host that %s: the menu stays, a text says so' % words,
              1 not in c.states and said(c, words) and pin_now(c) == '', c.texts)

    launch(c, 1, pin_shown(c))
    check('unpaired: a PIN of 4 digits in slot 4, a prompt, the menu stays',
          len(pin(c)) == 4 and pin(c).isdigit() and said(c, 'PIN-koden') and c.states == [], c.texts)
    pongs, handle = [], c.handle  # a Ping comes back as a Pong of its own four bytes
    c.handle = lambda kind, p: pongs.append(p) if kind == 7 else handle(kind, p)
    c.send(PING, struct.pack('<I', 77))
    check('a Ping is answered while the PIN waits', c.pump(3, lambda: pongs) and pongs == [struct.pack('<I', 77)])
    host.saw('pair waiting')
    host.type('pin %04d' % ((int(pin(c)) + 1) % 10000))
    c.pump(10, back(c))
    c.pump(0.3)
    check('a wrong PIN: slot 4 emptied, a text says so, no stream',
          pin_now(c) == '' and said(c, 'Fel PIN-kod') and 1 not in c.states, c.texts)
    launch(c, 1, pin_shown(c))
    c.send(MENU)
    c.pump(3, back(c))
    check('F9 while the PIN shows: the PIN goes', pin_now(c) == '' and c.states == [0], c.texts)

    launch(c, 1, pin_shown(c))
    d = connect(server.port)
    launch(d, 1, lambda: d.status())
    d.send(MENU)
    check('a second client meanwhile: no second PIN, it waits, F9 ends its wait', d.pump(2, back(d)) and
          said(d, 'En annan klient') and pin_now(d) == '', d.texts)
    host.saw('pair waiting')
    host.type('pin ' + pin(c))
    c.pump(20, streams(c))
    check('the right PIN: slot 4 emptied, then the stream', pin_now(c) == '' and streams(c)(), c.texts)
    check('the app launched at the client\'s size and rate', host.saw('launch 1001 640x480x30'), host.events)
    decode, counted = c.decode, [0]
    c.decode = lambda body: counted.__setitem__(0, counted[0] + 1)  # counting only: the decoder is slow
    c.pump(3)
    c.decode = decode
    # The rate is measured (scripts/moonlight-check.sh reports it), not asserted: the machine is shared.
    check('frames keep coming (%.1f a second)' % (counted[0] / 3), counted[0] >= 6)
    colours = set()
    for _ in range(8):
        c.pump(0.25)
        colours.add(tuple(c.pixel(320, 240) >> shift & 31 for shift in (10, 5, 0)))
    check('the host\'s pictures: pure colours, changing', len(colours) >= 2 and all(
        max(col) >= 28 and all(x <= 3 or x >= 28 for x in col) for col in colours), colours)
    loud = [v for p in c.sound for v in struct.unpack('<%dh' % (len(p) // 2), p)[::2]]
    heard = sum(1 for a, b in zip(loud, loud[1:]) if a < 0 <= b) * 22050 / max(1, len(loud))
    check('the host\'s 440 Hz tone', abs(heard - 440) < 15, '%.1f Hz' % heard)
    # The input path through the server; each kind of input is checked in moonlight_stream_test.cpp.
    c.send(KEY, struct.pack('<BHB', 0x41, 0x1E, 1))
    c.send(MOUSE_POS, struct.pack('<HH', 320, 240))
    c.pump(2)
    got = open(host.log).read()
    check('the host got a key and the pointer', 'key down vk=0x41' in got and 'mouse abs 320 240' in got, got[-300:])

    c.send(MENU)
    check('F9: back in the menu', c.pump(5, back(c)) and c.states[-1:] == [0])
    launch(c, 1, streams(c), 20)
    check('chosen again: the app ran on, resumed without a PIN',
          streams(c)() and host.saw('resume 1001') and pin(c) == '', c.texts)
    names = [n for _, _, n in connect(server.port).apps]
    check('an entry without app: the host\'s apps', names[1:3] == ['Alla: Desktop', 'Alla: Testspel'], names)
finally:
    server.stop()
    refusing.stop()

key = os.path.join(env['XDG_DATA_HOME'], 'quorvane', 'client.key')
check('the client key is for its owner only', os.stat(key).st_mode & 0o777 == 0o600, oct(os.stat(key).st_mode))
server = Server(server_bin, toml.replace('"Desktop"\n', '"Desktop"\npointer = "locked"\n', 1), env=env)
try:
    c, modes = connect(server.port, size=(320, 240), fps=25), []
    handle = c.handle
    c.handle = lambda kind, p: (kind == 5 and modes.append(p[:3]), handle(kind, p))
    launch(c, 1, streams(c), 20)
    check('a restarted server needs no PIN; resumed at this client\'s size and rate',
          streams(c)() and pin(c) == '' and host.saw('resume 1001 320x240x25'), c.texts)
    c.send(67, struct.pack('<hh', 5, -3))  # MouseDelta
    c.pump(1)
    check('pointer = "locked": StreamState says so, motion goes as relative',
          modes[-1:] == [bytes([1, 0, 4])] and 'mouse rel 5 -3' in open(host.log).read(), modes)
    host.type('vanish')
    start = time.time()
    c.pump(8, back(c))
    check('the host vanishes: the menu (StreamState 0, absolute, no app) and a text within 5 s',
          modes[-1:] == [bytes([0, 1, 0])] and c.status() and
          time.time() - start < 8, '%.1f s %s' % (time.time() - start, c.texts[-2:]))
    check('the server serves on', len(connect(server.port).apps) >= 4)
finally:
    server.stop()
    host.stop()

# The tool for a person with a real host, against a fresh test host.
host = Host()
tool = subprocess.Popen([check_sh, '127.0.0.1:%d' % host.http], env=dict(env, QV_SERVER=server_bin, QV_CHECK_SECONDS='1'),
                        stdout=subprocess.PIPE, text=True)
out = []
for line in tool.stdout:
    out.append(line)
    if line.startswith('PIN: '):
        host.type('pin ' + line.split()[1])
tool.wait(60)
host.stop()
text = ''.join(out)
check('moonlight-check.sh pairs, lists, streams and reports', tool.returncode == 0 and 'PIN round trip: ' in text and
      'Desktop, Testspel' in text and 'frames per second' in text, text)
done()
