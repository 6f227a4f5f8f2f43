#!/usr/bin/env bash
# The PNG files zgl writes, read by an independent decoder (Pillow) and held against the PCX
# files of the same library (Pillow reads 24-bit PCX too): `show --format png` has the pixels
# of the PCX export, with --alpha see-through exactly where a masked icon is black; `save`
# writes PNG for names ending in .png in any case; the report's pictures are the crop boxes
# of the same pictures. Also the usage errors and the refusals of existing files.
# Status 77 (skipped) where Pillow is missing.
#   zgl_png_test.sh ZGL DEMO_FOLDER
set -u
python=/usr/bin/python3
if ! "$python" -c 'import PIL' 2>/dev/null; then
  echo "SKIP: Pillow is not installed for $python (tools/install-deps installs python3-pil)"
  exit 77
fi
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"
# Pillow's verdict on files: the program on stdin, the arguments after it.
compare() { "$python" - "$@" || fail "pixels: see above"; }

mkdir "$work/lib"
cp -R "$demo/." "$work/lib/"
"$zgl" create "$work/lib/demo.zgl" >/dev/null 2>&1
[ -s "$work/lib/demo.ofs" ] || { echo "FAIL: the demo library was not built" >&2; exit 1; }

# Usage: --alpha only with PNG; no other format.
expect_status 2 "--alpha without --format" "$zgl" show "$work/lib/demo.zgl" --into "$work/x" --alpha
grep -q -- '--alpha' "$work/err" || fail "--alpha without png: the option is not named"
expect_status 2 "--alpha with --format pcx" "$zgl" show "$work/lib/demo.zgl" --into "$work/x" --format pcx --alpha
expect_status 2 "--format bmp" "$zgl" show "$work/lib/demo.zgl" --into "$work/x" --format bmp
[ ! -e "$work/x" ] || fail "a usage error made the export folder"
expect_status 0 "show --help" "$zgl" show --help
grep -q -- '--format' "$work/out" && grep -q -- '--alpha' "$work/out" || fail "show --help names --format and --alpha"

# The same library three ways; the titles tell each icon's mask kind.
expect_status 0 "show as PCX" "$zgl" show "$work/lib/demo.zgl" --into "$work/pcx"
expect_status 0 "show as PNG" "$zgl" show "$work/lib/demo.zgl" --into "$work/png" --format png
grep -q '; 41 PNG files written$' "$work/err" || fail "show as PNG: $(tail -n 1 "$work/err")"
grep -q "as PNG files $work/png/pcx/p3_0_0_0.png to $work/png/pcx/p4_9_9_9.png (FPCX pcx\\\\p0_0_0_0.pcx)" \
  "$work/err" || fail "show as PNG does not say where: $(head -n 1 "$work/err")"
cp "$work/out" "$work/titles"
expect_status 0 "show as PNG, see-through" "$zgl" show "$work/lib/demo.zgl" --into "$work/alpha" --format PNG --alpha -j 3
compare "$work/pcx/pcx" "$work/png/pcx" "$work/alpha/pcx" "$work/titles" <<'EOF'
import os, re, sys
from PIL import Image
pcx, png, alpha, titles = sys.argv[1:]
kinds = {}
for line in open(titles):
    m = re.search(r"\((Unmasked|0-masked|X-masked)\) - (\d+)$", line.rstrip("\n"))
    if m: kinds[int(m.group(2))] = m.group(1)
names = sorted(os.listdir(pcx))
problems = []
if sorted(n[:-4] + ".png" for n in names) != sorted(os.listdir(png)):
    problems.append("the PNG export names other files than the PCX export")
if sorted(os.listdir(png)) != sorted(os.listdir(alpha)):
    problems.append("--alpha names other files")
masked_seen = unmasked_seen = 0
for name in names:
    icon = int(re.sub(r"\D", "", name))
    rgb = Image.open(os.path.join(pcx, name)).convert("RGB")
    plain = Image.open(os.path.join(png, name[:-4] + ".png"))
    see = Image.open(os.path.join(alpha, name[:-4] + ".png"))
    if plain.size != (800, 600) or plain.mode != "RGB":
        problems.append(f"{name}: PNG is {plain.mode} {plain.size}")
    for label, image in (("png", plain), ("alpha", see)):
        if image.convert("RGB").tobytes() != rgb.tobytes():
            problems.append(f"{name}: {label} pixels differ from the PCX")
    masked = kinds.get(icon) in ("0-masked", "X-masked")
    if icon not in kinds:
        problems.append(f"{name}: no title tells its kind")
    a = see.convert("RGBA").getchannel("A").tobytes()
    black = bytes(0 if p == (0, 0, 0) else 255 for p in rgb.getdata())
    if masked:
        masked_seen += 1
        if a != black:
            problems.append(f"{name} ({kinds[icon]}): see-through pixels are not exactly the black ones")
    else:
        unmasked_seen += 1
        if a != bytes([255]) * len(a):
            problems.append(f"{name} ({kinds.get(icon)}): see-through pixels in an unmasked icon")
if masked_seen == 0 or unmasked_seen == 0:
    problems.append(f"{masked_seen} masked and {unmasked_seen} unmasked icons: both kinds needed")
print("\n".join(problems) or f"{len(names)} PNG files match the PCX export ({masked_seen} masked)")
sys.exit(1 if problems else 0)
EOF

# Existing files: refused without --force (named, nothing written), replaced with it.
before=$(md5sum "$work/png/pcx/"* | md5sum)
expect_status 1 "show as PNG over an export" "$zgl" show "$work/lib/demo.zgl" --into "$work/png" --format png --alpha
grep -qx "zgl: $work/png/pcx/p3_0_0_0.png exists; --force overwrites it; nothing written" "$work/err" \
  || fail "existing PNG not named: $(head -c 300 "$work/err")"
[ "$(md5sum "$work/png/pcx/"* | md5sum)" = "$before" ] || fail "refused show changed files"
expect_status 0 "show as PNG --force" "$zgl" show "$work/lib/demo.zgl" --into "$work/png" --format png --alpha --force
cmp -s "$work/png/pcx/p3_0_0_1.png" "$work/alpha/pcx/p3_0_0_1.png" || fail "--force did not replace the PNG"
# A PNG never goes through a link.
printf "the user's file" >"$work/victim"
mkdir -p "$work/linked/pcx"
ln -s "$work/victim" "$work/linked/pcx/p3_0_0_2.png"
expect_status 1 "show as PNG through a link" "$zgl" show "$work/lib/demo.zgl" --into "$work/linked" --format png --force
grep -q "Could not save PNG files through $work/linked/pcx/p3_0_0_2.png: it is a link" "$work/err" \
  || fail "link not named: $(head -c 300 "$work/err")"
[ "$(cat "$work/victim")" = "the user's file" ] || fail "a PNG was written through a link"

# A pattern without ".pcx" gets ".png" added: FPCX IFF\0\0\0\0 writes IFF/3/0/0/1.png.
cp "$work/lib/demo.zgl" "$work/lib/tree.zgl"
printf '\nFPCX IFF\\0\\0\\0\\0 \n' >>"$work/lib/tree.zgl"
expect_status 0 "show as PNG, pattern without extension" "$zgl" show "$work/lib/tree.zgl" --into "$work/tree" --format png
[ -s "$work/tree/IFF/3/0/0/1.png" ] && [ "$(find "$work/tree" -type f | wc -l)" -eq 41 ] \
  || fail "pattern without extension: $(find "$work/tree" -type f | head -n 3)"

# save: PNG for .png and .PNG, PCX for anything else; an existing file only with --force.
expect_status 0 "save as .png" bash -c "cd '$work' && '$zgl' save lib/demo.zgl 3001 one.png"
expect_status 0 "save as .PNG" "$zgl" save "$work/lib/demo.zgl" 3002 "$work/two.PNG"
grep -qx 'ZCreate: PNG two.PNG extracted.' "$work/err" || fail "save .PNG message: $(cat "$work/err")"
expect_status 0 "save as .pcx" "$zgl" save "$work/lib/demo.zgl" 3001 "$work/one.pcx"
cmp -s "$work/one.pcx" "$work/pcx/pcx/p3_0_0_1.pcx" || fail "save as PCX changed"
expect_status 1 "save over a PNG" "$zgl" save "$work/lib/demo.zgl" 3003 "$work/one.png"
grep -q 'one.png exists; --force overwrites it; nothing saved' "$work/err" || fail "save over a PNG: $(cat "$work/err")"
expect_status 0 "save over a PNG --force" "$zgl" save "$work/lib/demo.zgl" 3001 "$work/two.PNG" --force
compare "$work/one.png" "$work/two.PNG" "$work/pcx/pcx/p3_0_0_1.pcx" <<'EOF'
import sys
from PIL import Image
one, two, pcx = (Image.open(name) for name in sys.argv[1:])
expected = pcx.convert("RGB").tobytes()
problems = [f"{image.filename}: {image.format} {image.mode}, pixels differ"
            for image in (one, two)
            if image.format != "PNG" or image.mode != "RGB" or image.tobytes() != expected]
print("\n".join(problems) or "saved PNG files match the PCX export")
sys.exit(1 if problems else 0)
EOF

# The report's pictures are the crop boxes (demo.coo) of the same pictures, see-through
# where a masked icon is black.
expect_status 0 "report" "$zgl" report "$work/lib/demo.zgl" "$work/report"
compare "$work/report" "$work/pcx/pcx" "$work/lib/demo.coo" "$work/titles" <<'EOF'
import os, re, struct, sys
from PIL import Image
report, pcx, coo, titles = sys.argv[1:]
kinds = {}
for line in open(titles):
    m = re.search(r"\((Unmasked|0-masked|X-masked)\) - (\d+)$", line.rstrip("\n"))
    if m: kinds[int(m.group(2))] = m.group(1)
table = open(coo, "rb").read()
pictures = sorted(f for f in os.listdir(report) if f.endswith(".png"))
problems = [] if len(pictures) > 20 else [f"only {len(pictures)} pictures"]
for name in pictures:
    icon = int(name[:-4])
    width, height, left, top = struct.unpack_from("<4H", table, icon * 8)
    d = str(icon)
    whole = Image.open(os.path.join(pcx, f"p{d[0]}_{d[1]}_{d[2]}_{d[3]}.pcx")).convert("RGB")
    box = whole.crop((left, top, left + width, top + height))
    tile = Image.open(os.path.join(report, name)).convert("RGBA")
    if tile.size != (width, height) or tile.convert("RGB").tobytes() != box.tobytes():
        problems.append(f"{name}: not the crop box {width}x{height} at ({left}, {top})")
        continue
    masked = kinds.get(icon) in ("0-masked", "X-masked")
    expected = bytes(0 if masked and p == (0, 0, 0) else 255 for p in box.getdata())
    if tile.getchannel("A").tobytes() != expected:
        problems.append(f"{name} ({kinds.get(icon)}): see-through pixels wrong")
print("\n".join(problems) or f"{len(pictures)} report pictures match the PCX export")
sys.exit(1 if problems else 0)
EOF

finish "PNG"
