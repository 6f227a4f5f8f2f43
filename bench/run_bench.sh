#!/usr/bin/env bash
# Speed of the zgl program over a full range: 2000 full-size (800 x 600) sprite-like PCX
# sources for icons 3000 to 4999, made in a temporary folder. Times "zgl create" with DPAK 0
# and DPAK 2 and "zgl show" over the result, against the I/O floor: reading every source
# and writing every output once with cat.
#   bench/run_bench.sh [path/to/zgl]    (default: build/native/src/app/console/zgl)
set -eu
root="$(cd "$(dirname "$0")/.." && pwd)"
zgl="${1:-$root/build/native/src/app/console/zgl}"
[ -x "$zgl" ] || { echo "no zgl at $zgl (build it first)" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir pcx

# Fifty distinct sprites (nested blocks and ellipses, some cut by black stripes, with
# scattered texture so the packer has real work) at varying places; each icon is a copy of
# one of them.
/usr/bin/python3 - <<'PY'
import random
from PIL import Image, ImageDraw
random.seed(7)
for k in range(50):
    img = Image.new("RGB", (800, 600))
    d = ImageDraw.Draw(img)
    x, y = random.randrange(0, 500), random.randrange(0, 350)
    w, h = random.randrange(60, 300), random.randrange(60, 250)
    for i in range(6):
        c = tuple(random.randrange(30, 256) for _ in range(3))
        box = (x + i * w // 12, y + i * h // 12, x + w - i * w // 14, y + h - i * h // 14)
        (d.rectangle if i % 2 == 0 else d.ellipse)(box, fill=c)
    if k % 3 == 0:
        for s in range(0, w, 9):
            d.line((x + s, y, x + s, y + h), fill=(0, 0, 0), width=3)
    px = img.load()
    for _ in range(3000):
        px[random.randrange(x, x + w), random.randrange(y, y + h)] = (
            random.randrange(1, 256), random.randrange(256), random.randrange(256))
    img.save("pcx/sprite%02d.pcx" % k)
PY
for i in $(seq 3000 4999); do
  cp "pcx/sprite$(printf %02d $((i % 50))).pcx" "pcx/p${i:0:1}_${i:1:1}_${i:2:1}_${i:3:1}.pcx"
done
rm pcx/sprite*.pcx
source_bytes=$(cat pcx/* | wc -c)

write_project() {  # DPAK value
  {
    echo " bench project"
    echo 'FSEP out\s0_0_0_0.zgi '
    echo 'FCOO bench.coo '
    echo 'FOFS bench.ofs '
    echo 'FBLK out\b00.blk '
    echo 'FPCX pcx\p0_0_0_0.pcx '
    echo 'FLBM lbm\i0_0_0_0.lbm '
    echo 'FWAV wav\w0_0_0_0.wav '
    echo "NSIZ 5000"
    echo "BLKB 100"
    echo "DVIE 0"
    echo "DBLK 3"
    echo "DARC 0"
    echo "DPAK $1"
  } >bench.zgl
  { cat bench.zgl; echo 'FPCX IFF\0\0\0\0.pcx '; } >show.zgl
}

seconds() {  # wall-clock seconds of a command, its output dropped
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
rate() { awk -v s="$1" 'BEGIN { if (s > 0) printf "%.0f", 2000 / s; else print "inf" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }'; }

echo "2000 sources, $((source_bytes / 1024)) KiB of PCX"
for dpak in 0 2; do
  rm -rf out bench.coo bench.ofs IFF floor && mkdir out floor
  write_project "$dpak"
  sync
  create=$(seconds "$zgl" create bench.zgl)
  output_bytes=$(cat out/* bench.ofs bench.coo | wc -c)
  # The I/O floor: every source read once, every output written once, with cat.
  floor=$(seconds bash -c 'cat pcx/* >/dev/null
    for f in out/* bench.ofs bench.coo; do cat "$f" >"floor/${f##*/}"; done')
  echo "zgl create DPAK $dpak: ${create} s = $(rate "$create") icons/s;" \
       "outputs $((output_bytes / 1024)) KiB; cat floor ${floor} s; ratio $(ratio "$create" "$floor")"
done
rm -rf floor && mkdir floor
show=$(seconds "$zgl" show show.zgl)
export_bytes=$(find IFF -type f -exec cat {} + | wc -c)
floor=$(seconds bash -c 'cat out/*.blk bench.ofs bench.coo >/dev/null
  find IFF -type f | while read -r f; do cat "$f" >"floor/${f//\//_}"; done')
echo "zgl show (DPAK 2 library): ${show} s = $(rate "$show") icons/s;" \
     "exports $((export_bytes / 1024)) KiB; cat floor ${floor} s; ratio $(ratio "$show" "$floor")"
