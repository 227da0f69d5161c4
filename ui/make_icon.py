#!/usr/bin/env python3
"""Draws the program icon (16x16 and 32x32, 32-bit) and writes kestrune.ico.

A teal rounded square carrying a pale rune: a staff with two branches.
Run again only to change the picture; the .ico is committed.
"""
import struct
import sys

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


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up, as BMP stores it
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    xor = b"".join(rows)
    mask_stride = ((size + 31) // 32) * 4
    and_mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_stride)
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + bytes(and_mask)


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "kestrune.ico")
