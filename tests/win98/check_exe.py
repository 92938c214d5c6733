"""Is a 32-bit Windows program fit for Windows 98 on an i586, by objdump? check_exe.py [--objdump P] [--expect T] EXE
Findings "EXE: KIND: detail": subsystem, dll (not ALLOWED), function (not in exports/*.txt, or a stub), instruction
(not on an i586), constructor (never run: our own entry point), icon. --expect: each T must be found (self-test)."""
import argparse, os, re, subprocess, sys  # noqa: E401

ALLOWED = ('KERNEL32', 'USER32', 'GDI32', 'WSOCK32', 'WINMM', 'MSVCRT')
MISSING = re.compile(r'(cmov|fcmov|f[u]?comip?$|prefetch|[slm]fence$|clflush|[ls]dmxcsr|movnt|maskmovq|pshufw|'
                     r'pavg[bw]|pextrw|pinsrw|pm(ax|in)(sw|ub)|pmovmskb|psadbw|pmulhuw|paddq|psubq|pmuludq|'
                     r'movdq2q|movq2dq|fisttp|fxsave|fxrstor)')
HERE = os.path.dirname(os.path.abspath(__file__))


def names(path): return set(open(path, encoding='latin-1').read().split()) if os.path.exists(path) else set()


def findings(exe, objdump):
    def dump(flags): return subprocess.run([objdump, *flags, exe], capture_output=True, text=True, check=True).stdout
    headers = dump(['-p'])
    field = dict(re.findall(r'^(\w+)\s+([0-9a-fA-F]+)', headers, re.M))
    if int(field.get('Subsystem', '0'), 16) != 2:
        yield 'subsystem', 'subsystem %s, not a GUI program' % field.get('Subsystem')
    for kind in ('Subsystem', 'OSystem'):
        version = (int(field.get('Major%sVersion' % kind, 99)), int(field.get('Minor%sVersion' % kind, 0)))
        if version > (4, 0):
            yield 'subsystem', '%s version %d.%d is above 4.0' % (kind, *version)
    if re.search(r'Entry d 0*[1-9a-f]\w* \w+ Delay', headers):
        yield 'subsystem', 'delay-loaded imports'

    for block in headers.split('DLL Name: ')[1:]:
        dll, rows = block.split('\n', 1)[0].strip(), block.split('\n\n', 1)[0].splitlines()[2:]
        key = dll.upper().removesuffix('.DLL')
        exports, stubs = (names('%s/exports/%s%s.txt' % (HERE, key, end)) for end in ('', '.stubs'))
        for row in rows:
            function = row.split()[-1]
            if key not in ALLOWED:
                yield 'dll', '%s (%s)' % (dll, function)
            elif function == '<none>' or function not in exports:
                yield 'function', '%s!%s is not exported by Windows 98 (or imported by ordinal)' % (key, function)
            elif function in stubs:
                yield 'function', '%s!%s is only a failing stub on Windows 98' % (key, function)

    seen, where = set(), '?'
    for line in dump(['-d', '--no-show-raw-insn']).splitlines():
        head = re.match(r'[0-9a-f]+ <(.+)>:$', line)
        where = head.group(1) if head else where
        insn = re.match(r'\s+([0-9a-f]+):\s+(?:(?:lock|rep\w*|data16|addr16)\s+)?(\S+)\s*(.*)', line)
        what = insn and ('sse' if re.search(r'%[xy]mm', insn.group(3)) else
                         (MISSING.match(insn.group(2)) or [None])[0])
        if what and (where, what) not in seen:
            seen.add((where, what))
            yield 'instruction', '%s in %s (%s at 0x%s)' % (what, where, insn.group(2), insn.group(1))

    for name in sorted(set(re.findall(r'\S*(?:_GLOBAL__sub_[ID]_|__static_initialization_and_destruction)\S*',
                                      dump(['-t'])))):
        yield 'constructor', '%s would never run' % name

    # the resource tree: (type, id) -> size of its first leaf
    tree, path = {}, []
    for spaces, entry, size in re.findall(r'^[0-9a-f]+( +)(?:Entry: ID: 0x(\w+)|Leaf: Addr: \S+ Size: 0x(\w+))',
                                          headers, re.M):
        if entry:
            path = path[:(len(spaces) - 1) // 2 - 1] + [int(entry, 16)]
        else:
            tree.setdefault(tuple(path[:2]), int(size, 16))
    icons = sorted(size for (kind, _), size in tree.items() if kind == 3)
    if (14, 1) not in tree or icons != [40 + 16 * 16 * 4 + 16 * 4, 40 + 32 * 32 * 4 + 32 * 4]:
        yield 'icon', 'icon group 1 %s, icon images of %r bytes' % (
            'present' if (14, 1) in tree else 'missing', icons)


if __name__ == '__main__':
    parser = argparse.ArgumentParser()
    parser.add_argument('exe')
    parser.add_argument('--objdump', default='i686-w64-mingw32-objdump')
    parser.add_argument('--expect', action='append', default=[])
    args = parser.parse_args()
    lines = ['%s: %s: %s' % (args.exe, kind, detail) for kind, detail in findings(args.exe, args.objdump)]
    missed = [text for text in args.expect if not any(text in line for line in lines)]
    print(*lines, 'SELF-TEST: not found: %s' % missed if missed else 'SELF-TEST: every planted fault found'
          if args.expect else 'FAILED: not fit for Windows 98 on an i586' if lines else 'OK: fit for Windows 98',
          sep='\n')
    sys.exit(1 if missed or (lines and not args.expect) else 0)
