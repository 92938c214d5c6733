#!/usr/bin/env python3
"""Writes the program's icon file from the text pictures in app/icon/.

    make_icon.py OUTPUT.ico PICTURE.txt [PICTURE.txt ...]

Each picture is a square of characters, one per pixel, after a legend that
gives each character's colour (RRGGBB or "transparent") and a "---" line;
lines starting with "#" are comments. Every picture becomes one 32-bit image
(BGRA colours plus the 1-bit AND mask that older Windows versions draw with)
in one icon group.
"""
import struct
import sys


def read_picture(path):
    colours = {}
    rows = []
    in_pixels = False
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not in_pixels:
                if line.startswith("#") or not line.strip():
                    continue
                if line == "---":
                    in_pixels = True
                    continue
                key, _, value = line.partition(" ")
                if len(key) != 1 or not value:
                    sys.exit(f"{path}:{number}: legend lines are 'C RRGGBB'")
                if value == "transparent":
                    colours[key] = None
                else:
                    colours[key] = (int(value[0:2], 16), int(value[2:4], 16), int(value[4:6], 16))
            elif line:
                rows.append(line)
    size = len(rows)
    if size not in (16, 32, 48) or any(len(r) != size for r in rows):
        sys.exit(f"{path}: the picture must be a square of 16, 32 or 48 pixels")
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c not in colours:
                sys.exit(f"{path}: pixel ({x}, {y}) uses '{c}', which the legend lacks")
    return size, [[colours[c] for c in row] for row in rows]


def image_bytes(size, pixels):
    """A DIB as icons hold it: header with doubled height, bottom-up BGRA, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    mask_stride = ((size + 31) // 32) * 4
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, rgb in enumerate(row):
            if rgb is None:
                colour += b"\0\0\0\0"
                bits[x // 8] |= 0x80 >> (x % 8)
            else:
                colour += bytes((rgb[2], rgb[1], rgb[0], 255))
        mask += bits
    return header + bytes(colour) + bytes(mask)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    pictures = [read_picture(p) for p in sys.argv[2:]]
    sizes = [size for size, _ in pictures]
    images = [image_bytes(size, pixels) for size, pixels in pictures]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for data in images:
        out += data
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
