#!/usr/bin/env python3
"""Draws the updater's two icons as 32-bit .ico files: a mail envelope with a green
download arrow (32x32 for the updater dialog, 16x16 for the close-applications dialog)."""
import struct
import sys


def draw(size):
    """Returns rows of (r, g, b, a), top row first."""
    s = size / 32.0
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def put(x, y, colour):
        if 0 <= x < size and 0 <= y < size:
            pixels[y][x] = colour

    paper, edge, flap = (250, 246, 232, 255), (60, 70, 110, 255), (205, 200, 185, 255)
    left, right, top, bottom = round(2 * s), round(29 * s), round(8 * s), round(27 * s)
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            border = x in (left, right) or y in (top, bottom)
            put(x, y, edge if border else paper)
    # The flap: two diagonals meeting in the middle of the envelope.
    middle = (left + right) // 2
    for x in range(left, right + 1):
        y = top + round(abs(x - left if x <= middle else right - x) * 0.6)
        put(x, y, edge)
        for fill in range(top + 1, y):
            put(x, fill, flap)
    # The arrow: a green shaft and head in the lower right corner.
    green, dark = (40, 160, 60, 255), (20, 100, 35, 255)
    cx = round(22 * s)
    for y in range(round(13 * s), round(24 * s)):
        for x in range(cx - max(1, round(2 * s)), cx + max(1, round(2 * s)) + 1):
            put(x, y, green)
    for row in range(max(2, round(6 * s))):
        y = round(24 * s) + row
        half = max(2, round(6 * s)) - row
        for x in range(cx - half, cx + half + 1):
            put(x, y, dark if x in (cx - half, cx + half) else green)
    return pixels


def ico(size):
    pixels = draw(size)
    xor = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = bytes(mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22)
    return directory + image


if __name__ == "__main__":
    out_dir = sys.argv[1]
    with open(f"{out_dir}/updater32.ico", "wb") as f:
        f.write(ico(32))
    with open(f"{out_dir}/closeapps16.ico", "wb") as f:
        f.write(ico(16))
