#!/usr/bin/env python3
"""Checks the zip for Windows 98 users as a user would get it.

    check_package.py ZIP CHECK_EXE [--objdump PROG]

The zip must hold QUORVANE/quorvane.exe, QUORVANE.INI, LASMIG.TXT and
README.TXT and nothing else; the texts must be Windows-1252 with CR LF line
ends; QUORVANE.INI must be one [Quorvane] section with the thirteen keys at
their defaults and ';' comments; the exe must still pass the Windows 98 check.
"""
import os
import subprocess
import sys
import tempfile
import zipfile

FOLDER = "QUORVANE/"
DEFAULTS = [
    ("host", ""), ("port", "3300"), ("bredd", "640"), ("hojd", "480"), ("fps", "30"),
    ("fullskarm", "1"), ("ljud", "1"), ("ljudfrekvens", "22050"), ("stereo", "1"),
    ("muskanslighet", "100"), ("joystick", "1"), ("namn", ""), ("nyckel", ""),
]
errors = []


def fail(message):
    errors.append(message)


def check_text_form(name, data):
    if b"\n" in data.replace(b"\r\n", b""):
        fail("%s: a line ends in LF alone" % name)
    if b"\r" in data.replace(b"\r\n", b""):
        fail("%s: a stray CR" % name)
    if not data.endswith(b"\r\n"):
        fail("%s: the last line has no line end" % name)
    try:
        data.decode("cp1252")
    except UnicodeDecodeError:
        fail("%s: not Windows-1252" % name)
    if data.startswith(b"\xef\xbb\xbf") or b"\xc3" in data:
        fail("%s: looks like UTF-8" % name)


def check_ini(data):
    section = None
    keys = []
    for number, line in enumerate(data.decode("cp1252").split("\r\n"), 1):
        if line.startswith(";") and "=" in line:
            # The profile functions take such a line for a key and rewrite it.
            fail("QUORVANE.INI:%d: a comment with '=': %r" % (number, line))
        if not line.strip() or line.startswith(";"):
            continue
        if line.startswith("["):
            if section is not None:
                fail("QUORVANE.INI:%d: a second section %s" % (number, line))
            section = line
            continue
        if section != "[Quorvane]":
            fail("QUORVANE.INI:%d: a setting outside [Quorvane]" % number)
        key, equals, value = line.partition("=")
        if not equals:
            fail("QUORVANE.INI:%d: neither comment, section nor key: %r" % (number, line))
        keys.append((key, value))
    if keys != DEFAULTS:
        fail("QUORVANE.INI: keys %r, expected the thirteen defaults %r" % (keys, DEFAULTS))


def main():
    package, check = sys.argv[1:3]
    extra = sys.argv[3:]
    with zipfile.ZipFile(package) as z:
        names = sorted(z.namelist())
        wanted = sorted(FOLDER + n for n in ("quorvane.exe", "QUORVANE.INI", "LASMIG.TXT", "README.TXT"))
        if names != wanted:
            fail("zip holds %r, expected %r" % (names, wanted))
        texts = {n[len(FOLDER):]: z.read(n) for n in names if n.endswith((".INI", ".TXT"))}
        exe = z.read(FOLDER + "quorvane.exe") if FOLDER + "quorvane.exe" in names else b""

    for name, data in texts.items():
        check_text_form(name, data)
    if "QUORVANE.INI" in texts:
        check_ini(texts["QUORVANE.INI"])
    # The Swedish text in Windows-1252: "strömma", "hårddisken", "Välj".
    for word in (b"str\xf6mma", b"h\xe5rddisken", b"V\xe4lj"):
        if word not in texts.get("LASMIG.TXT", b""):
            fail("LASMIG.TXT lacks %r" % word)
    for name in ("LASMIG.TXT", "README.TXT"):
        for needed in (b"quorvane-server", b"QUORVANE.INI", b"F6", b"F8", b"F9", b"F10", b"F11", b"F12"):
            if needed not in texts.get(name, b""):
                fail("%s does not mention %s" % (name, needed.decode()))

    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "quorvane.exe")
        with open(path, "wb") as f:
            f.write(exe)
        result = subprocess.run([sys.executable, check, *extra, path], capture_output=True, text=True)
        print(result.stdout, end="")
        if result.returncode != 0:
            fail("the packed quorvane.exe fails the Windows 98 check")
    print("%s: %d bytes, quorvane.exe %d bytes" % (package, os.path.getsize(package), len(exe)))

    for error in errors:
        print("PACKAGE: " + error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
