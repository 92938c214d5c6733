#!/usr/bin/env python3
"""Web entries and sound through the real quorvane-server: Chromium shows
pages a local HTTP server serves, WebAddress and a click on a link move it,
slots 1 and 3 follow, file: and javascript: are refused; a program's tone
arrives as AudioData in the client's format.

Usage: server_web_sound_check.py PATH-TO-quorvane-server
"""
import functools
import http.server
import math
import os
import struct
import sys
import tempfile
import threading
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from qv_client import (AUDIO, KEY, LAUNCH, MOUSE_BUTTON, MOUSE_POS, Checks, Client, Server,  # noqa: E402
                       rgb555)

WEB_ADDRESS = 73
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
tone = os.path.join(site, 'tone.wav')
with wave.open(tone, 'wb') as w:
    w.setnchannels(2)
    w.setsampwidth(2)
    w.setframerate(44100)
    w.writeframes(b''.join(struct.pack('<hh', v, v) for v in
                           (int(12000 * math.sin(2 * math.pi * FREQ * i / 44100)) for i in range(3 * 44100))))

quiet = type('Quiet', (http.server.SimpleHTTPRequestHandler,), {'log_message': lambda *a: None})
httpd = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(quiet, directory=site))
threading.Thread(target=httpd.serve_forever, daemon=True).start()
base = 'http://127.0.0.1:%d/' % httpd.server_address[1]

server = Server(sys.argv[1], '[[app]]\nname = "Webbläsare"\nkind = "web"\nhome = "%sred.html"\n'
                '[[app]]\nname = "Ton"\nkind = "program"\ncommand = ["sh", "-c", "while :; do paplay %s; done"]\n'
                % (base, tone))
t = Checks()


class SoundClient(Client):
    def handle(self, kind, p):
        if kind == AUDIO:
            self.pcm.append(p)
        super().handle(kind, p)


def shows(c, page):
    title, colour = PAGES[page]
    want = rgb555(*bytes.fromhex(colour[1:]))
    return lambda: ((1, base + page + '.html') in c.texts and (3, title) in c.texts
                    and c.frames > 0 and c.pixel(c.w - 10, c.h - 10) == want)


try:
    c = SoundClient(server.port, name='WEB')
    c.pump(5, until=lambda: c.apps)
    c.send(LAUNCH, struct.pack('<H', 1))
    t.check('the home page shows in its colour, with its address and title', c.pump(60, until=shows(c, 'red')),
            c.texts[-4:])

    del c.texts[:]
    c.send(MOUSE_POS, struct.pack('<HH', 30, 20))
    c.send(MOUSE_BUTTON, bytes([1, 1]))
    c.send(MOUSE_BUTTON, bytes([1, 0]))
    t.check('a click on the link follows it', c.pump(20, until=shows(c, 'blue')), c.texts)

    del c.texts[:]
    c.send(WEB_ADDRESS, b'\0' + (base + 'green.html').encode())
    t.check('WebAddress opens the page', c.pump(20, until=shows(c, 'green')), c.texts)

    for bad in ("javascript:document.body.style.background='red'", 'file:///etc/passwd'):
        del c.texts[:]
        c.send(WEB_ADDRESS, b'\0' + bad.encode())
        c.pump(3)
        t.check('refused: ' + bad, any('öppnas inte' in s for s in c.status())
                and not any(slot == 1 for slot, _ in c.texts) and c.pixel(c.w - 10, c.h - 10) == rgb555(0, 0xa0, 0),
                c.texts)

    del c.texts[:]
    c.key(0x12, 0x38, 1)
    c.key(0x25, 0x14B, 1)
    c.key(0x25, 0x14B, 0)
    c.key(0x12, 0x38, 0)
    t.check('Alt+Left goes back', c.pump(20, until=shows(c, 'blue')), c.texts)

    # The file dialogs of Ctrl+O and of the print preview (also the PDF viewer's) would show the server's
    # disk; the page's print() is a click on its background, beside the link.
    click = lambda button: [(MOUSE_POS, struct.pack('<HH', c.w // 2, c.h // 2))] + [
        (MOUSE_BUTTON, bytes([button, down])) for down in (1, 0)]
    ctrl_o = [(KEY, struct.pack('<BHB', vk, scan, down))
              for vk, scan, down in ((0x11, 0x1D, 1), (0x4F, 0x18, 1), (0x4F, 0x18, 0), (0x11, 0x1D, 0))]
    for name, steps in (('Ctrl+O opens no file dialog', ctrl_o), ('a right click opens no menu', click(2)),
                        ('a page that prints opens no print dialog', click(1)),
                        ('a PDF opens no viewer that prints', [(WEB_ADDRESS, b'\0' + (base + 'doc.pdf').encode())])):
        for kind, payload in steps:
            c.send(kind, payload)
        c.pump(3)
        t.check(name, shows(c, 'blue')() and c.pixel(c.w // 2 + 20, c.h // 2 + 20) == c.pixel(c.w - 10, c.h - 10),
                hex(c.pixel(c.w // 2 + 20, c.h // 2 + 20)))
    c.close()

    s = SoundClient(server.port, name='SOUND', rate=RATE)
    s.pcm = []
    s.pump(5, until=lambda: s.apps)
    s.send(LAUNCH, struct.pack('<H', 2))
    loud = lambda: [p for p in s.pcm if max(abs(v) for v in struct.unpack('<%dh' % (len(p) // 2), p)) > 3000]
    s.pump(30, until=lambda: len(loud()) >= 40)
    pieces = loud()
    sizes = sorted(len(p) // 4 for p in s.pcm)
    t.check('sound comes in whole stereo frames of 20 to 50 ms',
            s.pcm and all(len(p) % 4 == 0 for p in s.pcm) and RATE // 50 <= sizes[0] and sizes[-1] <= RATE // 20,
            sizes[:1] + sizes[-1:])
    left = [v for p in pieces[5:35] for v in struct.unpack('<%dh' % (len(p) // 2), p)[::2]]
    rises = sum(1 for a, b in zip(left, left[1:]) if a < 0 <= b)
    heard = rises * RATE / max(1, len(left))
    t.check('the tone arrives at %d Hz in stereo' % FREQ, abs(heard - FREQ) < 15, '%.1f Hz in %d pieces' % (heard, len(pieces)))
    s.close()
finally:
    server.stop()
    httpd.shutdown()
t.exit()
