#!/usr/bin/env bash
# Tries quorvane-server's game stream bridge against a host (Sunshine or
# Apollo) and prints what a report needs:
#
#   scripts/moonlight-check.sh HOST[:HTTP_PORT] [APP]
#
# It pairs (a PIN shows here: type it into the host's web interface, PIN
# page; a host paired before asks for none), lists the host's apps, streams
# APP (default: the first) for 10 s at 640x480, 30 frames a second, and
# prints frames per second, bytes of picture and sound, and how long the PIN
# took. The pairing is kept where the server keeps it (~/.local/share/quorvane).
# QV_SERVER names the server program (default: the native build's);
# QV_CHECK_SECONDS how long to stream (default 10).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 HOST[:HTTP_PORT] [APP]" >&2; exit 2; }
export QV_SERVER="${QV_SERVER:-$root/build/native/server/quorvane-server}"
exec python3 - "$root/tests/native" "$@" <<'PY'
import os, struct, sys, time
sys.path.insert(0, sys.argv[1])
from qv_client import LAUNCH, MENU, Client, Server

host, _, port = sys.argv[2].partition(':')
wanted = sys.argv[3] if len(sys.argv) > 3 else ''
toml = '[[app]]\nname = "Spel"\nkind = "moonlight"\nhost = "%s"\nport = %s\n' % (host, port or 47989)


class Counting(Client):  # counts the bytes of pictures and sound
    video = audio = 0

    def handle(self, kind, p):
        if kind == 3:
            self.video += len(p)
        elif kind == 4:
            self.audio += len(p)
        super().handle(kind, p)


server = Server(os.environ['QV_SERVER'], toml)
try:
    c = Counting(server.port, name='CHECK', size=(640, 480), rate=22050)
    c.pump(5, lambda: c.apps)
    c.send(LAUNCH, struct.pack('<H', c.apps[0][0]))
    # Back in the menu (StreamState 0) with the host's apps, after a PIN when not paired yet.
    shown, round_trip = None, None
    end = time.time() + 150
    while time.time() < end and 0 not in c.states:
        c.pump(0.2)
        pins = [t for s, t in c.texts if s == 4]
        if pins and pins[-1] and shown is None:
            shown = time.time()
            print('PIN: %s  (type it into the host\'s web interface, PIN page)' % pins[-1], flush=True)
        if shown and round_trip is None and pins and not pins[-1]:
            round_trip = time.time() - shown
    c.pump(1)
    apps = [(i, n.split(': ', 1)[-1]) for i, _, n in c.apps]
    print('PIN round trip: %s' % ('%.1f s' % round_trip if round_trip else 'no PIN needed' if shown is None
                                  else 'not completed'))
    print('apps: ' + ', '.join(n for _, n in apps))
    chosen = [a for a in apps if a[1] == wanted] if wanted else apps[:1]
    if 'Välj' not in ' '.join(c.status()[-1:]) or not chosen:
        print('failed: ' + ' / '.join(c.status()[-2:]))
        sys.exit(1)
    c.states = []
    c.send(LAUNCH, struct.pack('<H', chosen[0][0]))
    if not c.pump(60, lambda: c.states[-1:] == [1] and c.frames > 0):
        print('failed: ' + ' / '.join(c.status()[-2:]))
        sys.exit(1)
    frames, video, audio, start = c.frames, c.video, c.audio, time.time()
    c.pump(float(os.environ.get('QV_CHECK_SECONDS', '10')))
    took = time.time() - start
    print('streamed %s for %.1f s: %.1f frames per second, %d bytes of pictures, %d bytes of sound'
          % (chosen[0][1], took, (c.frames - frames) / took, c.video - video, c.audio - audio))
    c.send(MENU)
    c.pump(2)
finally:
    server.stop()
PY
