#!/usr/bin/env python3
"""Shows that check_exe.py finds what it is meant to find.

    self_test.py CHECK_EXE BAD_EXE GOOD_EXE [--objdump PROG]

BAD_EXE (bad_sample.cpp) holds one fault of each kind; every one of them
must be reported and the check must fail. GOOD_EXE (quorvane.exe) must pass.
"""
import subprocess
import sys

# (kind, text that the finding must contain): each fault planted in bad_sample.cpp.
EXPECTED = [
    ("subsystem", "not a GUI program"),
    ("subsystem", "subsystem version 5.1"),
    ("os-version", "version 5.1"),
    ("dll", "ADVAPI32.dll (RegCloseKey)"),
    ("function", "KERNEL32!GetTickCount64 is not exported"),
    ("stub", "KERNEL32!CompareStringW"),
    ("instruction", "cmov"),
    ("instruction", "_bad_pick"),
    ("instruction", "fcomi"),
    ("instruction", "_bad_less"),
    ("instruction", "sse"),
    ("instruction", "_bad_twice"),
    ("constructor", "_GLOBAL__sub_I_"),
]


def run(check, exe, extra):
    result = subprocess.run([sys.executable, check, *extra, exe], capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


def main():
    check, bad, good = sys.argv[1:4]
    extra = sys.argv[4:]
    errors = []

    code, output = run(check, bad, extra)
    print(output)
    if code != 1:
        errors.append("the check did not fail on %s (exit code %d)" % (bad, code))
    lines = [line for line in output.splitlines() if line.startswith(bad + ": ")]
    for kind, text in EXPECTED:
        prefix = "%s: %s: " % (bad, kind)
        if not any(line.startswith(prefix) and text in line for line in lines):
            errors.append("no '%s' finding mentioning '%s'" % (kind, text))
    # Every cmov finding in the planted function is one the sample was built for.
    if not any("cmov" in line and "_bad_pick" in line for line in lines):
        errors.append("cmov in bad_pick not attributed to it")

    code, output = run(check, good, extra)
    print(output)
    if code != 0:
        errors.append("the check failed on %s" % good)

    for error in errors:
        print("SELF-TEST: " + error)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
