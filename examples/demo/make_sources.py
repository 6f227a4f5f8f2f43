#!/usr/bin/python3
"""Makes the demo project's sources: 24-bit PCX pictures (PIL) and 256-colour IFF pictures in
both layouts (interleaved bit-planes "ILBM" and chunky "PBM "), written byte by byte.

Run from anywhere; writes next to this script. The sources are committed, so the demo does
not need this script to run; it documents how they were made and remakes them identically.
"""
import os
import struct

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
W, H = 800, 600


def stamped(folder, prefix, icon, ext):
    d = [icon // 1000 % 10, icon // 100 % 10, icon // 10 % 10, icon % 10]
    return os.path.join(HERE, folder, "%s%d_%d_%d_%d.%s" % (prefix, *d, ext))


def colour(i, x, y):
    # Blue never 0, so solid shapes stay one run per row.
    return ((x * 3 + i * 40) % 256, (y * 5 + i * 17) % 256, 1 + (x + y + i * 11) % 250)


def solid(img, i, box):
    x0, y0, x1, y1 = box
    px = img.load()
    for y in range(y0, y1):
        for x in range(x0, x1):
            px[x, y] = colour(i, x, y)


def pcx_picture(icon, i):
    img = Image.new("RGB", (W, H))
    kind = i % 3
    left, top = 40 + (i * 53) % 600, 30 + (i * 37) % 450
    if kind == 0:    # one block per row: "Unmasked"
        solid(img, i, (left, top, left + 60 + i % 5 * 10, top + 40))
    elif kind == 1:  # two blocks side by side: "X-masked"
        solid(img, i, (left, top, left + 30, top + 40))
        solid(img, i + 1, (left + 45, top + 10, left + 70, top + 30))
    else:            # stripes: "0-masked"
        for s in range(5):
            solid(img, i, (left + s * 8, top, left + s * 8 + 4, top + 36))
    if icon >= 4000:  # smoothed range: large flat areas the filter evens out
        draw = ImageDraw.Draw(img)
        draw.rectangle((left, top + 50, left + 90, top + 110), fill=(120 + i, 60, 30))
    img.save(stamped("pcx", "p", icon, "pcx"))


def palette():
    pal = bytearray(768)
    for k in range(1, 256):
        pal[3 * k:3 * k + 3] = bytes((k, 255 - k, (k * 7) % 256 or 1))
    return bytes(pal)


def indices(i, width, height):
    rows = []
    for y in range(height):
        row = bytearray(width)
        for x in range(width):
            dx, dy = x - width // 2, y - height // 2
            r2 = dx * dx + dy * dy
            if (width // 3) ** 2 < r2 * 4 < width * width:
                row[x] = 1 + (x // 4 + y // 4 + i * 9) % 255
        rows.append(bytes(row))
    return rows


def chunk(tag, data):
    return tag + struct.pack(">I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def iff(form, width, height, body):
    bmhd = struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, 8, 0, 0, 0, 0, 10, 11,
                       width, height)
    data = form + chunk(b"BMHD", bmhd) + chunk(b"CMAP", palette()) + chunk(b"BODY", body)
    return b"FORM" + struct.pack(">I", len(data)) + data


def ilbm(i, width=96, height=64):
    body = bytearray()
    for row in indices(i, width, height):
        for plane in range(8):
            bits = bytearray(width // 8)
            for x, v in enumerate(row):
                if v >> plane & 1:
                    bits[x // 8] |= 0x80 >> (x % 8)
            body += bits
    return iff(b"ILBM", width, height, bytes(body))


def pbm(i, width=120, height=80):
    return iff(b"PBM ", width, height, b"".join(indices(i, width, height)))


def main():
    for folder in ("pcx", "lbm"):
        os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    icons = list(range(3000, 3018)) + [3050, 3099, 3100, 3250] + list(range(4000, 4010)) + [4999]
    for i, icon in enumerate(icons):
        pcx_picture(icon, i)
    for i, icon in enumerate(range(3300, 3305)):
        with open(stamped("lbm", "i", icon, "lbm"), "wb") as f:
            f.write(ilbm(i))
    for i, icon in enumerate((4400, 4401, 4402)):
        with open(stamped("lbm", "i", icon, "lbm"), "wb") as f:
            f.write(pbm(i))


if __name__ == "__main__":
    main()
