#!/usr/bin/env python3
"""quorvane-server's command line and configuration file: bad files and options stop it with exit code 2 and a
message naming the fault, a key is demanded before programs are offered to the network, wrong keys wait, and a
demo menu from a file is served. Usage: server_config_check.py SERVER"""
import os, re, struct, subprocess, sys, tempfile, time

from qv_client import LAUNCH, MENU, Client, Server, check, connect, done

server = sys.argv[1]
path = os.path.join(tempfile.mkdtemp(prefix='qv-config-'), 'bad.toml')
demo = '[[app]]\nname = "Demo"\nkind = "demo"\n'
term = '[[app]]\nname = "Terminal"\nkind = "program"\ncommand = ["xterm"]\n'
x = demo + '[[app]]\nname = "X"\nkind = '
write = lambda toml: (open(path, 'w').write(toml), path)[1]
logged = lambda pattern: any(time.sleep(0.1) or re.search(pattern, s.log_text(), re.S) for _ in range(50))  # within 5 s


def run(toml, *args):
    write(toml)
    r = subprocess.run([server, '--config', path] + list(args), capture_output=True, timeout=10, text=True)
    return r.returncode, r.stderr


def starts(*argv):
    p = subprocess.Popen([server, '--config'] + list(argv), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    port = p.stdout.readline().strip()
    p.kill(), p.wait()
    return port.isdigit()


# A bad file: exit 2 before listening, one message with file, line and fault.
for toml, line, words in [
        ('listen = "0.0.0.0:3300\n' + demo, 1, 'string'), (x + '"spel"\n', 6, "unknown kind 'spel'"),
        (x + '"program"\n', 4, "missing key 'command'"), (x + '"window"\ndisplay = ":0"\n', 4, "missing key 'title'"),
        (x + '"web"\n', 4, "missing key 'home'"), (x + '"program"\ncommand = "xterm"\n', 7, "'command' must be a list"),
        ('keep_sessions = "10"\n' + demo, 1, "'keep_sessions' must be"),
        ('key = 5\n' + demo, 1, "'key' must be a text"),
        ('quality = 0\n' + demo, 1, "'quality' must be"), ('listen = "nowhere"\n' + demo, 1, "'listen' must be"),
        ('lyssna = "x"\n' + demo, 1, "unknown key 'lyssna'"), (x + '"moonlight"\n', 4, "missing key 'host'"),
        (x + '"moonlight"\nhost = "h"\nport = 0\n', 8, "'port' must be a port number"),
        (x + '"moonlight"\nhost = "h"\npointer = "fast"\n', 8, "'pointer' must be"), ('key = "k"\n', 1, 'no [[app]]')]:
    code, err = run(toml)
    check('bad file (%s) stops with its line' % words, code == 2 and f'bad.toml:{line}: ' in err and words in err, err)
code, err = run(demo, '--config', '/nonexistent/server.toml')
check('a missing file is named', code == 2 and '/nonexistent/server.toml' in err, err)
for bad in (['--size', '10x10'], ['--listen', 'x'], ['--nonsense'], ['--key', 'k' * 30], ['--key', 'a', '--no-key'],
            ['--quality', '101'], ['--quality', 'best']):
    code, err = run(demo, *bad)
    check('refuses ' + ' '.join(bad), code == 2 and '--help' in err, err)

# Programs offered beyond loopback need a key, and the message says how.
code, err = run(term, '--listen', '0.0.0.0:0')
check('no key on 0.0.0.0: refused', code == 2 and '--key' in err and 'key =' in err and '--no-key' in err, err)
check('--no-key starts it', starts(path, '--listen', '0.0.0.0:0', '--no-key', '--allow-root'))
# The example file (the package's /etc/quorvane/server.toml) waits for a key; every example in it is valid.
example = open(os.path.join(os.path.dirname(__file__), '..', '..', 'server', 'example-server.toml')).read()
code, err = run(example, '--listen', '0.0.0.0:0')
check('the example file refuses the network until a key is set', code == 2 and 'key =' in err, err)
everything = re.sub(r'(?m)^# (?=\[\[app\]\]|\w+ = )', '', example)
check('the example file, all uncommented, starts it', starts(write(everything), '--listen', '0.0.0.0:0', '--user', 'nobody'))

# Started as root, a menu that starts programs needs a user to run them as.
screen = '[[app]]\nname = "S"\nkind = "screen"\ndisplay = ":0"\n'
for toml, args, ok in [(term, [], False), (demo + screen, [], True), (term, ['--allow-root'], True),
                       (term, ['--user', 'nobody'], True), ('user = "nobody"\n' + term, [], True)]:
    if os.geteuid() != 0:
        break
    code, err = (0, '') if ok else run(toml, '--listen', '127.0.0.1:0')
    check('as root: %s %s %s' % (toml.split('kind = ')[-1].split()[0], ' '.join(args), 'starts' if ok else 'refused'),
          starts(write(toml), '--listen', '127.0.0.1:0', *args) if ok else
          code == 2 and all(w in err for w in ('user =', '--user', '--allow-root')), err)

# A menu from the file; a keyed server; wrong keys wait a second.
s = Server(server, 'key = "hemlig"\n' + term + demo + screen.replace(':0', ':87'), ['--frames', '12'])
try:
    right = Client(s.port, key='hemlig')
    check('the menu and a welcome by name', right.pump(5, lambda: right.apps and right.status()) and right.status() == [
        'Välkommen, TEST! Välj med pilarna och Enter.'] and right.apps == [(1, 0, 'Terminal'), (2, 0, 'Demo'), (3, 1, 'S')])
    right.sock.sendall(struct.pack('<IB', 1, LAUNCH) + b'\x02' + struct.pack('<IB', 0, MENU))  # one byte short
    check('a cut LaunchApp starts nothing', not right.pump(1, lambda: right.frames or 1 in right.states))
    for n in (4096, 4097):  # a client's message of up to 4096 bytes is read, a longer one ends its link
        m = connect(s.port, key='hemlig')
        m.sock.sendall(struct.pack('<IB', n, 99) + b'x' * n + struct.pack('<IB', 0, MENU))
        check('a message of %d bytes' % n, m.pump(3, lambda: 0 in m.states) == (n == 4096), m.states)
    check('a screen that is not there: the menu stays, a text says why', not right.launch(3, 2) and
          right.states[-1:] == [0] and right.status()[-1:] == ['Skärmen :87 går inte att visa.'], right.texts)
    decode, right.decode = right.decode, lambda body: (time.sleep(0.1), decode(body))  # a slow client
    right.send(LAUNCH, b'\x02\x00')
    right.pump(10, lambda: right.frames >= 12)
    check('the demo until --frames, counted in the log; a slow client gets a lower quality', not right.pump(2) and
          right.frames == 12 and logged(r'quality \d+: a frame gets through.*: 12 frames, mean PSNR [\d.]+ dB over 12 lossy'))
    ticks = lambda: sum(int(v) for v in open('/proc/%d/stat' % s.proc.pid).read().rsplit(')', 1)[1].split()[11:13])
    started, wrong, cpu = time.time(), [Client(s.port, key='fel') for _ in range(3)], ticks()
    [c.pump(6, lambda: 'nyckel' in ' '.join(c.status())) for c in wrong]
    waited, cpu = time.time() - started, ticks() - cpu  # in 1/100 s
    check('three wrong keys from one address take 2 s; the server idles', 1.9 <= waited < 6 and cpu < 20, (waited, cpu))
    check('no wrong key got the menu; each was told', all(not c.apps and c.status()[-1:] == [
        'Fel nyckel: servern släpper inte in dig. Ändra nyckeln med F10.'] for c in wrong), [c.texts for c in wrong])
    check('the key is never logged; refusals are', 'hemlig' not in s.log_text() and s.log_text().count('key, refused') == 3)
    connect(s.port, key='hemlig').close()  # seen to leave, not read from ever after
    check('a client that leaves is let go', logged('the client closed'))
finally:
    s.stop()
done()
