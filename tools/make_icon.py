#!/usr/bin/env python3
"""Draws Tarvo's icon (a green shield with a white downward arrow) and writes it as a
Windows .ico with 16x16, 32x32 and 48x48 images in 32-bit colour.

Usage: tools/make_icon.py OUTPUT.ico
"""
import struct
import sys


def pixel(x, y, size):
    """RGBA of one pixel; coordinates from the top-left, in 0..size-1."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size
    # Shield: a rounded top and a point at the bottom.
    half_width = 0.42 if v < 0.55 else 0.42 * max(0.0, (1.0 - v) / 0.45)
    inside = 0.06 < v < 0.97 and abs(u - 0.5) <= half_width
    if not inside:
        return (0, 0, 0, 0)
    # Arrow: a shaft and a head pointing down.
    shaft = abs(u - 0.5) < 0.07 and 0.2 < v < 0.55
    head = 0.5 <= v < 0.78 and abs(u - 0.5) < (0.78 - v) * 0.9
    if shaft or head:
        return (255, 255, 255, 255)
    shade = int(150 - 60 * v)
    return (40, shade + 60, 70, 255)


def image(size):
    """One icon image: BITMAPINFOHEADER, bottom-up BGRA rows, then the AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = bytearray()
    for y in range(size - 1, -1, -1):
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            rows += bytes((b, g, r, a))
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(size):
            if pixel(x, y, size)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(rows) + bytes(mask)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as f:
        f.write(out + b"".join(images))


if __name__ == "__main__":
    main()
