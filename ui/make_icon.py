#!/usr/bin/env python3
"""Draws the program icon (16, 32, 48 and 256 pixels, 32-bit) and writes kestrune.ico.

A teal rounded square carrying a pale rune: a staff with two branches.
Run again only to change the picture; the .ico is committed. The 256-pixel
image is stored as a PNG, as Windows expects at that size; the others as
bitmaps, which every version reads.
"""
import struct
import sys
import zlib

BACKGROUND = (0x1F, 0x6F, 0x78)
EDGE = (0x0F, 0x3F, 0x46)
RUNE = (0xF2, 0xE8, 0xC8)
SUPERSAMPLE = 4


def inside_rounded_square(x, y, size):
    radius = size * 0.22
    lo, hi = radius, size - radius
    cx = min(max(x, lo), hi)
    cy = min(max(y, lo), hi)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def near_segment(x, y, a, b, width):
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = ((x - ax) * dx + (y - ay) * dy) / float(dx * dx + dy * dy)
    t = min(max(t, 0.0), 1.0)
    px, py = ax + t * dx, ay + t * dy
    return (x - px) ** 2 + (y - py) ** 2 <= (width / 2.0) ** 2


def rune_strokes(size):
    s = size / 32.0
    staff = ((11 * s, 6 * s), (11 * s, 26 * s))
    upper = ((11 * s, 16 * s), (22 * s, 6.5 * s))
    lower = ((14 * s, 14 * s), (23 * s, 25.5 * s))
    return [staff, upper, lower], max(2.0, 3.2 * s)


def pixel(x, y, size):
    strokes, width = rune_strokes(size)
    totals = [0.0, 0.0, 0.0, 0.0]
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            if not inside_rounded_square(px, py, size):
                continue
            if any(near_segment(px, py, a, b, width) for a, b in strokes):
                colour = RUNE
            elif not inside_rounded_square(size / 2 + (px - size / 2) * 1.1,
                                           size / 2 + (py - size / 2) * 1.1, size):
                colour = EDGE
            else:
                colour = BACKGROUND
            for i in range(3):
                totals[i] += colour[i]
            totals[3] += 1
    n = SUPERSAMPLE * SUPERSAMPLE
    covered = totals[3]
    if covered == 0:
        return (0, 0, 0, 0)
    r, g, b = (int(round(totals[i] / covered)) for i in range(3))
    return (r, g, b, int(round(255 * covered / n)))


def pixels(size):
    """Rows top first, each a list of (r, g, b, a)."""
    return [[pixel(x, y, size) for x in range(size)] for y in range(size)]


def png(size):
    rows = pixels(size)
    raw = b"".join(b"\0" + bytes(v for p in row for v in p) for row in rows)

    def chunk(kind, body):
        crc = zlib.crc32(kind + body) & 0xFFFFFFFF
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", crc)

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def image(size):
    if size >= 256:
        return png(size)
    rows = pixels(size)[::-1]  # bottom-up, as BMP stores it
    xor = b"".join(bytes(v for r, g, b, a in row for v in (b, g, r, a)) for row in rows)
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for row in rows:
        bits = bytearray(mask_stride)
        for x, (_r, _g, _b, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + bytes(and_mask)


def main(path):
    sizes = [16, 32, 48, 256]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        side = size % 256  # 0 stands for 256
        out += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kestrune.ico")
