#!/usr/bin/python3
"""Writes an IFF "PBM " (chunky, one byte per pixel) picture from a binary PPM of at most 256
colours; no Debian tool writes this layout. Rows of odd width get one filler byte, as the
layout's writers store them; the body is ByteRun1 compressed unless --nocompress is given.

usage: make_pbm.py [--nocompress] IN.ppm OUT.iff
"""
import struct
import sys

from PIL import Image


def byterun1(row):
    out = bytearray()
    i = 0
    while i < len(row):
        run = 1
        while i + run < len(row) and run < 128 and row[i + run] == row[i]:
            run += 1
        if run >= 2:
            out += struct.pack("bB", -(run - 1), row[i])
            i += run
            continue
        start = i
        while i < len(row) and i - start < 128 and not (
                i + 1 < len(row) and row[i + 1] == row[i]):
            i += 1
        if i == start:
            i += 1
        out += struct.pack("B", i - start - 1) + bytes(row[start:i])
    return bytes(out)


def chunk(tag, data):
    body = tag + struct.pack(">I", len(data)) + data
    return body + (b"\0" if len(data) & 1 else b"")


def main():
    args = sys.argv[1:]
    compress = True
    if args[0] == "--nocompress":
        compress = False
        args = args[1:]
    img = Image.open(args[0]).convert("RGB")
    width, height = img.size
    colours = sorted(set(img.getdata()))
    if len(colours) > 256:
        sys.exit("more than 256 colours")
    lookup = {c: i for i, c in enumerate(colours)}
    cmap = b"".join(bytes(c) for c in colours) + bytes(3 * (256 - len(colours)))
    bmhd = struct.pack(">HHhhBBBBHBBhh", width, height, 0, 0, 8, 0, 1 if compress else 0, 0,
                       0, 1, 1, width, height)
    pixels = list(img.getdata())
    body = bytearray()
    for y in range(height):
        row = bytes(lookup[p] for p in pixels[y * width:(y + 1) * width])
        if width & 1:
            row += b"\0"
        body += byterun1(row) if compress else row
    form = b"PBM " + chunk(b"BMHD", bmhd) + chunk(b"CMAP", cmap) + chunk(b"BODY", bytes(body))
    with open(args[1], "wb") as f:
        f.write(b"FORM" + struct.pack(">I", len(form)) + form)


if __name__ == "__main__":
    main()
