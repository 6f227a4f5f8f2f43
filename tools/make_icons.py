#!/usr/bin/python3
"""Draws the window icons of ZCreate.exe (resources 1 and 2) as 16-colour .ico files.

The artwork is a yellow "Z" on a framed dark-blue tile with a small red sun, drawn
procedurally so both sizes come from one description. The files are written byte by byte
(4-bit colour bitmap plus 1-bit transparency mask) because the old 16-colour layout is what
the window class asks for; run it again after changing the drawing and commit the results:

    /usr/bin/python3 tools/make_icons.py src/app/win32
"""
import struct
import sys
from pathlib import Path

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, GREY, RED, YELLOW, WHITE = 0, 4, 8, 9, 11, 15
TRANSPARENT = None


def draw(size):
    """Returns size x size rows of palette indices (None where the icon is transparent)."""
    s = size / 32.0
    px = [[TRANSPARENT] * size for _ in range(size)]
    last = size - 1
    corner = max(1, round(3 * s))
    for y in range(size):
        for x in range(size):
            # Rounded tile: cut the corners on a diagonal.
            dx = min(x, last - x)
            dy = min(y, last - y)
            if dx + dy < corner - 1:
                continue
            edge = dx == 0 or dy == 0 or dx + dy == corner - 1
            px[y][x] = WHITE if edge else NAVY
    # A grey drop line inside the frame gives the tile some depth.
    for i in range(1, size - 1):
        if px[last - 1][i] == NAVY:
            px[last - 1][i] = GREY
        if px[i][last - 1] == NAVY:
            px[i][last - 1] = GREY
    # The sun, top right.
    cx, cy, r = 24.5 * s, 7.5 * s, max(1.2, 3.2 * s)
    for y in range(size):
        for x in range(size):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r and px[y][x] == NAVY:
                px[y][x] = RED
    # The "Z": two bars joined by a thick diagonal.
    left, right = round(6 * s), round(22 * s)
    top, bottom = round(9 * s), round(24 * s)
    bar = max(1, round(3 * s))
    for y in range(top, bottom + 1):
        for x in range(left, right + 1):
            on_bar = y < top + bar or y > bottom - bar
            # The diagonal runs from the top bar's right end to the bottom bar's left end.
            t = (y - top) / max(1, bottom - top)
            diag_x = right - t * (right - left)
            on_diag = abs(x - diag_x) <= bar * 0.75
            if on_bar or on_diag:
                px[y][x] = YELLOW
    # A black shadow under the Z gives it depth; at 16 pixels it would smear the letter.
    if size < 32:
        return px
    for y in range(size - 1, 0, -1):
        for x in range(size - 1, 0, -1):
            if px[y][x] == NAVY and px[y - 1][x - 1] == YELLOW:
                px[y][x] = BLACK
    return px


def ico_bytes(px):
    size = len(px)
    xor_row = ((size * 4 + 31) // 32) * 4
    and_row = ((size + 31) // 32) * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):  # bitmaps are stored bottom row first
        line = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, value in enumerate(row):
            index = 0 if value is None else value
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if value is None:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    # Height counts both the colour bitmap and the mask, as icons require.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    out = Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    for name, size in (("zcreate32.ico", 32), ("zcreate16.ico", 16)):
        (out / name).write_bytes(ico_bytes(draw(size)))
        print(out / name)


if __name__ == "__main__":
    main()
