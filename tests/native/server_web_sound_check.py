#!/usr/bin/env python3
"""Web entries and sound through the real quorvane-server: Chromium shows pages a local HTTP server serves,
WebAddress and a click on a link move it, slots 1 and 3 follow, file: and javascript: are refused, no dialog
shows the server's disk; a program's tone arrives as AudioData in the client's format.
Usage: server_web_sound_check.py SERVER"""
import functools, http.server, math, os, struct, sys, tempfile, threading, wave

from qv_client import ALT, CTRL, WEB_ADDRESS, Server, check, connect, done, rgb555

RATE, FREQ = 22050, 440
PAGES = {'red': ('Röd sida', '#c00000'), 'blue': ('Blå sida', '#0000c0'), 'green': ('Grön sida', '#00a000')}
site = tempfile.mkdtemp(prefix='qv-web-')
for page, (title, colour) in PAGES.items():
    with open(os.path.join(site, page + '.html'), 'w', encoding='utf-8') as f:
        f.write('<!doctype html><meta charset="utf-8"><title>%s</title>'
                '<body style="margin:0;height:100vh;background:%s" onclick="event.target == this && print()">'
                '<a href="blue.html" style="display:block;width:120px;height:80px;background:#fff">blå</a>'
                % (title, colour))
with open(os.path.join(site, 'doc.pdf'), 'wb') as f:
    f.write(b'%PDF-1.4\n')
with wave.open(os.path.join(site, 'tone.wav'), 'wb') as w:
    w.setparams((2, 2, 44100, 0, 'NONE', None))
    w.writeframes(b''.join(struct.pack('<hh', v, v) for v in
                           (int(12000 * math.sin(2 * math.pi * FREQ * i / 44100)) for i in range(3 * 44100))))
languages = set()  # the Accept-Language of every request
quiet = type('Quiet', (http.server.SimpleHTTPRequestHandler,), {'log_message': lambda *a: None, 'do_GET': lambda self: (
    languages.add(self.headers.get('Accept-Language')), http.server.SimpleHTTPRequestHandler.do_GET(self))})
httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(quiet, directory=site))
threading.Thread(target=httpd.serve_forever, daemon=True).start()
base = 'http://127.0.0.1:%d/' % httpd.server_address[1]
server = Server(sys.argv[1], '[[app]]\nname = "Webbläsare"\nkind = "web"\nhome = "%sred.html"\n[[app]]\n'
                'name = "Ton"\nkind = "program"\ncommand = ["sh", "-c", "while :; do paplay %s/tone.wav; done"]\n'
                % (base, site))
corner = lambda c: c.pixel(c.w - 10, c.h - 10)
samples = lambda p: struct.unpack('<%dh' % (len(p) // 2), p)


def shows(c, page, at=base):
    title, colour = PAGES[page]
    return lambda: ((1, at + page + '.html') in c.texts and (3, title) in c.texts and c.frames > 0
                    and corner(c) == rgb555(*bytes.fromhex(colour[1:])))


try:
    c = connect(server.port, name='WEB')
    address = lambda url: lambda: c.send(WEB_ADDRESS, b'\0' + url.encode())
    # (what is done, the page that shows after it, at what address, seconds); the first starts the entry.
    # A name with dots is tried over https first: the plain http server fails its TLS.
    other = 'http://page.localhost:%d/' % httpd.server_address[1]
    for name, act, page, at, seconds in (
            ('the home page shows in its colour, with its address and title', lambda: c.launch(1, 0), 'red', base, 60),
            ('a typed name falls back to http', address(other[7:] + 'green.html'), 'green', other, 20),
            ('a click on the link follows it', lambda: c.click(30, 20), 'blue', other, 20),
            ('a typed IP address opens over http', address(base[7:] + 'green.html'), 'green', base, 20)):
        del c.texts[:]
        act()
        check(name, c.pump(seconds, shows(c, page, at)), c.texts[-4:])
    check('pages are asked for in Swedish, then English', languages == {'sv-SE,sv;q=0.9,en-US;q=0.8,en;q=0.7'}, languages)
    for bad in ("javascript:document.body.style.background='red'", 'file:///etc/passwd'):
        del c.texts[:]
        address(bad)()
        c.pump(3)
        check('refused: ' + bad, any('öppnas inte' in s for s in c.status()) and not any(
            slot == 1 for slot, _ in c.texts) and corner(c) == rgb555(0, 0xa0, 0), c.texts)
    del c.texts[:]
    c.press(ALT, (0x25, 0x14B))
    check('Alt+Left goes back', c.pump(20, shows(c, 'blue', other)), c.texts)
    # The file dialogs of Ctrl+O and of the print preview (also the PDF viewer's) would show the server's
    # disk; the page's print() is a click on its background, beside the link.
    for name, act in (('Ctrl+O opens no file dialog', lambda: c.press(CTRL, (0x4F, 0x18))),
                      ('a right click opens no menu', lambda: c.click(c.w // 2, c.h // 2, 2)),
                      ('a page that prints opens no print dialog', lambda: c.click(c.w // 2, c.h // 2)),
                      ('a PDF opens no viewer that prints', address(base + 'doc.pdf'))):
        act()
        c.pump(3)
        middle = c.pixel(c.w // 2 + 20, c.h // 2 + 20)
        check(name, shows(c, 'blue', other)() and middle == corner(c), hex(middle))
    check('the refused PDF is named in the status line', any('doc.pdf' in s for s in c.status()), c.texts)
    c.close()

    s = connect(server.port, name='SOUND', rate=RATE)
    s.launch(2, 0)
    loud = lambda: [p for p in s.sound if max(map(abs, samples(p))) > 3000]
    s.pump(30, lambda: len(loud()) >= 40)
    sizes = sorted(len(p) // 4 for p in s.sound)
    check('sound comes in whole stereo frames of 20 to 50 ms', s.sound and all(len(p) % 4 == 0 for p in s.sound)
          and RATE // 50 <= sizes[0] and sizes[-1] <= RATE // 20, sizes[:1] + sizes[-1:])
    left = [v for p in loud()[5:35] for v in samples(p)[::2]]
    heard = sum(1 for a, b in zip(left, left[1:]) if a < 0 <= b) * RATE / max(1, len(left))
    check('the tone arrives at %d Hz in stereo' % FREQ, abs(heard - FREQ) < 15, '%.1f Hz' % heard)
finally:
    server.stop()
    httpd.shutdown()
done()
