#!/usr/bin/env bash
# zgl verify and zgl report from the outside, over the demo library: the clean library
# verifies with status 0; each kind of damage that the integrity check passes by is named by
# verify, icon by icon, with status 1.
#   zgl_verify_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"
# Every icon given is named on a finding line of the last verify.
expect_named() {
  local what=$1
  shift
  for icon in "$@"; do
    grep -q "^icon $icon: " "$work/out" || fail "$what: icon $icon not named"
  done
}

# Library surgery: the demo's offsets file says where each entry of its block files lies.
python_edit() { python3 - "$work/lib" "$@"; }

mkdir "$work/clean"
cp -R "$demo/." "$work/clean/"
"$zgl" create "$work/clean/demo.zgl" >/dev/null 2>&1
[ -s "$work/clean/demo.ofs" ] || { echo "FAIL: the demo library was not built" >&2; exit 1; }
fresh() { rm -rf "$work/lib"; cp -R "$work/clean" "$work/lib"; }

# Usage.
expect_status 2 "verify without project" "$zgl" verify
expect_status 2 "verify with two projects" "$zgl" verify a.zgl b.zgl
expect_status 2 "report without folder" "$zgl" report a.zgl
"$zgl" verify --help >"$work/out" 2>&1
grep -q 'PROJECT' "$work/out" || fail "verify --help does not name its PROJECT"
expect_status 1 "verify of a missing info file" "$zgl" verify "$work/nothing.zgl"
grep -qx 'ZCreate: Could not read file nothing.zgl!' "$work/err" || fail "missing info file message"

# Clean: status 0, the summary alone on stdout, on stderr at most the note that there is no
# checksum file; the check as before.
no_sums='zgl: no checksum file: the checks below cannot see pixel changes'
fresh
expect_status 0 "verify of the clean demo" "$zgl" verify "$work/lib/demo.zgl"
grep -qxE '[0-9]+ icons verified, 0 findings' "$work/out" || fail "clean summary: $(cat "$work/out")"
[ "$(wc -l <"$work/out")" -eq 1 ] || fail "clean verify printed more than its summary"
grep -qvxF "$no_sums" "$work/err" && fail "clean verify wrote to stderr: $(head -n 3 "$work/err")"
# Without a checksum file: still clean, and the note says what the walk cannot see.
rm -f "$work/lib/demo.ofs.sum"
expect_status 0 "verify without a checksum file" "$zgl" verify "$work/lib/demo.zgl"
[ "$(cat "$work/err")" = "$no_sums" ] || fail "no checksum file: $(head -n 3 "$work/err")"
grep -qxE '[0-9]+ icons verified, 0 findings' "$work/out" || fail "no checksum file: $(cat "$work/out")"
expect_status 0 "check of the clean demo" "$zgl" check "$work/lib/demo.zgl"
[ "$(head -n 1 "$work/out")" = "ZCreate - Integrity check started (all ZGLs) - 20000" ] \
  || fail "check's first title"

# 1. Two hundred bit flips in a block file: every icon that a flip hit is named.
fresh
hit=$(python_edit <<'EOF'
import random, struct, sys
lib = sys.argv[1]
offsets = open(f"{lib}/demo.ofs", "rb").read()
block = bytearray(open(f"{lib}/demo30.blk", "rb").read())
rng = random.Random(16)
flipped = set()
for _ in range(200):
    at = rng.randrange(len(block))
    block[at] ^= 1 << rng.randrange(8)
    flipped.add(at)
open(f"{lib}/demo30.blk", "wb").write(block)
hit = set()
for icon in range(3000, 3100):
    offset, length = struct.unpack_from("<ii", offsets, icon * 8)
    if length > 0 and any(offset <= at < offset + length for at in flipped):
        hit.add(icon)
print(" ".join(map(str, sorted(hit))))
EOF
)
[ -n "$hit" ] || fail "no entry was hit by the flips"
expect_status 1 "verify after 200 bit flips" "$zgl" verify "$work/lib/demo.zgl"
expect_named "bit flips" $hit

# 2. One copy of a DBLK 3 pair changed where both copies still decode and no checksum file
#    tells which copy was damaged, so both are named (zgl_reasons_test.sh has the cases that
#    can tell).
fresh
rm -f "$work/lib/demo.ofs.sum"
python_edit <<'EOF'
import sys
name = f"{sys.argv[1]}/s3_0_0_1.zgi"
entry = bytearray(open(name, "rb").read())
entry[len(entry) // 2] ^= 0x20
open(name, "wb").write(entry)
EOF
expect_status 0 "check after changing a single entry file" "$zgl" check "$work/lib/demo.zgl"
expect_status 1 "verify after changing a single entry file" "$zgl" verify "$work/lib/demo.zgl"
expect_named "changed copy" 3001
grep -q '^icon 3001: demo30.blk and s3_0_0_1.zgi: the two copies differ (.*without a checksum' "$work/out" \
  || fail "changed copy: $(head -n 3 "$work/out")"
[ "$(grep -c '^icon ' "$work/out")" -eq 1 ] || fail "changed copy: other findings"

# 3. A packed stream with a wrong tag, in both copies so that they still agree.
fresh
python_edit <<'EOF'
import struct, sys
lib = sys.argv[1]
offset, length = struct.unpack_from("<ii", open(f"{lib}/demo.ofs", "rb").read(), 3002 * 8)
block = bytearray(open(f"{lib}/demo30.blk", "rb").read())
assert block[offset:offset + 3] == b"KZP"
block[offset + 4] |= 0x80  # the first tag, a write tag, becomes a replicate tag
open(f"{lib}/demo30.blk", "wb").write(block)
open(f"{lib}/s3_0_0_2.zgi", "wb").write(block[offset:offset + length])
EOF
expect_status 0 "check after a wrong tag" "$zgl" check "$work/lib/demo.zgl"
expect_status 1 "verify after a wrong tag" "$zgl" verify "$work/lib/demo.zgl"
grep -q '^icon 3002: demo30.blk: packed stream: replicate tag at byte 4' "$work/out" \
  || fail "wrong tag: $(head -n 3 "$work/out")"

# 3b. Packed streams that still unpack but are not what the packer writes, in a library of
#     block files alone (DBLK 2): a distance beyond the packer's window of 32, and a distance
#     made 1 that copies other bytes. Byte 12533 of demo30.blk is the distance byte (24) of a
#     replicate tag of icon 3002, 52 bytes into its entry.
mkdir "$work/blocks"
cp -R "$demo/." "$work/blocks/"
sed -i 's/^DBLK .*/DBLK 2/' "$work/blocks/demo.zgl"
"$zgl" create "$work/blocks/demo.zgl" >/dev/null 2>&1
expect_status 0 "verify of the clean DBLK 2 demo" "$zgl" verify "$work/blocks/demo.zgl"
# The packer's own rules, as a library without a checksum file shows them (with one, its
# checksum names the entry as well).
rm "$work/blocks/demo.ofs.sum"
damage_distance() {  # the new distance byte, as printf writes it
  rm -rf "$work/lib"
  cp -R "$work/blocks" "$work/lib"
  [ "$(od -An -tu1 -j12533 -N1 "$work/lib/demo30.blk" | tr -d ' ')" = 24 ] \
    || fail "byte 12533 of demo30.blk is no longer the distance 24"
  printf "$1" | dd of="$work/lib/demo30.blk" bs=1 seek=12533 conv=notrunc 2>/dev/null
  expect_status 0 "check after distance $1" "$zgl" check "$work/lib/demo.zgl"
  expect_status 1 "verify after distance $1" "$zgl" verify "$work/lib/demo.zgl"
}
damage_distance '\x38'
grep -qx 'icon 3002: demo30.blk: packed stream: replicate tag at byte 52 copies from 56 bytes back; the packer looks back at most 32' \
  "$work/out" || fail "distance 56: $(head -n 3 "$work/out")"
[ "$(grep -c '^icon ' "$work/out")" -eq 1 ] || fail "distance 56: other findings"
damage_distance '\x01'
grep -qx 'icon 3002: demo30.blk: packed stream is not what the packer writes for its bytes (first difference at byte 113)' \
  "$work/out" || fail "distance made 1: $(head -n 3 "$work/out")"

# 4. Coordinates that contradict the entries: one box a pixel wider, one reaching outside.
fresh
python_edit <<'EOF'
import struct, sys
name = f"{sys.argv[1]}/demo.coo"
table = bytearray(open(name, "rb").read())
width, height, left, top = struct.unpack_from("<4H", table, 3000 * 8)
struct.pack_into("<4H", table, 3000 * 8, width + 1, height, left, top)
width, height, left, top = struct.unpack_from("<4H", table, 4000 * 8)
struct.pack_into("<4H", table, 4000 * 8, width, height, 800 - width // 2, top)
open(name, "wb").write(table)
EOF
expect_status 0 "check after changing coordinates" "$zgl" check "$work/lib/demo.zgl"
expect_status 1 "verify after changing coordinates" "$zgl" verify "$work/lib/demo.zgl"
expect_named "coordinates" 3000 4000
grep -q '^icon 4000: demo.coo: crop box .* reaches outside' "$work/out" || fail "box outside"

# The report of a damaged library: written, status 1, the finding on the page.
expect_status 1 "report of a damaged library" "$zgl" report "$work/lib/demo.zgl" "$work/report"
[ -s "$work/report/index.html" ] || fail "report not written"
grep -q 'class="tile marked" id="icon-4000"' "$work/report/index.html" || fail "damaged tile not marked"
# The report of the clean library replaces it only with --force.
expect_status 1 "report over an existing one" "$zgl" report "$work/clean/demo.zgl" "$work/report"
grep -q -- '--force' "$work/err" || fail "refusal does not name --force"
expect_status 0 "report --force" "$zgl" report --force "$work/clean/demo.zgl" "$work/report"
! grep -q 'class="tile marked"' "$work/report/index.html" || fail "clean report has marked tiles"
# Each picture's PNG is shown three times (in its tile, on its frame, in its view).
images=$(grep -o '<img src="[0-9]*\.png"' "$work/report/index.html" | sort -u | wc -l)
pngs=$(find "$work/report" -name '*.png' | wc -l)
[ "$images" -gt 20 ] && [ "$images" -eq "$pngs" ] || fail "report: $images images, $pngs PNG files"
# The report's path names folders of the file system: shown escaped, so that an odd folder
# name neither adds a line nor steers the terminal.
odd=$'odd\e[8m\nname'
expect_status 0 "report into an odd folder" "$zgl" report "$work/clean/demo.zgl" "$work/$odd"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "report into an odd folder: $(wc -l <"$work/out") lines"
grep -qF 'odd\x1b[8m\nname/index.html' "$work/out" || fail "odd folder name not shown escaped"
! grep -q $'\e' "$work/out" || fail "an escape reached stdout"

# The report writes only new files: an existing picture is refused without --force (named,
# nothing written) and replaced with it; a link where the page or a picture goes is refused
# even with --force, and what it points to stays as it was.
mkdir "$work/old"
printf 'old picture' >"$work/old/3000.png"
expect_status 1 "report over an existing picture" "$zgl" report "$work/clean/demo.zgl" "$work/old"
grep -qx "zgl: $work/old/3000.png exists; --force replaces it; nothing written" "$work/err" \
  || fail "existing picture not named: $(head -c 300 "$work/err")"
[ "$(cat "$work/old/3000.png")" = "old picture" ] || fail "existing picture overwritten"
[ ! -e "$work/old/index.html" ] && [ ! -e "$work/old/3001.png" ] || fail "refused report wrote files"
expect_status 0 "report --force over an existing picture" "$zgl" report -f "$work/clean/demo.zgl" "$work/old"
[ "$(head -c 4 "$work/old/3000.png" | od -An -c | tr -d ' ')" = '211PNG' ] \
  || fail "--force did not replace the picture"
rm "$work/old/3001.png" && mkdir "$work/old/3001.png"
expect_status 1 "report --force over a folder" "$zgl" report -f "$work/clean/demo.zgl" "$work/old"
grep -qx "zgl: $work/old/3001.png is no file and is never replaced; nothing written" "$work/err" \
  || fail "folder in the way not named: $(head -c 300 "$work/err")"
printf "the user's file" >"$work/victim"
for force in "" --force; do
  rm -rf "$work/linked" "$work/elsewhere"
  mkdir "$work/linked" "$work/elsewhere"
  ln -s "$work/victim" "$work/linked/3000.png"
  expect_status 1 "report through a picture link $force" "$zgl" report $force "$work/clean/demo.zgl" "$work/linked"
  grep -qx "zgl: $work/linked/3000.png is a link, and nothing is written through links; nothing written" \
    "$work/err" || fail "picture link $force not named: $(head -c 300 "$work/err")"
  [ "$(cat "$work/victim")" = "the user's file" ] || fail "report $force wrote through a link"
  rm "$work/linked/3000.png"
  ln -s "$work/elsewhere/page.html" "$work/linked/index.html"
  expect_status 1 "report through a dangling page link $force" "$zgl" report $force "$work/clean/demo.zgl" "$work/linked"
  grep -qx "zgl: $work/linked/index.html is a link, and nothing is written through links; nothing written" \
    "$work/err" || fail "page link $force not named: $(head -c 300 "$work/err")"
  [ -z "$(ls -A "$work/elsewhere")" ] || fail "report $force put its page outside OUTDIR"
  [ "$(ls -A "$work/linked")" = "index.html" ] || fail "refused report $force wrote files"
done

# Repair. Bytes written over the middle of an entry with dd: block 30's copy of 3005 and the
# single entry file of 3010 (DBLK 3), put right from the other copy; then blocks only, where
# the entry is converted again; then without its source, where it stays as it is.
entry_at() {  # icon: the offset and length of its entry in the demo's offsets file
  od -An -t d4 -j $(($1 * 8)) -N 8 "$work/lib/demo.ofs"
}
scribble() {  # file, offset: four bytes at the offset no entry of the demo holds there
  printf '\245\132\245\132' | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
fresh
read -r at length < <(entry_at 3005)
scribble "$work/lib/demo30.blk" $((at + length / 2))
scribble "$work/lib/s3_0_1_0.zgi" $(($(wc -c <"$work/lib/s3_0_1_0.zgi") / 2))
expect_status 1 "verify before the repair" "$zgl" verify "$work/lib/demo.zgl"
expect_named "dd damage" 3005 3010
expect_status 0 "repair of both copies" "$zgl" repair "$work/lib/demo.zgl"
grep -qx 'icon 3005: demo30.blk: restored from s3_0_0_5.zgi' "$work/out" || fail "repair: $(cat "$work/out")"
grep -qx 'icon 3010: s3_0_1_0.zgi: restored from demo30.blk' "$work/out" || fail "repair: $(cat "$work/out")"
grep -qx '2 icons repaired, 0 left as they are, 0 findings remaining' "$work/out" \
  || fail "repair summary: $(tail -n 1 "$work/out")"
expect_status 0 "verify after the repair" "$zgl" verify "$work/lib/demo.zgl"
for file in "$work/clean"/*.blk "$work/clean"/*.zgi "$work/clean"/demo.ofs "$work/clean"/demo.coo; do
  cmp -s "$file" "$work/lib/$(basename "$file")" || fail "repair: $(basename "$file") differs from the clean build"
done
expect_status 0 "repair of a clean library" "$zgl" verify --repair "$work/lib/demo.zgl"
[ "$(cat "$work/out")" = '0 icons repaired, 0 left as they are, 0 findings remaining' ] \
  || fail "repair of a clean library: $(cat "$work/out")"

rm -rf "$work/lib"
cp -R "$demo/." "$work/lib/"
sed -i 's/DBLK 3/DBLK 2/' "$work/lib/demo.zgl"
"$zgl" create "$work/lib/demo.zgl" >/dev/null 2>&1
cp "$work/lib/demo30.blk" "$work/blocks-only.blk"
read -r at length < <(entry_at 3005)
scribble "$work/lib/demo30.blk" $((at + length / 2))
expect_status 0 "verify --repair, blocks only" "$zgl" verify --repair "$work/lib/demo.zgl"
grep -qxF 'icon 3005: demo30.blk: converted again from pcx\p3_0_0_5.pcx' "$work/out" \
  || fail "verify --repair: $(cat "$work/out")"
cmp -s "$work/blocks-only.blk" "$work/lib/demo30.blk" || fail "converted again: the block differs"
scribble "$work/lib/demo30.blk" $((at + length / 2))
rm "$work/lib/pcx/p3_0_0_5.pcx"
cp "$work/lib/demo30.blk" "$work/damaged.blk"
expect_status 1 "repair without the source" "$zgl" repair "$work/lib/demo.zgl"
grep -qx 'icon 3005: no good copy and no source: left as it is' "$work/out" \
  || fail "repair without the source: $(cat "$work/out")"
cmp -s "$work/damaged.blk" "$work/lib/demo30.blk" || fail "repair without the source changed the block"

finish "zgl verify and report"
