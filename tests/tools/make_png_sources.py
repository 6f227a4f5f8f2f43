#!/usr/bin/python3
"""Helpers of make_png_fixtures.sh.

make_png_sources.py WORK                  writes the netpbm sources the PNG writers start from
make_png_sources.py --twin IN.png OUT.ppm the picture as Pillow decodes IN.png (alpha below 128
                                          black, 16-bit samples cut to their high byte), after
                                          checking that ImageMagick decodes the same samples
make_png_sources.py --malformed RGB8.png GREY1.png PALETTE.png DIR
                                          the refused files, made from good ones
"""
import random
import struct
import subprocess
import sys
import zlib

from PIL import Image


def write_pnm(path, magic, width, height, maxval, samples):
    wide = maxval > 255
    with open(path, "wb") as f:
        f.write(b"%s\n%d %d\n%d\n" % (magic, width, height, maxval))
        if wide:
            f.write(b"".join(struct.pack(">H", v) for v in samples))
        else:
            f.write(bytes(samples))


def sources(work):
    rng = random.Random(11)
    w, h = 45, 21
    # 1-bit: a diagonal pattern (PBM 1 is black).
    with open(work + "/grey1.pbm", "wb") as f:
        f.write(b"P4\n%d %d\n" % (w, h))
        for y in range(h):
            bits = [1 if (x + 2 * y) % 7 < 3 else 0 for x in range(w)]
            row = bytearray((w + 7) // 8)
            for x, b in enumerate(bits):
                row[x // 8] |= b << (7 - x % 8)
            f.write(bytes(row))
    write_pnm(work + "/grey2.pgm", b"P5", w, h, 3, [(x + y) % 4 for y in range(h) for x in range(w)])
    write_pnm(work + "/grey4.pgm", b"P5", w, h, 15, [(x * 3 + y) % 16 for y in range(h) for x in range(w)])
    # Arbitrary low bytes, so that a decoder that rounds instead of taking the high byte differs.
    write_pnm(work + "/grey16.pgm", b"P5", w, h, 65535, [rng.randrange(65536) for _ in range(w * h)])
    write_pnm(work + "/rgb16.ppm", b"P6", w, h, 65535, [rng.randrange(65536) for _ in range(3 * w * h)])
    # Alpha: every value around the threshold, then random.
    edge16 = [0, 1, 32767, 32768, 32895, 65535, 33023, 32512]
    write_pnm(work + "/alpha16.pgm", b"P5", w, h, 65535,
              [edge16[i] if i < len(edge16) else rng.randrange(65536) for i in range(w * h)])
    edge8 = [0, 1, 126, 127, 128, 129, 254, 255]
    for name, (aw, ah) in (("alpha37", (37, 23)), ("alpha61", (61, 45))):
        write_pnm(work + "/%s.pgm" % name, b"P5", aw, ah, 255,
                  [edge8[(x // 3 + y) % len(edge8)] if y % 2 else rng.randrange(256)
                   for y in range(ah) for x in range(aw)])
    few = [(255, 0, 0), (0, 192, 64), (30, 60, 250), (200, 200, 200)]
    write_pnm(work + "/few.ppm", b"P6", w, h, 255,
              [c for y in range(h) for x in range(w) for c in few[(x // 5 + y // 4) % 4]])
    # The 800 x 600 picture at 16 bits (low bytes that follow the column, so that they
    # still compress) with blocks of alpha.
    data = Image.open(work + "/s800.ppm").tobytes()
    write_pnm(work + "/s800_16.ppm", b"P6", 800, 600, 65535,
              [v * 256 + (i // 3 % 800 // 4) for i, v in enumerate(data)])
    steps = [65535, 0, 32768, 32767, 40000, 20000]
    write_pnm(work + "/alpha800.pgm", b"P5", 800, 600, 65535,
              [steps[(x // 100 + y // 150) % len(steps)] for y in range(600) for x in range(800)])


def pillow_rgba(path):
    """Samples as 8-bit RGBA the way Pillow decodes them, 16-bit grey cut to the high byte."""
    img = Image.open(path)
    if img.mode in ("I", "I;16", "I;16B"):
        grey = [v >> 8 for v in img.getdata()]
        alpha = [255] * len(grey)
        key = img.info.get("transparency")
        if key is not None:
            alpha = [0 if v == key else 255 for v in img.getdata()]
        return img.size, [p for g, a in zip(grey, alpha) for p in (g, g, g, a)]
    rgba = img.convert("RGBA")
    return img.size, list(rgba.tobytes())


def imagemagick_rgba(path, width, height):
    """The same samples through ImageMagick, at 16 bits cut to the high byte."""
    raw = subprocess.run(["/usr/bin/convert", path, "-depth", "16", "-endian", "MSB", "rgba:-"],
                         check=True, capture_output=True).stdout
    assert len(raw) == width * height * 8, path
    return [raw[i] for i in range(0, len(raw), 2)]


def twin(png, out):
    (width, height), rgba = pillow_rgba(png)
    other = imagemagick_rgba(png, width, height)
    if other != rgba:
        at = next(i for i in range(len(rgba)) if rgba[i] != other[i])
        sys.exit("%s: Pillow and ImageMagick disagree at sample %d (%d, %d)" %
                 (png, at, rgba[at], other[at]))
    pixels = []
    for i in range(0, len(rgba), 4):
        r, g, b, a = rgba[i:i + 4]
        pixels += [r, g, b] if a >= 128 else [0, 0, 0]
    write_pnm(out, b"P6", width, height, 255, pixels)


def chunks(data):
    at, out = 8, []
    while at < len(data):
        (length,) = struct.unpack(">I", data[at:at + 4])
        out.append((data[at + 4:at + 8], data[at + 8:at + 8 + length]))
        at += 12 + length
    return out


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def join(parts):
    return b"\x89PNG\r\n\x1a\n" + b"".join(chunk(k, b) for k, b in parts)


def malformed(rgb8, grey1, palette, out):
    def put(name, data):
        open(out + "/" + name, "wb").write(data)

    base = open(rgb8, "rb").read()
    parts = chunks(base)
    ihdr = parts[0][1]
    idat = b"".join(b for k, b in parts if k == b"IDAT")
    others = [(k, b) for k, b in parts if k not in (b"IDAT", b"IEND", b"IHDR")]

    def with_header(header, body=None):
        return join([(b"IHDR", header)] + others + [(b"IDAT", body or idat), (b"IEND", b"")])

    put("claims-30000x30000.png", with_header(struct.pack(">II", 30000, 30000) + ihdr[8:]))
    put("zero-width.png", with_header(struct.pack(">I", 0) + ihdr[4:]))
    put("rgb-at-4-bits.png", with_header(ihdr[:8] + b"\x04" + ihdr[9:]))
    put("unknown-interlace-method.png", with_header(ihdr[:12] + b"\x02"))
    one_idat = with_header(ihdr)
    cut = one_idat.index(b"IDAT") + 4 + len(idat) // 2
    put("truncated-idat.png", one_idat[:cut])
    put("idat-stream-cut-short.png", with_header(ihdr, idat[: len(idat) // 2]))
    put("no-iend.png", one_idat[: -12])
    put("bad-signature.png", b"\x88" + base[1:])
    put("empty.png", b"")
    put("signature-only.png", base[:8])
    put("unknown-critical-chunk.png",
        join([(b"IHDR", ihdr), (b"ZGLX", b"1234")] + others + [(b"IDAT", idat), (b"IEND", b"")]))
    put("two-headers.png",
        join([(b"IHDR", ihdr), (b"IHDR", ihdr)] + others + [(b"IDAT", idat), (b"IEND", b"")]))
    put("no-idat.png", join([(b"IHDR", ihdr)] + others + [(b"IEND", b"")]))
    rows = bytearray(zlib.decompress(idat))
    rows[0] = 7  # the first row's filter
    put("unknown-row-filter.png", with_header(ihdr, zlib.compress(bytes(rows), 9)))

    pal = chunks(open(palette, "rb").read())
    put("palette-without-plte.png", join([(k, b) for k, b in pal if k != b"PLTE"]))

    # 800 x 600 at one bit is 60,600 bytes of rows; these inflate to 32 MiB.
    grey = chunks(open(grey1, "rb").read())
    bomb_header = struct.pack(">II", 800, 600) + grey[0][1][8:]
    put("inflates-to-32mib-zlib-bomb.png",
        join([(b"IHDR", bomb_header), (b"IDAT", zlib.compress(bytes(32 << 20), 9)),
              (b"IEND", b"")]))


def main():
    if sys.argv[1] == "--twin":
        twin(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "--malformed":
        malformed(*sys.argv[2:6])
    else:
        sources(sys.argv[1])


if __name__ == "__main__":
    main()
