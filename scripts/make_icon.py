#!/usr/bin/env python3
"""Draws the Nivalto application icon and writes it as a .ico file.

The artwork is a snow crystal (nivalto: of the snow) in white on a deep blue
rounded square. Every size is drawn from the same geometry rather than scaled,
so the small images stay crisp. Each image is stored as PNG inside the icon
directory, which Windows Vista and later read at every size.
"""
import math
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)


def coverage(x, y, size):
    """Returns (background alpha, crystal alpha) for one pixel, both 0..1."""
    c = (size - 1) / 2.0
    dx, dy = x - c, y - c
    # Rounded square background.
    half = size / 2.0 - 0.5
    radius = size * 0.2
    qx, qy = max(abs(dx) - (half - radius), 0.0), max(abs(dy) - (half - radius), 0.0)
    bg = 1.0 if math.hypot(qx, qy) <= radius else 0.0
    # Six arms with two small branches each.
    r = math.hypot(dx, dy)
    arm_len = size * 0.38
    width = max(size * 0.045, 0.75)
    fg = 0.0
    for k in range(6):
        a = math.pi / 3 * k + math.pi / 2
        ux, uy = math.cos(a), math.sin(a)
        t = dx * ux + dy * uy
        d = abs(-dx * uy + dy * ux)
        if 0 <= t <= arm_len and d <= width:
            fg = 1.0
        for side in (-1, 1):
            b = a + side * math.pi / 4
            bx, by = math.cos(b), math.sin(b)
            ox, oy = dx - ux * arm_len * 0.55, dy - uy * arm_len * 0.55
            tb = ox * bx + oy * by
            db = abs(-ox * by + oy * bx)
            if 0 <= tb <= arm_len * 0.35 and db <= width:
                fg = 1.0
    if r <= width * 1.8:
        fg = 1.0
    return bg, fg


def draw_png(size):
    rows = []
    for y in range(size):
        row = bytearray([0])
        for x in range(size):
            bg, fg = coverage(x, y, size)
            if fg:
                row += bytes((245, 250, 255, 255))
            elif bg:
                row += bytes((21, 67, 140, 255))
            else:
                row += bytes((0, 0, 0, 0))
        rows.append(bytes(row))
    raw = b"".join(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main(path):
    images = [draw_png(s) for s in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in zip(SIZES, images):
        dim = 0 if size == 256 else size  # 0 stands for 256 in the directory
        entries += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(path, "wb") as f:
        f.write(header + entries + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
