#!/usr/bin/env python3
"""Draws the hub's icons as 16-colour .ico files: the program icon (101, 32x32 and 16x16) and
the four fix-state icons (139 no fix, 140 no data, 141 2D fix, 142 3D fix, 32x32).

Each picture is a round marker in the state's colour: plain for no fix and no data, a ring
for a 2D fix, a ring with a centre dot for a 3D fix; the program icon has a white "T".
Run it from this folder; the .ico files it writes are committed next to it.
"""
import struct

# The standard 16-colour palette (RGB).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_GREEN, GREY, LIGHT_GREY, GREEN, YELLOW, BLUE, WHITE = 0, 2, 8, 7, 10, 11, 12, 15
TRANSPARENT = None


def draw(size, fill, mark):
    """Rows of palette indices (None = transparent), top row first."""
    centre = (size - 1) / 2
    radius = size / 2 - 0.5
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
            if d > radius:
                row.append(TRANSPARENT)
            elif d > radius - max(1, size / 16):
                row.append(BLACK)
            else:
                row.append(fill)
        rows.append(row)
    unit = size / 32
    if mark in ("ring", "ring-dot"):
        for y in range(size):
            for x in range(size):
                d = ((x - centre) ** 2 + (y - centre) ** 2) ** 0.5
                if radius * 0.45 <= d <= radius * 0.62:
                    rows[y][x] = WHITE
                if mark == "ring-dot" and d <= radius * 0.22:
                    rows[y][x] = WHITE
    if mark == "T":
        bar = range(int(8 * unit), int(24 * unit))
        for y in range(int(8 * unit), int(12 * unit)):
            for x in bar:
                rows[y][x] = WHITE
        for y in range(int(12 * unit), int(25 * unit)):
            for x in range(int(14 * unit), int(18 * unit)):
                rows[y][x] = WHITE
    return rows


def image(rows):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_stride = (size * 4 + 31) // 32 * 4
    mask_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom-up
        line = bytearray(colour_stride)
        bits = bytearray(mask_stride)
        for x, index in enumerate(row):
            value = 0 if index is None else index
            line[x // 2] |= value << (4 if x % 2 == 0 else 0)
            if index is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        colour += line
        mask += bits
    return header + palette + bytes(colour) + bytes(mask)


def write_icon(name, pictures):
    images = [image(rows) for rows in pictures]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for rows, data in zip(pictures, images):
        size = len(rows)
        directory += struct.pack("<BBBBHHII", size % 256, size % 256, 16, 0, 1, 4, len(data),
                                 offset)
        offset += len(data)
    with open(name, "wb") as out:
        out.write(directory + b"".join(images))


write_icon("program.ico", [draw(32, BLUE, "T"), draw(16, BLUE, "T")])
write_icon("nofix.ico", [draw(32, YELLOW, None)])
write_icon("nodata.ico", [draw(32, GREY, None)])
write_icon("fix2d.ico", [draw(32, DARK_GREEN, "ring")])
write_icon("fix3d.ico", [draw(32, GREEN, "ring-dot")])
