#!/usr/bin/env python3
"""quorvane-server under attack from one address: idle connections, wrong keys at once and a client that stops
reading do not keep a client with the right key from another address out, nor slow a stream down.
Usage: server_admission_check.py SERVER"""
import socket, sys, time

from qv_client import MENU, Client, Server, check, connect, done, failures

# A fixed quality: its pacing gives this slow scripted viewer the frames the checks count.
server = Server(sys.argv[1], 'key = "hemlig"\nquality = 70\n[[app]]\nname = "Demo"\nkind = "demo"\n')
idle = lambda n: [socket.create_connection(('127.0.0.1', server.port), source_address=('127.0.0.2', 0))
                  for _ in range(n)]
wrong = lambda n: [Client(server.port, key='fel', source='127.0.0.2') for _ in range(n)]
try:
    viewer = connect(server.port, key='hemlig', source='127.0.0.4', size=(64, 48))  # quick to decode
    check('a client streams the demo', viewer.launch(1))
    stuck = connect(server.port, key='hemlig', source='127.0.0.5')
    stuck.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    stuck.launch(1, 5)  # and reads no more from here on
    for attack, make in [('200 idle connections', lambda: idle(200)), ('40 wrong keys at once', lambda: wrong(40))]:
        held, frames, started = make(), viewer.frames, time.time()
        c = connect(server.port, key='hemlig', source='127.0.0.3')
        took = time.time() - started
        check('%s from 127.0.0.2: the right key from 127.0.0.3 gets the menu (%.2f s)' % (attack, took),
              c.apps == [(1, 0, 'Demo')], c.status())
        viewer.pump(2)
        check('%s: the stream goes on' % attack, viewer.frames - frames >= 10, viewer.frames - frames)
        for s in held + [c]:
            (s.sock if isinstance(s, Client) else s).close()
    check('the idle ones made way without showing a key', 'made way for another client' in server.log_text())
    viewer.apps, viewer.states = [], []
    viewer.send(MENU)
    check('F9 back to an unchanged menu sends no new list; nothing waits', viewer.pump(5, lambda: 0 in viewer.states)
          and not viewer.pump(1, lambda: viewer.apps) and viewer.status()[-1:] == ['Tillbaka i menyn.'], viewer.texts)
finally:
    server.stop()
    if failures:
        print(server.log_text()[-3000:])
done()
