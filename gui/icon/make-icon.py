#!/usr/bin/env python3
"""Draws the romwright-gui window icon and writes it as a multi-size .ico,
or as one PNG of a given size (for the desktop's icon theme).

The icon is a small circuit board with a chip and a download arrow. It is
drawn from geometric shapes with 4x4 supersampling, so the script needs
nothing beyond the standard library. Usage:

    gui/icon/make-icon.py gui/icon/romwright-gui.ico
    gui/icon/make-icon.py --png 48 romwright-gui-48.png
"""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 64, 128)
SUPERSAMPLE = 4

BOARD = (0x1E, 0x6B, 0x45)
BOARD_EDGE = (0x12, 0x45, 0x2C)
GOLD = (0xE8, 0xB9, 0x3A)
CHIP = (0x24, 0x27, 0x2E)
PIN = (0xC8, 0xCC, 0xD2)
ARROW = (0xFF, 0xFF, 0xFF)


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def rect(x0, y0, x1, y1):
    return lambda x, y: x0 <= x <= x1 and y0 <= y <= y1


def triangle(a, b, c):
    def side(p, q, x, y):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

    def inside(x, y):
        s1, s2, s3 = side(a, b, x, y), side(b, c, x, y), side(c, a, x, y)
        return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)
    return inside


def shapes():
    """Shapes in painting order, in unit coordinates (0..1, y down)."""
    layers = [
        (rounded_rect(0.04, 0.08, 0.96, 0.92, 0.10), BOARD_EDGE),
        (rounded_rect(0.08, 0.12, 0.92, 0.88, 0.07), BOARD),
    ]
    for i in range(6):  # edge-connector fingers along the bottom
        x = 0.17 + i * 0.115
        layers.append((rect(x, 0.80, x + 0.06, 0.92), GOLD))
    for i in range(4):  # chip pins left and right
        y = 0.30 + i * 0.11
        layers.append((rect(0.22, y, 0.78, y + 0.05), PIN))
    layers.append((rounded_rect(0.29, 0.24, 0.71, 0.70, 0.03), CHIP))
    layers.append((rect(0.44, 0.28, 0.56, 0.46), ARROW))
    layers.append((triangle((0.34, 0.46), (0.66, 0.46), (0.50, 0.64)), ARROW))
    return layers


def render(size, layers):
    """Returns rows of (r, g, b, a) pixels, top row first."""
    samples = SUPERSAMPLE * SUPERSAMPLE
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = (px + (sx + 0.5) / SUPERSAMPLE) / size
                    y = (py + (sy + 0.5) / SUPERSAMPLE) / size
                    colour = None
                    for inside, fill in layers:
                        if inside(x, y):
                            colour = fill
                    if colour:
                        r += colour[0]
                        g += colour[1]
                        b += colour[2]
                        a += 255
            covered = a // 255
            if covered:
                row.append((r // covered, g // covered, b // covered, a // samples))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size, rows):
    """A 32-bit BGRA device-independent bitmap with its AND mask, as .ico wants it."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):  # bottom-up
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(pixels) + bytes(mask)


def ico(images):
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dimension = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dimension, dimension, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def png(size, rows):
    """An 8-bit RGBA PNG: signature, header, one zlib stream of filter-0 rows, end."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for pixel in row:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--png":
        size = int(sys.argv[2])
        with open(sys.argv[3], "wb") as out:
            out.write(png(size, render(size, shapes())))
        return
    if len(sys.argv) != 2:
        sys.exit("usage: make-icon.py <output.ico> | make-icon.py --png <size> <output.png>")
    layers = shapes()
    images = [(size, dib(size, render(size, layers))) for size in SIZES]
    with open(sys.argv[1], "wb") as out:
        out.write(ico(images))


if __name__ == "__main__":
    main()
