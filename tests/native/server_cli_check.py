#!/usr/bin/env python3
"""The quorvane-server program as started from a shell: port 0 printed,
--key, --once and --frames, bad options refused. Every wait has a limit.

Usage: server_cli_check.py PATH-TO-quorvane-server
"""
import socket
import struct
import subprocess
import sys

server = sys.argv[1]
failures = []


def check(name, ok):
    print(('ok   ' if ok else 'FAIL ') + name)
    if not ok:
        failures.append(name)


for bad in (['--size', '10x10'], ['--zlib-level', '10'], ['--listen', 'x'], ['--nonsense'],
            ['--key', 'k' * 30]):
    r = subprocess.run([server] + bad, capture_output=True, timeout=10)
    check('refuses ' + ' '.join(bad), r.returncode == 2 and b'--help' in r.stderr)
r = subprocess.run([server, '--help'], capture_output=True, timeout=10)
check('--help', r.returncode == 0 and b'--listen ADDRESS:PORT' in r.stdout)

p = subprocess.Popen([server, '--listen', '127.0.0.1:0', '--once', '--frames', '3', '--key', 'hemlig',
                      '--no-audio'], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
try:
    port = int(p.stdout.readline())
    s = socket.create_connection(('127.0.0.1', port), timeout=5)

    def send(kind, payload=b''):
        s.sendall(struct.pack('<IB', len(payload), kind) + payload)

    def read(n):
        data = b''
        while len(data) < n:
            chunk = s.recv(n - len(data))
            if not chunk:
                return None
            data += chunk
        return data

    def message():
        header = read(5)
        if header is None:
            return None, None
        length, kind = struct.unpack('<IB', header)
        return kind, read(length)

    hello = b'QV98\x01\x00' + struct.pack('<HHBIB', 320, 240, 30, 0, 1)
    hello += b'CLI'.ljust(32, b'\0') + b'hemlig'.ljust(32, b'\0')
    send(64, hello)
    kind, _ = message()
    check('the right key gets the menu', kind == 2)
    send(72, struct.pack('<H', 1))
    frames = 0
    while True:
        kind, payload = message()
        if kind is None:
            break
        if kind == 3:
            frames += 1
            send(76, payload[:4])
    check('three frames, then the connection ends', frames == 3)
    check('--once: the program ends after its one client', p.wait(timeout=10) == 0)
    log = p.stderr.read().decode('utf-8', 'replace')
    check('the log names the connection and the launch', '#1: connection from' in log and 'launch 1' in log)
finally:
    if p.poll() is None:
        p.kill()
        p.wait()

sys.exit(1 if failures else 0)
