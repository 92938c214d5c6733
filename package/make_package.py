#!/usr/bin/env python3
"""Makes the zip for Windows 98 users.

    make_package.py --exe quorvane.exe --texts package/win98 --objcopy PROG --out quorvane-win98.zip

The zip holds the folder QUORVANE with quorvane.exe (its symbol table
stripped) and the texts of package/win98, turned from UTF-8 with LF line
ends into Windows-1252 with CR LF, as Notepad on Windows 98 expects them.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

FOLDER = "QUORVANE"
TEXTS = ("QUORVANE.INI", "LASMIG.TXT", "README.TXT")


def windows_text(path):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    try:
        return text.encode("cp1252")
    except UnicodeEncodeError as error:
        sys.exit("%s: character %r cannot be written in Windows-1252" %
                 (path, text[error.start:error.end]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--texts", required=True)
    parser.add_argument("--objcopy", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()

    stamp = time.localtime()[:6]
    with tempfile.TemporaryDirectory() as work:
        exe = os.path.join(work, "quorvane.exe")
        shutil.copyfile(args.exe, exe)
        subprocess.run([args.objcopy, "--strip-all", exe], check=True)
        partial = args.out + ".part"
        with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as z:
            def add(name, data):
                entry = zipfile.ZipInfo(FOLDER + "/" + name, stamp)
                entry.compress_type = zipfile.ZIP_DEFLATED
                entry.create_system = 0  # MS-DOS
                z.writestr(entry, data)
            with open(exe, "rb") as f:
                add("quorvane.exe", f.read())
            for name in TEXTS:
                add(name, windows_text(os.path.join(args.texts, name)))
        os.replace(partial, args.out)


if __name__ == "__main__":
    main()
