#!/bin/sh
# Regenerates the PNG fixtures under tests/data/png with real writers (ImageMagick 6
# /usr/bin/convert, Pillow 9.4 under /usr/bin/python3, netpbm pnmtopng) and, beside each good
# PNG, its 24-bit PCX twin: the picture as Pillow decodes it, pixels whose alpha is below 128
# made black and 16-bit samples cut to their high byte, written by netpbm's ppmtopcx -24bit.
# The tests themselves need none of these tools.
set -eu
tools=$(cd "$(dirname "$0")" && pwd)
data=$tools/../data/png
py=/usr/bin/python3
im=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$data/good" "$data/malformed"
good=$data/good
bad=$data/malformed

$py "$tools/make_source_ppm.py" 37 23 5 "$work/s37.ppm"
$py "$tools/make_source_ppm.py" 61 45 6 "$work/s61.ppm"
$py "$tools/make_source_ppm.py" 800 600 7 "$work/s800.ppm"
# Sources of other kinds, odd widths: grey ramps at 1, 2, 4 and 16 bits, an alpha mask
# with every step around 128, a picture of few colours.
$py "$tools/make_png_sources.py" "$work"

# Grey at 1, 2 and 4 bits: pnmtopng writes the depth the maxval needs.
pnmtopng "$work/grey1.pbm" > "$good/netpbm_grey1_45x21.png"
pnmtopng "$work/grey2.pgm" > "$good/netpbm_grey2_45x21.png"
pnmtopng "$work/grey4.pgm" > "$good/netpbm_grey4_45x21.png"
$im "$work/s37.ppm" -colorspace Gray -define png:color-type=0 -define png:bit-depth=8 \
  "$good/imagemagick_grey8_37x23.png"
# 16-bit grey with arbitrary low bytes (samples 0 to 65535).
$py -c "
import sys
from PIL import Image
Image.open(sys.argv[1]).save(sys.argv[2])" "$work/grey16.pgm" "$good/pillow_grey16_45x21.png"
$im "$work/s37.ppm" -colorspace Gray "$work/alpha37.pgm" -compose CopyOpacity -composite \
  -define png:color-type=4 -define png:bit-depth=8 "$good/imagemagick_grey_alpha8_37x23.png"
# Palettes: pnmtopng takes one for few colours (2 bits for four); Pillow writes a P picture
# with a tRNS of one alpha per entry.
pnmtopng "$work/few.ppm" > "$good/netpbm_palette2_45x21.png"
$py - "$work/few.ppm" "$good/pillow_palette8_trns_45x21.png" <<'PY'
import sys
from PIL import Image
img = Image.open(sys.argv[1]).convert("P", palette=Image.ADAPTIVE, colors=4)
alphas = [255, 0, 127, 128]
img.save(sys.argv[2], transparency=bytes(alphas), bits=8)
PY
$im "$work/s37.ppm" -define png:color-type=2 -define png:bit-depth=8 "$good/imagemagick_rgb8_37x23.png"
# A colour key: RGB with a tRNS naming one colour transparent.
pnmtopng -transparent=rgb:c0/c0/c0 "$work/s61.ppm" > "$good/netpbm_rgb8_key_61x45.png" 2>/dev/null
$im "$work/rgb16.ppm" -define png:bit-depth=16 "$good/imagemagick_rgb16_45x21.png"
$py - "$work/s61.ppm" "$work/alpha61.pgm" "$good/pillow_rgba8_61x45.png" <<'PY'
import sys
from PIL import Image
img = Image.open(sys.argv[1]).convert("RGBA")
img.putalpha(Image.open(sys.argv[2]))
img.save(sys.argv[3])
PY
pnmtopng -alpha="$work/alpha16.pgm" "$work/rgb16.ppm" > "$good/netpbm_rgba16_45x21.png"
$im "$work/s61.ppm" -interlace PNG -define png:color-type=2 "$good/imagemagick_rgb8_interlaced_61x45.png"
# The whole picture, interlaced 16-bit RGBA: the largest image data stb inflates.
$im "$work/s800_16.ppm" "$work/alpha800.pgm" -compose CopyOpacity -composite -interlace PNG \
  -define png:color-type=6 -define png:bit-depth=16 "$good/imagemagick_rgba16_interlaced_800x600.png"

for f in "$good"/*.png; do
  $py "$tools/make_png_sources.py" --twin "$f" "$work/twin.ppm"
  ppmtopcx -24bit "$work/twin.ppm" > "${f%.png}.pcx" 2>/dev/null
done

# Refused files, each named for its defect.
$im -size 801x10 xc:'#c04020' -define png:color-type=2 "$bad/too-wide-801.png"
$im -size 10x601 xc:'#c04020' -define png:color-type=2 "$bad/too-tall-601.png"
$py "$tools/make_png_sources.py" --malformed "$good/imagemagick_rgb8_37x23.png" \
  "$good/netpbm_grey1_45x21.png" "$good/netpbm_palette2_45x21.png" "$bad"
