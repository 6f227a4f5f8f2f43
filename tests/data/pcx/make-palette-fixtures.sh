#!/bin/sh
# Regenerates the indexed PCX fixtures under tests/data/pcx: for each writer and kind an indexed
# file NAME.pcx and NAME.truecolor.pcx, the 24-bit file the same writer makes of the same
# pixels, plus the refused kinds under malformed/. Needs netpbm, ImageMagick 6
# (/usr/bin/convert) and Pillow under /usr/bin/python3; the tests themselves need none of them.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
good=$here/good
bad=$here/malformed
py=/usr/bin/python3
im=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$good" "$bad"

# Source pictures, odd sizes: KIND is bw (black and white), two (two colours, neither black
# nor white), N (N flat colours in bands, no black) or many (about 230 colours, no black).
$py - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
flat = [(200, 30, 40), (20, 180, 60), (30, 40, 220), (250, 220, 10), (120, 120, 120),
        (10, 200, 210), (210, 5, 200), (90, 50, 10), (255, 128, 1), (128, 255, 128),
        (60, 60, 160), (240, 180, 200), (40, 90, 40), (180, 180, 250), (255, 255, 255),
        (2, 2, 90)]
def picture(name, w, h, colours, pick):
    img = Image.new("RGB", (w, h))
    for y in range(h):
        for x in range(w):
            img.putpixel((x, y), colours[pick(x, y) % len(colours)])
    img.save(f"{work}/{name}.ppm")
bands = lambda x, y: (x * 3) // 7 + (y * 5) // 9 + (x * y) % 3
picture("bw", 37, 23, [(0, 0, 0), (255, 255, 255)], bands)
picture("two", 37, 23, [(200, 30, 40), (30, 40, 220)], bands)
picture("c4", 37, 23, flat[:4], bands)
picture("c8", 37, 23, flat[:8], bands)
picture("c12", 37, 23, flat[:12], bands)
picture("c16", 37, 23, flat, bands)
many = [((i * 37) % 250 + 5, (i * 91 + 17) % 250 + 5, (i * 53 + 101) % 250 + 5) for i in range(230)]
picture("many", 41, 29, many, lambda x, y: x + y * 41 // 5 + (x * y) % 7)
PY

# netpbm: -8bit for 256 colours (palette at the end), 4 planes of 1 bit for up to 16
# colours, -packed for 4 bits in one plane, one plane of 1 bit for two colours (with both
# colours in the header palette), -xpos/-ypos for Xmin and Ymin.
twin() { ppmtopcx -24bit "$@" 2>/dev/null; }
ppmtopcx -8bit "$work/many.ppm" > "$good/netpbm_palette8.pcx" 2>/dev/null
twin "$work/many.ppm" > "$good/netpbm_palette8.truecolor.pcx"
ppmtopcx -8bit -xpos 5 -ypos 10 "$work/c16.ppm" > "$good/netpbm_palette8_at_5_10.pcx" 2>/dev/null
twin -xpos 5 -ypos 10 "$work/c16.ppm" > "$good/netpbm_palette8_at_5_10.truecolor.pcx"
ppmtopcx "$work/c16.ppm" > "$good/netpbm_planar4.pcx" 2>/dev/null
twin "$work/c16.ppm" > "$good/netpbm_planar4.truecolor.pcx"
ppmtopcx "$work/c12.ppm" > "$good/netpbm_planar4_12_colours.pcx" 2>/dev/null
twin "$work/c12.ppm" > "$good/netpbm_planar4_12_colours.truecolor.pcx"
ppmtopcx -packed "$work/c16.ppm" > "$good/netpbm_packed4.pcx" 2>/dev/null
twin "$work/c16.ppm" > "$good/netpbm_packed4.truecolor.pcx"
ppmtopcx "$work/bw.ppm" > "$good/netpbm_mono.pcx" 2>/dev/null
twin "$work/bw.ppm" > "$good/netpbm_mono.truecolor.pcx"
ppmtopcx "$work/two.ppm" > "$good/netpbm_mono_two_colours.pcx" 2>/dev/null
twin "$work/two.ppm" > "$good/netpbm_mono_two_colours.truecolor.pcx"

# ImageMagick writes 8-bit files for palette pictures and 1-bit ones for two-colour palette
# pictures read from a GIF (with a 256-colour palette appended all the same); it writes no
# 4-bit files. Its 1-bit files store 1 for black whatever the header palette says (here black,
# white), and only ImageMagick reads them back so; netpbm and Pillow read them as the header
# says, inverted. So imagemagick_mono.pcx has no twin but imagemagick_mono.ppm, the pixels as
# netpbm's pcxtoppm reads them.
$im "$work/many.ppm" -type Palette "$good/imagemagick_palette8.pcx"
$im "$work/many.ppm" -type TrueColor "$good/imagemagick_palette8.truecolor.pcx"
$im "$work/c16.ppm" -type Palette "$good/imagemagick_palette8_16_colours.pcx"
$im "$work/c16.ppm" -type TrueColor "$good/imagemagick_palette8_16_colours.truecolor.pcx"
$im "$work/bw.ppm" "$work/bw.gif"
$im "$work/bw.gif" "$good/imagemagick_mono.pcx"
pcxtoppm "$good/imagemagick_mono.pcx" > "$good/imagemagick_mono.ppm" 2>/dev/null

# Pillow rounds bytes per line up to even in every kind; its mode "1" files have a header
# palette of eight black and eight white entries, its mode "L" files a grey ramp at the end.
$py - "$work" "$good" <<'PY'
import sys
from PIL import Image
work, good = sys.argv[1], sys.argv[2]
many = Image.open(f"{work}/many.ppm")
indexed = many.convert("P", palette=Image.ADAPTIVE, colors=256)
indexed.save(f"{good}/pillow_palette8.pcx")
indexed.convert("RGB").save(f"{good}/pillow_palette8.truecolor.pcx")
grey = many.convert("L")
grey.save(f"{good}/pillow_grey8.pcx")
grey.convert("RGB").save(f"{good}/pillow_grey8.truecolor.pcx")
bw = Image.open(f"{work}/bw.ppm")
bw.convert("1", dither=Image.NONE).save(f"{good}/pillow_mono.pcx")
bw.save(f"{good}/pillow_mono.truecolor.pcx")
PY

# Every indexed file and its twin hold the same pixels as netpbm reads them back.
for f in "$good"/*.truecolor.pcx; do
  a=$(pcxtoppm "${f%.truecolor.pcx}.pcx" 2>/dev/null | md5sum)
  b=$(pcxtoppm "$f" 2>/dev/null | md5sum)
  [ "$a" = "$b" ] || echo "pcxtoppm reads $(basename "$f") and its indexed twin differently" >&2
done

# Kinds that are refused, and indexed files cut short.
ppmtopcx -packed "$work/c4.ppm" > "$bad/two_bit_packed.pcx" 2>/dev/null
ppmtopcx "$work/c4.ppm" > "$bad/two_planes_of_one_bit.pcx" 2>/dev/null
ppmtopcx "$work/c8.ppm" > "$bad/three_planes_of_one_bit.pcx" 2>/dev/null
$py - "$good" "$bad" <<'PY'
import sys
good, bad = sys.argv[1], sys.argv[2]
def read(name):
    return open(f"{good}/{name}", "rb").read()
def put(name, data):
    open(f"{bad}/{name}", "wb").write(data)
p8 = read("netpbm_palette8.pcx")
body, palette = p8[:-769], p8[-769:]
put("eight_bit_without_palette.pcx", body)
put("eight_bit_palette_cut.pcx", p8[:-100])
put("eight_bit_palette_mark_wrong.pcx", body + b"\x0b" + palette[1:])
put("eight_bit_truncated_body.pcx", body[: 128 + (len(body) - 128) // 2] + palette)
planar = read("netpbm_planar4.pcx")
put("planar4_truncated_body.pcx", planar[: 128 + (len(planar) - 128) // 2])
put("mono_missing_last_value.pcx", read("netpbm_mono.pcx")[:-1])
rgba = bytearray(read("netpbm_palette8.truecolor.pcx"))
rgba[65] = 4
put("four_planes_of_eight_bits.pcx", bytes(rgba))
PY
