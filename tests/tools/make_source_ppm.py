#!/usr/bin/python3
"""Writes a small RGB test picture as binary PPM: black background, flat shapes, colours at
192 and above (which a PCX file must store as runs), a noisy patch and a gradient, so that
run-length coders meet long runs, short runs and literals.

usage: make_source_ppm.py WIDTH HEIGHT SEED OUT.ppm
"""
import random
import sys

from PIL import Image, ImageDraw


def main():
    width, height, seed, out = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    rng = random.Random(seed)
    img = Image.new("RGB", (width, height), (0, 0, 0))
    draw = ImageDraw.Draw(img)
    for _ in range(6):
        x0, y0 = rng.randrange(width), rng.randrange(height)
        x1, y1 = min(width - 1, x0 + rng.randrange(8, 90)), min(height - 1, y0 + rng.randrange(8, 60))
        colour = tuple(rng.choice([0, 63, 128, 191, 192, 200, 255]) for _ in range(3))
        if rng.random() < 0.5:
            draw.rectangle([x0, y0, x1, y1], fill=colour)
        else:
            draw.ellipse([x0, y0, x1, y1], fill=colour)
    px = img.load()
    # A noisy patch and a gradient strip.
    for y in range(height // 3, height // 3 + min(24, height // 3)):
        for x in range(width // 2, min(width, width // 2 + 40)):
            px[x, y] = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
    for y in range(height - min(10, height // 4), height):
        for x in range(width):
            px[x, y] = (x * 255 // max(1, width - 1), 255 - x * 255 // max(1, width - 1), 200)
    img.save(out, format="PPM")


if __name__ == "__main__":
    main()
