#!/bin/sh
# Regenerates the PCX and IFF fixtures under tests/data/pcx and tests/data/iff with real
# writers (netpbm, ImageMagick, Pillow) and the expected pixels as netpbm decodes them.
# Needs netpbm, imagemagick and python3-pil; the tests themselves need none of them.
set -eu
tools=$(cd "$(dirname "$0")" && pwd)
data=$tools/../data
py=/usr/bin/python3
im=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$data/pcx/good" "$data/pcx/malformed" "$data/iff/good" "$data/iff/malformed"
pcx=$data/pcx
iff=$data/iff

$py "$tools/make_source_ppm.py" 173 101 1 "$work/s173.ppm"
$py "$tools/make_source_ppm.py" 168 100 3 "$work/s168.ppm"
$py "$tools/make_source_ppm.py" 64 40 4 "$work/s64.ppm"
$py "$tools/make_source_ppm.py" 160 100 2 "$work/s160.ppm"

# 24-bit PCX from three writers; bytes per line: netpbm and ImageMagick 173, Pillow 174.
ppmtopcx -24bit "$work/s173.ppm" > "$pcx/good/netpbm_173x101.pcx"
$im "$work/s173.ppm" -type TrueColor "$pcx/good/imagemagick_173x101.pcx"
$py -c "import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])" \
  "$work/s173.ppm" "$pcx/good/pillow_173x101.pcx"
ppmtopcx -24bit -xpos 5 -ypos 10 "$work/s64.ppm" > "$pcx/good/netpbm_64x40_at_5_10.pcx"
# One plane and a 256-colour palette at the end.
pnmquant 256 "$work/s64.ppm" 2>/dev/null | ppmtopcx -8bit > "$pcx/good/netpbm_64x40_palette8.pcx" 2>/dev/null
for f in netpbm_173x101 imagemagick_173x101 pillow_173x101 netpbm_64x40_at_5_10 netpbm_64x40_palette8; do
  pcxtoppm "$pcx/good/$f.pcx" > "$pcx/good/$f.ppm"
done
# The other indexed files, each with its 24-bit twin, come from tests/data/pcx/make-palette-fixtures.sh.

# Rejected or refused PCX files.
$py - "$pcx" <<'PY'
import sys
d = sys.argv[1]
good = open(d + "/good/netpbm_173x101.pcx", "rb").read()
def put(name, data):
    open(d + "/malformed/" + name, "wb").write(data)
put("bad_manufacturer.pcx", b"\x0b" + good[1:])
put("truncated_body.pcx", good[: len(good) // 2])
put("header_only.pcx", good[:128])
put("short_header.pcx", good[:60])
put("empty.pcx", b"")
put("missing_last_value.pcx", good[:-1])
PY

# 8-plane ILBM from netpbm, compressed and not; pnmquant leaves fewer than 256 colours, so the
# CMAP chunks are shorter than 768 bytes (odd sizes, with a pad byte).
pnmquant 256 "$work/s173.ppm" > "$work/q173.ppm" 2>/dev/null
pnmquant 256 "$work/s168.ppm" > "$work/q168.ppm" 2>/dev/null
pnmquant 256 "$work/s160.ppm" > "$work/q160.ppm" 2>/dev/null
ppmtoilbm -aga -fixplanes 8 "$work/q173.ppm" > "$iff/good/netpbm_ilbm_173x101_rle.iff" 2>/dev/null
ppmtoilbm -aga -fixplanes 8 -nocompress "$work/q173.ppm" > "$iff/good/netpbm_ilbm_173x101_raw.iff" 2>/dev/null
# 168 is a multiple of 8 but not of 16: each plane row carries a whole filler byte.
ppmtoilbm -aga -fixplanes 8 "$work/q168.ppm" > "$iff/good/netpbm_ilbm_168x100_rle.iff" 2>/dev/null
ppmtoilbm -aga -fixplanes 8 "$work/q160.ppm" > "$iff/good/netpbm_ilbm_160x100_rle.iff" 2>/dev/null
# Exactly 256 colours: a full 768-byte CMAP.
$py -c "
import sys
from PIL import Image
img = Image.new('RGB', (128, 64))
for i in range(256):
    for y in range(4):
        for x in range(8):
            img.putpixel((i % 16 * 8 + x, i // 16 * 4 + y), (i, 255 - i, i * 7 % 256))
img.save(sys.argv[1], format='PPM')" "$work/c256.ppm"
ppmtoilbm -aga -fixplanes 8 "$work/c256.ppm" > "$iff/good/netpbm_ilbm_128x64_256c_rle.iff" 2>/dev/null
for f in "$iff"/good/netpbm_*.iff; do ilbmtoppm "$f" > "${f%.iff}.ppm" 2>/dev/null; done

# Chunky "PBM " files from our own generator. netpbm reads even widths the same way; for the
# odd width it expects no filler byte, so the expected pixels are the generator's input.
$py "$tools/make_pbm.py" "$work/q173.ppm" "$iff/good/gen_pbm_173x101_rle.iff"
$py "$tools/make_pbm.py" --nocompress "$work/q173.ppm" "$iff/good/gen_pbm_173x101_raw.iff"
cp "$work/q173.ppm" "$iff/good/gen_pbm_173x101_rle.ppm"
cp "$work/q173.ppm" "$iff/good/gen_pbm_173x101_raw.ppm"
$py "$tools/make_pbm.py" "$work/q160.ppm" "$iff/good/gen_pbm_160x100_rle.iff"
ilbmtoppm "$iff/good/gen_pbm_160x100_rle.iff" > "$iff/good/gen_pbm_160x100_rle.ppm" 2>/dev/null

# Refused IFF files.
ppmtoilbm -24force "$work/s64.ppm" > "$iff/malformed/deep_24_planes.iff" 2>/dev/null
$py - "$iff" <<'PY'
import sys
d = sys.argv[1]
good = open(d + "/good/netpbm_ilbm_173x101_rle.iff", "rb").read()
def put(name, data):
    open(d + "/malformed/" + name, "wb").write(data)
put("no_body.iff", good.replace(b"BODY", b"BODx"))
put("truncated_body.iff", good[: len(good) - 1000])
put("empty.iff", b"")
put("form_header_only.iff", good[:12])
PY
