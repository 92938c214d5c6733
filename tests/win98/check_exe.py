#!/usr/bin/env python3
"""Checks that a 32-bit Windows program can load and run on Windows 98 on an
i586 processor (Pentium MMX, AMD K6, Cyrix).

    check_exe.py [--objdump PROG] [--exports DIR] [--map FILE] [--quiet] EXE...

It reads the PE headers and the import table itself and asks objdump for the
disassembly and the symbol table. It fails (exit code 1) when

  subsystem      the program is not a GUI program, or its subsystem version
                 is above 4.0 (Windows 98 refuses to start it);
  os-version     the operating-system version in the header is above 4.0;
  dll            it imports a DLL other than KERNEL32, USER32, GDI32,
                 WSOCK32, WINMM and MSVCRT;
  function       it imports a function that the Windows 98 DLL does not
                 export (the program would not load), or imports by ordinal;
  stub           it imports a function that Windows 98 exports only as a
                 stub that always fails (the *.stubs.txt lists);
  delay-import   it has delay-loaded imports (checked nowhere else);
  instruction    its code holds an instruction an i586 lacks: cmov*,
                 fcmov*, fcomi/fucomi (and the popping forms), any SSE or
                 SSE2 instruction, any use of an xmm register;
  constructor    it holds a global constructor or destructor, which the
                 program's own entry point never runs (checked when the
                 symbol table is present).

Each finding is printed as "EXE: KIND: detail", one per line.
"""
import argparse
import os
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = ("KERNEL32", "USER32", "GDI32", "WSOCK32", "WINMM", "MSVCRT")
MAX_VERSION = (4, 0)
SUBSYSTEM_GUI = 2

# Mnemonics (AT&T, as objdump prints them) that an i586 lacks. SSE and SSE2
# instructions on xmm registers are caught by the register name; these are
# the ones that work on MMX registers or on none.
I586_MISSING_EXACT = {
    "fcomi", "fcomip", "fucomi", "fucomip",
    # SSE: prefetch, fences, MXCSR, the integer additions on MMX registers.
    "prefetchnta", "prefetcht0", "prefetcht1", "prefetcht2",
    "sfence", "lfence", "mfence", "clflush", "ldmxcsr", "stmxcsr",
    "movntq", "movnti", "maskmovq", "pshufw", "pavgb", "pavgw", "pextrw",
    "pinsrw", "pmaxsw", "pmaxub", "pminsw", "pminub", "pmovmskb", "psadbw",
    "pmulhuw",
    # SSE2 on MMX registers, SSE3's fisttp, and the Pentium II's fxsave.
    "paddq", "psubq", "pmuludq", "movdq2q", "movq2dq",
    "fisttp", "fisttps", "fisttpl", "fisttpll",
    "fxsave", "fxrstor",
}
I586_MISSING_PREFIXES = ("cmov", "fcmov")


class PeError(Exception):
    pass


class PeFile:
    """The parts of a 32-bit PE image that the checks need."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if len(data) < 0x40 or data[:2] != b"MZ":
            raise PeError("not an MZ executable")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE header")
        machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        if machine != 0x14C:
            raise PeError("not an i386 image (machine 0x%x)" % machine)
        opt = pe + 24
        if opt + optional_size > len(data) or optional_size < 96:
            raise PeError("optional header cut short")
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic != 0x10B:
            raise PeError("not a PE32 image (magic 0x%x)" % magic)
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        self.subsystem = struct.unpack_from("<H", data, opt + 68)[0]
        directory_count = struct.unpack_from("<I", data, opt + 92)[0]
        self.directories = []
        for i in range(min(directory_count, (optional_size - 96) // 8)):
            self.directories.append(struct.unpack_from("<II", data, opt + 96 + 8 * i))
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            at = table + 40 * i
            if at + 40 > len(data):
                raise PeError("section table cut short")
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, vaddr, max(vsize, rawsize), rawptr, rawsize))

    def offset(self, rva):
        for _, vaddr, size, rawptr, rawsize in self.sections:
            if vaddr <= rva < vaddr + size:
                if rva - vaddr >= rawsize:
                    raise PeError("RVA 0x%x lies outside the file" % rva)
                return rawptr + rva - vaddr
        raise PeError("RVA 0x%x is in no section" % rva)

    def u32(self, rva):
        at = self.offset(rva)
        if at + 4 > len(self.data):
            raise PeError("read past the end of the file")
        return struct.unpack_from("<I", self.data, at)[0]

    def text(self, rva):
        at = self.offset(rva)
        end = self.data.find(b"\0", at)
        if end < 0 or end - at > 512:
            raise PeError("unterminated name at RVA 0x%x" % rva)
        return self.data[at:end].decode("latin-1")

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def imports(self):
        """[(dll, function name or '#ordinal')] in the order of the table."""
        rva, size = self.directory(1)
        result = []
        if rva == 0 or size == 0:
            return result
        for index in range(4096):
            at = rva + 20 * index
            lookup, _, _, name_rva, first_thunk = (self.u32(at + 4 * k) for k in range(5))
            if lookup == 0 and name_rva == 0 and first_thunk == 0:
                return result
            dll = self.text(name_rva)
            thunk = lookup if lookup != 0 else first_thunk
            for slot in range(65536):
                entry = self.u32(thunk + 4 * slot)
                if entry == 0:
                    break
                if entry & 0x80000000:
                    result.append((dll, "#%d" % (entry & 0xFFFF)))
                else:
                    result.append((dll, self.text(entry + 2)))
        raise PeError("import table does not end")


def read_list(path):
    names = set()
    if os.path.exists(path):
        with open(path, encoding="latin-1") as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#"):
                    names.add(line)
    return names


def dll_key(name):
    base = name.upper()
    return base[:-4] if base.endswith(".DLL") else base


def version_text(version):
    return "%d.%d" % version


def check_headers(pe, findings):
    if pe.subsystem != SUBSYSTEM_GUI:
        findings.append(("subsystem", "subsystem %d, not a GUI program (2)" % pe.subsystem))
    if tuple(pe.subsystem_version) > MAX_VERSION:
        findings.append(("subsystem", "subsystem version %s is above 4.0" % version_text(pe.subsystem_version)))
    if tuple(pe.os_version) > MAX_VERSION:
        findings.append(("os-version", "operating-system version %s is above 4.0" % version_text(pe.os_version)))
    if pe.directory(13) != (0, 0):
        findings.append(("delay-import", "the program has delay-loaded imports"))


def check_imports(pe, exports_dir, findings):
    exports = {}
    stubs = {}
    imports = pe.imports()
    for dll, function in imports:
        key = dll_key(dll)
        if key not in ALLOWED_DLLS:
            findings.append(("dll", "%s (%s)" % (dll, function)))
            continue
        if key not in exports:
            exports[key] = read_list(os.path.join(exports_dir, key + ".txt"))
            stubs[key] = read_list(os.path.join(exports_dir, key + ".stubs.txt"))
            if not exports[key]:
                raise PeError("no export list for %s in %s" % (key, exports_dir))
        if function.startswith("#"):
            findings.append(("function", "%s %s: imported by ordinal" % (dll, function)))
        elif function not in exports[key]:
            findings.append(("function", "%s!%s is not exported by Windows 98" % (key, function)))
        elif function in stubs[key]:
            findings.append(("stub", "%s!%s is only a failing stub on Windows 98" % (key, function)))
    return imports


INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.+)>:$")


def forbidden(mnemonic, operands):
    if mnemonic.startswith(I586_MISSING_PREFIXES):
        return mnemonic
    if mnemonic in I586_MISSING_EXACT:
        return mnemonic
    if "%xmm" in operands or "%ymm" in operands:
        return "sse (" + mnemonic + ")"
    return None


def check_code(path, objdump, findings):
    listing = subprocess.run([objdump, "-d", "--no-show-raw-insn", path],
                             check=True, capture_output=True, text=True).stdout
    function = "?"
    count = 0
    per_function = {}
    for line in listing.splitlines():
        head = FUNCTION.match(line)
        if head:
            function = head.group(1)
            continue
        insn = INSTRUCTION.match(line)
        if not insn:
            continue
        count += 1
        address, mnemonic, operands = insn.groups()
        # Prefixes such as "lock" or "rep" come first.
        if mnemonic in ("lock", "rep", "repz", "repnz", "data16", "addr16") and operands:
            parts = operands.split(None, 1)
            mnemonic, operands = parts[0], parts[1] if len(parts) > 1 else ""
        bad = forbidden(mnemonic, operands)
        if bad:
            key = (function, bad.split()[0])
            if key not in per_function:
                per_function[key] = [address, 0]
            per_function[key][1] += 1
    for (where, what), (address, times) in sorted(per_function.items()):
        findings.append(("instruction", "%s in %s at 0x%s (%d time%s)" %
                         (what, where, address, times, "" if times == 1 else "s")))
    return count


CONSTRUCTOR = re.compile(r"(_GLOBAL__sub_[ID]_|__static_initialization_and_destruction)")


def check_constructors(path, objdump, findings):
    table = subprocess.run([objdump, "-t", path], check=True, capture_output=True, text=True).stdout
    symbols = [line.split()[-1] for line in table.splitlines() if "(sec" in line]
    if not symbols:
        return False
    for name in sorted(set(n for n in symbols if CONSTRUCTOR.search(n))):
        findings.append(("constructor", "%s would never run" % name))
    return True


def toolchain_members(map_path):
    """The members of the compiler's and mingw's libraries (libgcc, the
    static parts of libmsvcrt and the like) whose code the link pulled in,
    from the linker map. Import stubs, which hold no code of their own, are
    left out."""
    members = set()
    pattern = re.compile(r"^ \.text\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S*/)?(lib[^/(]+\.a)\(([^)]+)\)")
    with open(map_path, encoding="latin-1") as f:
        for line in f:
            match = pattern.match(line)
            if not match or int(match.group(1), 16) == 0:
                continue
            archive, member = match.group(3), match.group(4)
            if archive.startswith("libqv_"):
                continue
            if re.fullmatch(r"lib\w+s\d+\.o", member):
                continue  # an import stub (jump to the import table)
            members.add("%s(%s)" % (archive, member))
    return sorted(members)


def check(path, args):
    findings = []
    try:
        pe = PeFile(path)
        check_headers(pe, findings)
        imports = check_imports(pe, args.exports, findings)
    except (PeError, struct.error) as error:
        findings.append(("format", str(error)))
        return findings, {}
    instructions = check_code(path, args.objdump, findings)
    symbols = check_constructors(path, args.objdump, findings)
    info = {
        "size": os.path.getsize(path),
        "imports": imports,
        "instructions": instructions,
        "symbols": symbols,
        "subsystem": "%d %s" % (pe.subsystem, version_text(pe.subsystem_version)),
        "os": version_text(pe.os_version),
    }
    return findings, info


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("exe", nargs="+")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    parser.add_argument("--exports", default=os.path.join(here, "exports"))
    parser.add_argument("--map", help="linker map: list the library code linked in")
    parser.add_argument("--quiet", action="store_true", help="print only the findings")
    args = parser.parse_args()

    failed = False
    for path in args.exe:
        findings, info = check(path, args)
        for kind, detail in findings:
            print("%s: %s: %s" % (path, kind, detail))
        failed = failed or bool(findings)
        if info and not args.quiet:
            dlls = sorted(set(dll_key(d) for d, _ in info["imports"]))
            print("%s: %d bytes, subsystem %s, OS %s, %d imports from %s, %d instructions checked%s" %
                  (path, info["size"], info["subsystem"], info["os"], len(info["imports"]),
                   ", ".join(dlls), info["instructions"],
                   "" if info["symbols"] else " (no symbol table: constructors not checked)"))
    if args.map and not args.quiet:
        members = toolchain_members(args.map)
        print("compiler and C library code linked: %s" % (", ".join(members) if members else "none"))
    if failed:
        print("FAILED: not fit for Windows 98 on an i586")
        return 1
    if not args.quiet:
        print("OK: fit for Windows 98 on an i586")
    return 0


if __name__ == "__main__":
    sys.exit(main())
