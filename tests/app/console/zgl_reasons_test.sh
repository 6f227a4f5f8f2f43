#!/usr/bin/env bash
# zgl says why things fail, over a copy of the demo project: each message keeps its text and
# is followed on stderr by one "zgl: NAME: reason" line; save writes to standard output with
# "-" (never to a terminal); a failed write to standard output is reported with status 1; and
# verify blames the copy of a DBLK 3 pair that is damaged only when it can tell.
#   zgl_reasons_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"
data="$(cd "$(dirname "$0")/../../data" && pwd)"

# The line right after the message `message` on the last command's stderr is `reason`.
expect_reason() {  # what, message, reason
  local after
  after=$(grep -x -A1 -F -- "$2" "$work/err" | sed -n 2p)
  [ "$after" = "$3" ] || fail "$1: after \"$2\" came \"$after\", expected \"$3\" ($(head -c 300 "$work/err"))"
}

mkdir "$work/clean"
cp -R "$demo/." "$work/clean/"
"$zgl" create "$work/clean/demo.zgl" >/dev/null 2>&1
[ -s "$work/clean/demo.ofs" ] || { echo "FAIL: the demo library was not built" >&2; exit 1; }
fresh() { rm -rf "$work/lib"; cp -R "$work/clean" "$work/lib"; }
fresh

# 1. The project file is missing.
expect_status 1 "create of a missing project" "$zgl" create "$work/nothing.zgl"
expect_reason "missing project" 'ZCreate: Could not read file nothing.zgl!' 'zgl: nothing.zgl: no such file'
expect_status 1 "verify of a missing project" "$zgl" verify "$work/nothing.zgl"
expect_reason "missing project (verify)" 'ZCreate: Could not read file nothing.zgl!' \
  'zgl: nothing.zgl: no such file'
# A folder where the project file should be is no file.
mkdir "$work/folder.zgl"
expect_status 1 "create of a folder" "$zgl" create "$work/folder.zgl"
expect_reason "folder as project" 'ZCreate: Could not read file folder.zgl!' 'zgl: folder.zgl: is a folder'

# 2. Saving into a folder that does not exist; nothing is made on the way.
expect_status 1 "save into a missing folder" "$zgl" save "$work/lib/demo.zgl" 3000 "$work/nofolder/x.pcx"
expect_reason "save into a missing folder" 'ZCreate: Could not save PCX x.pcx' 'zgl: x.pcx: no such folder'
[ ! -e "$work/nofolder" ] || fail "save made the missing folder"
expect_status 1 "save as PNG into a missing folder" "$zgl" save "$work/lib/demo.zgl" 3000 "$work/nofolder/x.png"
expect_reason "PNG into a missing folder" 'ZCreate: Could not save PNG x.png' 'zgl: x.png: no such folder'

# 3. IFF sources the reader refuses: the message as before, then the defect the fixture is
#    named for. The library keeps the icon's entry.
fresh
cp "$data/iff/malformed/no_body.iff" "$work/lib/lbm/i3_3_0_2.lbm"
cp "$data/iff/malformed/truncated_body.iff" "$work/lib/lbm/i3_3_0_3.lbm"
cp "$work/lib/demo30.blk" "$work/blk.before"
expect_status 1 "create with refused IFF sources" "$zgl" create "$work/lib/demo.zgl"
expect_reason "IFF without BODY" 'ZCreate: IFF lbm\i3_3_0_2.lbm could not be loaded' \
  'zgl: lbm\i3_3_0_2.lbm: no BODY chunk: the file holds no picture data'
expect_reason "IFF cut short" 'ZCreate: IFF lbm\i3_3_0_3.lbm could not be loaded' \
  'zgl: lbm\i3_3_0_3.lbm: the picture data end before its last row'
# Only the two messages and their reasons (and the run's summary): every other line of
# stderr is as it was.
[ "$(grep '^zgl: ' "$work/err" | grep -vc '^zgl: 2000 icons: ')" -eq 2 ] ||
  fail "refused IFF: other zgl lines: $(cat "$work/err")"

# 4. save ICON - writes the same bytes as save ICON FILE, to standard output; titles go to
#    stderr then, so stdout holds the picture alone.
fresh
expect_status 0 "save to a file" "$zgl" save "$work/lib/demo.zgl" 3005 "$work/saved.pcx"
expect_status 0 "save to standard output" "$zgl" save "$work/lib/demo.zgl" 3005 -
cmp -s "$work/out" "$work/saved.pcx" || fail "save - wrote other bytes than save FILE"
expect_status 0 "save a PNG to a file" "$zgl" save "$work/lib/demo.zgl" 3005 "$work/saved.png"
expect_status 0 "save a PNG to standard output" "$zgl" save --format png "$work/lib/demo.zgl" 3005 -
cmp -s "$work/out" "$work/saved.png" || fail "save --format png - wrote other bytes than save FILE.png"
# A terminal is refused before anything is read; nothing reaches it.
pty_run() {
  python3 - "$@" <<'EOF'
import os, pty, subprocess, sys
master, slave = pty.openpty()
done = subprocess.run(sys.argv[1:], stdout=slave, stderr=subprocess.PIPE)
os.close(slave)
shown = b""
try:
    while chunk := os.read(master, 65536):
        shown += chunk
except OSError:
    pass
sys.stderr.buffer.write(done.stderr)
print(len(shown))
sys.exit(done.returncode)
EOF
}
expect_status 1 "save to a terminal" pty_run "$zgl" save "$work/lib/demo.zgl" 3005 -
[ "$(cat "$work/out")" = 0 ] || fail "save to a terminal wrote $(cat "$work/out") bytes there"
grep -q '^zgl: standard output is a terminal' "$work/err" || fail "terminal refusal: $(cat "$work/err")"

# 5. A failed write to standard output: the reason and status 1, for CLI11's texts too.
if [ -w /dev/full ]; then
  "$zgl" --version >/dev/full 2>"$work/err"
  [ $? -eq 1 ] || fail "--version to a full disk did not give status 1"
  grep -qx 'zgl: standard output: disk full' "$work/err" || fail "--version to /dev/full: $(cat "$work/err")"
  "$zgl" check "$work/lib/demo.zgl" >/dev/full 2>"$work/err"
  [ $? -eq 1 ] || fail "check to a full disk did not give status 1"
  grep -qx 'zgl: standard output: disk full' "$work/err" || fail "check to /dev/full: $(cat "$work/err")"
  "$zgl" save "$work/lib/demo.zgl" 3005 - >/dev/full 2>"$work/err"
  [ $? -eq 1 ] || fail "save - to a full disk did not give status 1"
  grep -qx 'zgl: standard output: disk full' "$work/err" || fail "save - to /dev/full: $(cat "$work/err")"
fi
expect_status 0 "--version" "$zgl" --version
[ ! -s "$work/err" ] || fail "--version wrote to stderr"

# 6. verify and the two copies of DBLK 3. An entry is made undecodable by turning the first
#    tag of its packed stream (a write tag) into a replicate tag that copies from before the
#    start; a byte in the middle of a stream changes a pixel and decodes all the same.
python_edit() { python3 - "$work/lib" "$@"; }
damage='
import struct, sys
lib, icon, where, how = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
offset, length = struct.unpack_from("<ii", open(f"{lib}/demo.ofs", "rb").read(), icon * 8)
single = f"{lib}/s{str(icon)[0]}_{str(icon)[1]}_{str(icon)[2]}_{str(icon)[3]}.zgi"
block = bytearray(open(f"{lib}/demo30.blk", "rb").read())
entry = block[offset:offset + length] if where == "block" else bytearray(open(single, "rb").read())
assert entry[:3] == b"KZP"
if how == "tag":
    entry[4] |= 0x80
else:
    entry[len(entry) // 2] ^= 0x20
if where == "block":
    block[offset:offset + length] = entry
    open(f"{lib}/demo30.blk", "wb").write(block)
else:
    open(single, "wb").write(entry)
'
# The block copy does not decode, the single copy does: the block file is blamed.
fresh
python3 -c "$damage" "$work/lib" 3004 block tag
expect_status 1 "verify, block copy damaged" "$zgl" verify "$work/lib/demo.zgl"
grep -q '^icon 3004: demo30.blk: differs from the single entry file s3_0_0_4.zgi .*the block copy is damaged' \
  "$work/out" || fail "block copy damaged: $(cat "$work/out")"
grep -q '^icon 3004: s3_0_0_4.zgi: ' "$work/out" && fail "block copy damaged: the intact single copy blamed"
# The single copy does not decode, the block copy does: the single entry file is blamed.
fresh
python3 -c "$damage" "$work/lib" 3004 single tag
expect_status 1 "verify, single copy damaged" "$zgl" verify "$work/lib/demo.zgl"
grep -q '^icon 3004: s3_0_0_4.zgi: differs from the block copy in demo30.blk .*this copy is damaged' \
  "$work/out" || fail "single copy damaged: $(cat "$work/out")"
grep -q '^icon 3004: demo30.blk: ' "$work/out" && fail "single copy damaged: the intact block copy blamed"
# Both decode and no checksum file says which copy changed: both are named.
fresh
rm -f "$work/lib/demo.ofs.sum"
python3 -c "$damage" "$work/lib" 3004 block pixel
expect_status 1 "verify, copies differ" "$zgl" verify "$work/lib/demo.zgl"
grep -q '^icon 3004: demo30.blk and s3_0_0_4.zgi: the two copies differ (.*cannot tell which' "$work/out" \
  || fail "indistinguishable copies: $(cat "$work/out")"
[ "$(grep -c '^icon ' "$work/out")" -eq 1 ] || fail "indistinguishable copies: other findings"

finish "zgl reasons"
