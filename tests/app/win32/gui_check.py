#!/usr/bin/python3
"""Helpers of the GUI test: generated projects, reading project files, and the screenshot check.

    gui_check.py make-project DIR fast|slow
    gui_check.py info PROJECT.zgl TAG
    gui_check.py neighbours OFFSETS_FILE START      -> "RIGHT LEFT" icons the arrows reach
    gui_check.py shot SCREENSHOT.png X Y SOURCE.pcx  -> compares the painted picture
    gui_check.py font-picture OUT.pcx                -> a picture of characters for "Font"
    gui_check.py length OFFSETS_FILE ICON            -> the icon's entry length
    gui_check.py stamp PATTERN ICON                  -> the pattern with the icon stamped in
    gui_check.py warnings GUI_LOG CONSOLE_LOG        -> the same warnings in both
"""
import os
import random
import re
import subprocess
import sys
from pathlib import Path



class Picture:
    """An RGB picture as netpbm's P6 format holds it; pixels are (r, g, b) tuples."""

    def __init__(self, width, height, data=None):
        self.width, self.height = width, height
        self.data = bytearray(data if data is not None else width * height * 3)

    def __getitem__(self, xy):
        i = (xy[1] * self.width + xy[0]) * 3
        return tuple(self.data[i:i + 3])

    def __setitem__(self, xy, rgb):
        i = (xy[1] * self.width + xy[0]) * 3
        self.data[i:i + 3] = bytes(rgb)

    def ppm(self):
        return b"P6\n%d %d\n255\n" % (self.width, self.height) + bytes(self.data)

    @staticmethod
    def from_ppm(raw):
        # Header: magic, width, height, maximum, each after white space; one byte, then data.
        fields, pos = [], 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos)
                continue
            end = pos
            while not raw[end:end + 1].isspace():
                end += 1
            fields.append(raw[pos:end])
            pos = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise ValueError("not an 8-bit P6 picture")
        width, height = int(fields[1]), int(fields[2])
        return Picture(width, height, raw[pos + 1:pos + 1 + width * height * 3])

    @staticmethod
    def load(path):
        """Any picture file ImageMagick reads (PNG screenshots, PCX files)."""
        command = (["pcxtoppm", str(path)] if str(path).lower().endswith(".pcx")
                   else ["convert", str(path), "-depth", "8", "ppm:-"])
        raw = subprocess.run(command, capture_output=True, check=True).stdout
        return Picture.from_ppm(raw)

    def box(self):
        """left, top, right, bottom of the non-black pixels, inclusive; None when all black."""
        rows = [y for y in range(self.height)
                if any(self.data[(y * self.width) * 3:((y + 1) * self.width) * 3])]
        if not rows:
            return None
        cols = [x for x in range(self.width)
                if any(any(self[x, y]) for y in range(rows[0], rows[-1] + 1))]
        return cols[0], rows[0], cols[-1], rows[-1]

WIDTH, HEIGHT = 800, 600
BAR = 20  # the button bar above the picture

INFO = """; ZCreate GUI test project ({kind})
FSEP sep_0_0_0_0.ent 
FCOO gui.coo 
FOFS gui.ofs 
FBLK blk00.zgb 
FPCX pcx_0_0_0_0.pcx 
FWAV wav_0_0_0_0.wav 
FLBM lbm_0_0_0_0.lbm 
NSIZ 20000
BLKB 100
DSTA 3210
DEND 4999
DVIE 1
DBLK 3
DARC 0
DPAK {dpak}
"""


def stamped(icon):
    d = f"{icon:04d}"
    return f"pcx_{d[0]}_{d[1]}_{d[2]}_{d[3]}.pcx"


def picture(seed, noisy):
    """An icon on black: a shaded ellipse whose box differs per seed, so crops differ."""
    rnd = random.Random(seed)
    left, top = 60 + rnd.randrange(300), 50 + rnd.randrange(200)
    w, h = 120 + rnd.randrange(300), 90 + rnd.randrange(250)
    img = Picture(WIDTH, HEIGHT)
    px = img
    cx, cy = left + w / 2, top + h / 2
    for y in range(top, top + h):
        for x in range(left, left + w):
            dx, dy = (x - cx) / (w / 2), (y - cy) / (h / 2)
            if dx * dx + dy * dy > 1:
                continue
            r, g, b = (x * 7 + seed * 40) % 256, (y * 5) % 256, (x + y + seed * 90) % 256
            if noisy:
                r, g, b = (r ^ rnd.randrange(64)), (g ^ rnd.randrange(64)), b
            px[x, y] = (r or 1, g, b)
    return img


def write_pcx(img, path):
    with open(path, "wb") as out:
        subprocess.run(["ppmtopcx", "-24bit"], input=img.ppm(), stdout=out, check=True,
                       stderr=subprocess.DEVNULL)


def make_project(directory, kind):
    d = Path(directory)
    d.mkdir(parents=True, exist_ok=True)
    if kind == "fast":
        # A few scattered icons, in two blocks and the smoothing range, and the run's last one.
        icons = [3000, 3001, 3002, 3050, 3099, 3100, 3101, 3420, 4000, 4999]
        for i, icon in enumerate(icons):
            write_pcx(picture(i, noisy=False), d / stamped(icon))
        (d / "gui.zgl").write_text(INFO.format(kind=kind, dpak=0))
    else:
        # Hundreds of icons, all the same noisy picture (hard links), every one packed: a run
        # long enough to be stopped or closed in the middle.
        first = d / stamped(3000)
        write_pcx(picture(7, noisy=True), first)
        for icon in range(3001, 3600):
            os.link(first, d / stamped(icon))
        (d / "gui.zgl").write_text(INFO.format(kind=kind, dpak=2))


def font_picture(path):
    """Two text lines of glyphs as the font builder expects them: a marker row whose leftmost
    mark, with a second mark below it, gives the glyph height; glyphs split by empty columns."""
    img = Picture(WIDTH, HEIGHT)
    px = img
    height = 12
    for line, top in enumerate((30, 80)):
        mark = 20
        for x in range(mark, 300, 37):
            px[x, top] = (200, 200, 200)  # the marker row, leftmost mark first
        px[mark, top + height + 1] = (255, 255, 255)  # the closing mark
        x = mark + 4
        for glyph in range(5 + line):
            width = 3 + (glyph * 2 + line) % 5
            for gx in range(x, x + width):
                for gy in range(top + 1, top + 1 + height):
                    if (gx * 3 + gy * (glyph + 1)) % 4:
                        px[gx, gy] = (8 + (gx * 11 + gy * 7) % 240, 60, 90)
            x += width + 2 + glyph % 3
    write_pcx(img, Path(path))


def info_value(path, tag):
    """The value of `tag` as the project parser reads it (last occurrence, not at byte 0)."""
    text = Path(path).read_bytes()[:4096].split(b"\0")[0].decode("latin-1")
    value = None
    for m in re.finditer(re.escape(tag), text):
        if m.start() == 0:
            continue
        rest = text[m.start() + 5:]
        if tag.startswith("F"):
            value = re.split(r"[ \t]", rest, maxsplit=1)[0]
        else:
            n = re.match(r"\s*([+-]?\d+)", rest)
            value = n.group(1) if n else "0"
    return value


def lengths(offsets_file):
    data = Path(offsets_file).read_bytes()
    return [int.from_bytes(data[i + 4:i + 8], "little", signed=True)
            for i in range(0, len(data) - 7, 8)]


def neighbours(offsets_file, start):
    """Where the right arrow goes from `start`, and then where the left arrow goes back."""
    length = lengths(offsets_file)
    has = lambda n: n < len(length) and length[n] != 0
    right = start
    while True:
        if right < 8999:
            right += 1
        if has(right) or right >= 8999:
            break
    left = right
    while True:
        if left > 0:
            left -= 1
        if has(left) or left <= 0:
            break
    return right, left


def check_shot(shot, x0, y0, source):
    """The painted picture must be the source picture pixel for pixel, except the four white
    crop lines, which must lie on the rows and columns of the source's non-black box."""
    screen = Picture.load(shot)
    expected = Picture.load(source)
    left, top, right, bottom = expected.box()
    a, e = screen, expected
    line_rows, line_cols = {top, bottom}, {left, right}
    wrong = 0
    for y in range(HEIGHT):
        for x in range(WIDTH):
            want = (255, 255, 255) if (y in line_rows or x in line_cols) else e[x, y]
            got = a[x0 + x, y0 + BAR + y]
            if got != want:
                wrong += 1
                if wrong <= 5:
                    print(f"pixel {x},{y}: painted {got}, expected {want}")
    print(f"crop box top {top} bottom {bottom} left {left} right {right}; "
          f"{wrong} pixels differ")
    return wrong == 0


def stamp(pattern, icon):
    """Digits into the 7th, 5th, 3rd and 1st places before the first '.' after the first
    character; the test only stamps patterns long enough for that."""
    dot = pattern.find(".", 1)
    end = len(pattern) if dot < 0 else dot
    chars = list(pattern)
    for place, digit in zip((7, 5, 3, 1), f"{icon:04d}"):
        chars[end - place] = digit
    return "".join(chars).replace("\\", "/")


def same_warnings(gui_log, console_log):
    """Every box the window showed, the console reported as often (each on a line of its own)."""
    shown = [line.split("]: ", 1)[1].rstrip("\n")
             for line in Path(gui_log).read_text(errors="replace").splitlines(True)
             if line.startswith("message [")]
    console = Path(console_log).read_text(errors="replace").splitlines()
    ok = True
    for text in sorted(set(shown)):
        gui_count = shown.count(text)
        console_count = sum(1 for line in console if text in line)
        if gui_count != console_count:
            print(f"'{text}': window {gui_count}, console {console_count}")
            ok = False
    print(f"{len(shown)} warning boxes, {len(set(shown))} distinct texts")
    return ok


def main():
    cmd = sys.argv[1]
    if cmd == "make-project":
        make_project(sys.argv[2], sys.argv[3])
    elif cmd == "info":
        print(info_value(sys.argv[2], sys.argv[3]) or "")
    elif cmd == "neighbours":
        print(*neighbours(sys.argv[2], int(sys.argv[3])))
    elif cmd == "shot":
        sys.exit(0 if check_shot(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]),
                                 sys.argv[5]) else 1)
    elif cmd == "length":
        table = lengths(sys.argv[2])
        icon = int(sys.argv[3])
        print(table[icon] if icon < len(table) else 0)
    elif cmd == "font-picture":
        font_picture(sys.argv[2])
    elif cmd == "stamp":
        print(stamp(sys.argv[2], int(sys.argv[3])))
    elif cmd == "warnings":
        sys.exit(0 if same_warnings(sys.argv[2], sys.argv[3]) else 1)
    else:
        sys.exit(f"unknown command {cmd}")


if __name__ == "__main__":
    main()
