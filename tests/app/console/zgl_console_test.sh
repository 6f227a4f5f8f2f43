#!/usr/bin/env bash
# The zgl program from the outside: exit statuses, the title and warning line formats, and
# Ctrl-C in the middle of a run leaving a consistent library.
#   zgl_console_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_status() {  # expected, description, command...
  local expected=$1 what=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [ "$status" -eq "$expected" ] || fail "$what: status $status, expected $expected ($(head -c 300 "$work/err"))"
}
# Every stdout line a title, every stderr line a message box.
expect_formats() {
  local what=$1
  if grep -qvE '^ZCreate - .* \(.*\) - -?[0-9]+' "$work/out"; then
    fail "$what: stdout line that is no title: $(grep -vE '^ZCreate - .* \(.*\) - -?[0-9]+' "$work/out" | head -n 1)"
  fi
  if grep -qvE '^(ZCreate|KZP): ' "$work/err"; then
    fail "$what: stderr line that is no message: $(grep -vE '^(ZCreate|KZP): ' "$work/err" | head -n 1)"
  fi
}

# Usage.
expect_status 0 "--version" "$zgl" --version
grep -q '^zgl (ZEMLO Creator) ' "$work/out" || fail "--version text"
expect_status 0 "help" "$zgl" help
grep -q 'To check a ZGL block set' "$work/out" || fail "help text"
expect_status 2 "--help" "$zgl" --help
expect_status 2 "no command" "$zgl"
expect_status 2 "unknown command" "$zgl" frobnicate x.zgl
expect_status 2 "create without project" "$zgl" create
expect_status 2 "save with a bad icon" "$zgl" save x.zgl 30000 out.pcx

# A missing project is a warning named by its file name.
expect_status 1 "missing project" "$zgl" create "$work/none/nothing.zgl"
grep -qx 'zgl: cannot enter the folder of .*' "$work/err" || fail "missing folder message"
expect_status 1 "missing info file" "$zgl" create "$work/nothing.zgl"
grep -qx 'ZCreate: Could not read file nothing.zgl!' "$work/err" || fail "missing info file message"

# The demo: a new library warns about its new coordinates file; the second run skips
# every unchanged source and shows no warning.
mkdir "$work/demo"
cp -R "$demo/." "$work/demo/"
expect_status 1 "first create" "$zgl" create "$work/demo/demo.zgl"
expect_formats "first create"
grep -qx 'ZCreate: Could not read coordinates file demo.coo. Creating new one.' "$work/err" \
  || fail "new coordinates file message"
grep -qx 'ZCreate - pcx\\p3_0_0_1.pcx (X-masked) - [0-9]*' "$work/out" || fail "X-masked title"
grep -qx 'ZCreate - pcx\\p3_0_1_8.pcx (not found (neither IFF, PCX nor WAV)) - 0' "$work/out" \
  || fail "not found title"
[ ! -e "$work/demo/BLTEMP" ] || fail "BLTEMP left after create"
expect_status 0 "second create" "$zgl" create "$work/demo/demo.zgl"
grep -qx 'ZCreate - s3_0_0_0.zgi (skipped) - 0' "$work/out" || fail "skipped title"
expect_status 0 "check" "$zgl" check "$work/demo/demo.zgl"
expect_formats "check"
[ "$(head -n 1 "$work/out")" = "ZCreate - Integrity check started (all ZGLs) - 20000" ] \
  || fail "first check title"
# 2>&1 keeps titles and messages in order.
rm -f "$work/demo/demo.coo"
"$zgl" check "$work/demo/demo.zgl" >"$work/both" 2>&1
[ "$(head -n 2 "$work/both" | tr '\n' '|')" = \
  "ZCreate: Could not read coordinates file demo.coo. Creating new one.|ZCreate - Integrity check started (all ZGLs) - 20000|" ] \
  || fail "order with 2>&1: $(head -n 2 "$work/both")"
# Without the coordinates file nothing is skipped: skipped icons would lose their places.
expect_status 1 "create after losing the coordinates" "$zgl" create "$work/demo/demo.zgl"
! grep -q '(skipped)' "$work/out" || fail "icons skipped although the coordinates were lost"

# One icon saved as a PCX file (from the caller's folder); an icon without entry is not.
expect_status 0 "save" bash -c "cd '$work' && '$zgl' save demo/demo.zgl 3001 one.pcx"
[ -s "$work/one.pcx" ] || fail "saved PCX missing"
expect_status 1 "save of an icon without entry" "$zgl" save "$work/demo/demo.zgl" 3018 "$work/none.pcx"
[ ! -e "$work/none.pcx" ] || fail "PCX written for an icon without entry"

# Show exports into the tree (a project whose PCX pattern points there).
cp "$work/demo/demo.zgl" "$work/demo/show.zgl"
printf '\nFPCX IFF\\0\\0\\0\\0.pcx \n' >>"$work/demo/show.zgl"
expect_status 0 "show" "$zgl" show "$work/demo/show.zgl"
[ -s "$work/demo/IFF/3/0/0/1.pcx" ] && [ -s "$work/demo/IFF/4/9/9/9.pcx" ] || fail "export tree"

# Ctrl-C in the middle of a run: the icon in hand is finished, the block closed, the
# coordinates file written; the library checks clean. A second Ctrl-C changes nothing.
mkdir -p "$work/big/pcx"
for i in $(seq 3000 3999); do
  cp "$demo/pcx/p3_0_0_0.pcx" "$work/big/pcx/p${i:0:1}_${i:1:1}_${i:2:1}_${i:3:1}.pcx"
done
sed -e 's/^DPAK .*/DPAK 2/' -e 's/^DARC .*/DARC 0/' "$demo/demo.zgl" >"$work/big/big.zgl"
"$zgl" create "$work/big/big.zgl" >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 200); do
  [ "$(grep -c '^ZCreate - ' "$work/out" 2>/dev/null)" -gt 40 ] && break
  sleep 0.05
done
kill -INT "$pid"
sleep 0.01
kill -INT "$pid" 2>/dev/null
wait "$pid"
status=$?
[ "$status" -eq 130 ] || fail "Ctrl-C status $status, expected 130"
[ ! -e "$work/big/BLTEMP" ] || fail "BLTEMP left after Ctrl-C"
[ -s "$work/big/demo.coo" ] || fail "coordinates file not written after Ctrl-C"
last=$(grep -c 'Verify OK' "$work/out")
[ "$last" -lt 1000 ] || fail "Ctrl-C did not stop the run ($last icons)"
expect_status 0 "check after Ctrl-C" "$zgl" check "$work/big/big.zgl"

if [ "$failures" -gt 0 ]; then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all zgl console checks passed"
