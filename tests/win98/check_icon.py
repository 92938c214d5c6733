#!/usr/bin/env python3
"""Checks the program's icon as Windows finds it in the exe's resources.

    check_icon.py EXE

The main window class loads icon group 1: it must exist and hold a 16 x 16
and a 32 x 32 image of 32 bits per pixel, each a well-formed icon image
(header with doubled height, colours, AND mask) with some opaque pixels.
"""
import struct
import sys

from check_exe import PeError, PeFile

RT_ICON = 3
RT_GROUP_ICON = 14


class Resources:
    def __init__(self, pe):
        self.pe = pe
        self.base, _ = pe.directory(2)
        if self.base == 0:
            raise PeError("the exe has no resources")

    def entries(self, offset):
        """{id: (is_directory, offset)} of the directory at offset (named entries skipped)."""
        header = self.pe.offset(self.base + offset)
        named, numbered = struct.unpack_from("<HH", self.pe.data, header + 12)
        result = {}
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.pe.data, header + 16 + 8 * i)
            if name & 0x80000000:
                continue
            result[name] = (bool(target & 0x80000000), target & 0x7FFFFFFF)
        return result

    def find(self, kind, ident):
        """The bytes of resource kind/ident (any language), or None."""
        kinds = self.entries(0)
        if kind not in kinds:
            return None
        names = self.entries(kinds[kind][1])
        if ident not in names:
            return None
        languages = self.entries(names[ident][1])
        if not languages:
            return None
        _, leaf = next(iter(languages.values()))
        rva, size = struct.unpack_from("<II", self.pe.data, self.pe.offset(self.base + leaf))
        start = self.pe.offset(rva)
        return self.pe.data[start:start + size]


def check_image(data, size):
    problems = []
    header_size, width, height, planes, bits = struct.unpack_from("<IiiHH", data, 0)
    if (header_size, width, height, planes, bits) != (40, size, 2 * size, 1, 32):
        problems.append("image header %r, expected (40, %d, %d, 1, 32)" %
                        ((header_size, width, height, planes, bits), size, 2 * size))
        return problems
    mask_stride = ((size + 31) // 32) * 4
    if len(data) != 40 + size * size * 4 + size * mask_stride:
        problems.append("image of %d bytes, expected %d" %
                        (len(data), 40 + size * size * 4 + size * mask_stride))
        return problems
    colours = data[40:40 + size * size * 4]
    mask = data[40 + size * size * 4:]
    opaque = 0
    for y in range(size):
        for x in range(size):
            alpha = colours[4 * (y * size + x) + 3]
            see_through = (mask[y * mask_stride + x // 8] >> (7 - x % 8)) & 1
            if see_through != (alpha == 0):
                problems.append("pixel (%d, %d): mask and alpha disagree" % (x, size - 1 - y))
                return problems
            opaque += alpha != 0
    if opaque < size * size // 4:
        problems.append("only %d of %d pixels are drawn" % (opaque, size * size))
    return problems


def main():
    path = sys.argv[1]
    problems = []
    try:
        resources = Resources(PeFile(path))
        group = resources.find(RT_GROUP_ICON, 1)
        if group is None:
            raise PeError("no icon group 1")
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        if (reserved, kind) != (0, 1) or count < 1:
            raise PeError("icon group 1 is malformed")
        sizes = []
        for i in range(count):
            width, height, _, _, planes, bits, length, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            width = width or 256
            sizes.append(width)
            image = resources.find(RT_ICON, ident)
            if image is None or len(image) != length:
                problems.append("%d x %d image (icon %d) missing or of the wrong size" % (width, height, ident))
                continue
            if bits != 32 or width != height:
                problems.append("%d x %d image at %d bits per pixel" % (width, height, bits))
            problems += ["%d x %d: %s" % (width, width, p) for p in check_image(image, width)]
        if sorted(sizes) != [16, 32]:
            problems.append("icon group 1 holds sizes %r, expected 16 and 32" % sorted(sizes))
    except (PeError, struct.error) as error:
        problems.append(str(error))
    for problem in problems:
        print("%s: icon: %s" % (path, problem))
    if problems:
        return 1
    print("%s: icon group 1 with 16 x 16 and 32 x 32 images of 32 bits per pixel" % path)
    return 0


if __name__ == "__main__":
    sys.exit(main())
