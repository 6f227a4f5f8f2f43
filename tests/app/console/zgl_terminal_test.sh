#!/usr/bin/env bash
# zgl on a terminal, driven through a pseudo-terminal: the live status line fits the
# terminal's width, TERM=dumb gets plain lines, stdout in a file keeps every title line
# while stderr is the terminal, messages never land inside the live line, --quiet, and
# Ctrl-C typed in the middle of a run.
#   zgl_terminal_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"
python=/usr/bin/python3
if [ ! -x "$python" ]; then
  echo "SKIP: $python is missing (tools/install-deps installs python3)"
  exit 77
fi
in_terminal() { "$python" "$(dirname "$0")/../../support/run_in_terminal.py" "$@"; }
fresh() {  # a new copy of the demo project in $work/$1
  rm -rf "${work:?}/$1"
  mkdir "$work/$1"
  cp -R "$demo/." "$work/$1/"
}
# What a terminal would show, piece by piece: the transcript cut at every carriage return
# and line end, the escape code that clears a line dropped. Wherever a message was written
# into a live line without clearing it first, the two stand in one piece.
pieces() {
  # (A reader that has seen enough may go: grep -q.)
  "$python" - "$1" 2>/dev/null <<'EOF'
import re, sys
text = open(sys.argv[1], "rb").read().decode("utf-8", "replace").replace("\x1b[K", "")
for piece in re.split("[\r\n]", text):
    if piece:
        print(piece)
EOF
}
live_lines() { pieces "$1" | grep -E '^(\[[#.]*\] )?[ 0-9]{2}[0-9]% '; }
# The columns of the widest live line (a character is a column).
widest_live_line() {
  live_lines "$1" | "$python" -c 'import sys; print(max((len(l.rstrip("\n")) for l in sys.stdin), default=0))'
}

# A source that cannot be loaded, in the middle of the range: its message comes while the
# live line stands.
fresh wide
printf 'no picture' >"$work/wide/pcx/p3_5_0_0.pcx"
cp -R "$work/wide" "$work/narrow"

# The width of the terminal is honoured: no live line as wide as it, on 60 columns as on 200,
# and the names are cut only where they do not fit.
in_terminal --cols 60 --term xterm "$work/narrow.tr" -- "$zgl" create "$work/narrow/demo.zgl"
[ "$(live_lines "$work/narrow.tr" | wc -l)" -gt 0 ] || fail "60 columns: no live line: $(head -c 300 "$work/narrow.tr")"
[ "$(widest_live_line "$work/narrow.tr")" -lt 60 ] \
  || fail "60 columns: a live line of $(widest_live_line "$work/narrow.tr") columns"
in_terminal --cols 200 --term xterm "$work/wide.tr" -- "$zgl" create "$work/wide/demo.zgl"
[ "$(widest_live_line "$work/wide.tr")" -lt 200 ] \
  || fail "200 columns: a live line of $(widest_live_line "$work/wide.tr") columns"
! live_lines "$work/wide.tr" | grep -q '% .*\.\.\.' || fail "200 columns: a title cut: $(live_lines "$work/wide.tr" | grep -m 1 '% .*\.\.\.')"
live_lines "$work/narrow.tr" | grep -q '% pcx\\p[34]_.*\.\.\.' \
  || fail "60 columns: no cut title that keeps the name: $(live_lines "$work/narrow.tr" | head -n 1)"
# What the live line shows last is the run's end, whatever was drawn before (the last icon's
# title line, as a run without a terminal prints it); the summary follows on a line of its
# own.
fresh piped
"$zgl" create "$work/piped/demo.zgl" >"$work/piped.out" 2>/dev/null
last_title=$(tail -n 1 "$work/piped.out")
for transcript in narrow wide; do
  live_lines "$work/$transcript.tr" | tail -n 1 | grep -q '^\[#*\] 100% pcx\\p4_9_9_9\.pcx ' \
    || fail "$transcript: the live line does not end at 100% and icon 4999: $(live_lines "$work/$transcript.tr" | tail -n 1)"
done
[[ "$(live_lines "$work/wide.tr" | tail -n 1)" == *"100% ${last_title#ZCreate - }" ]] \
  || fail "200 columns: the last live line is not the last icon's title ($last_title)"
for transcript in narrow wide; do
  pieces "$work/$transcript.tr" | tail -n 1 | grep -q '^zgl: 2000 icons: 41 converted' \
    || fail "$transcript: no summary at the end: $(pieces "$work/$transcript.tr" | tail -n 1)"
  # Messages stand on lines of their own: each is a piece of its own, at its start.
  pieces "$work/$transcript.tr" | grep -qx 'ZCreate: PCX pcx\\p3_5_0_0.pcx could not be loaded' \
    || fail "$transcript: the message of the broken source is not a line of its own"
  ! pieces "$work/$transcript.tr" | grep -qE '.(ZCreate|zgl): ' \
    || fail "$transcript: a message inside another line: $(pieces "$work/$transcript.tr" | grep -m 1 -E '.(ZCreate|zgl): ')"
  # The live line replaces the titles on the terminal.
  ! pieces "$work/$transcript.tr" | grep -q '^ZCreate - ' || fail "$transcript: title lines beside the live line"
done

# TERM=dumb: not one escape code; the titles come as lines, one per icon, as in a file.
fresh dumb
in_terminal --term dumb "$work/dumb.tr" -- "$zgl" create "$work/dumb/demo.zgl"
! grep -q $'\x1b' "$work/dumb.tr" || fail "TERM=dumb: an escape code was sent"
[ "$(pieces "$work/dumb.tr" | grep -c '^ZCreate - ')" -eq 2000 ] \
  || fail "TERM=dumb: $(pieces "$work/dumb.tr" | grep -c '^ZCreate - ') title lines, not 2000"

# stdout in a file, stderr on the terminal: the file gets every title line, as without a
# terminal; the terminal gets the messages and the summary, and no live line.
fresh filed
in_terminal --term xterm "$work/filed.tr" -- bash -c "'$zgl' create '$work/filed/demo.zgl' >'$work/filed.out'"
[ "$(wc -l <"$work/filed.out")" -eq 2000 ] || fail "stdout in a file: $(wc -l <"$work/filed.out") lines, not 2000"
cmp -s "$work/piped.out" "$work/filed.out" || fail "stdout in a file: other lines than without a terminal"
! grep -q $'\x1b' "$work/filed.tr" || fail "stdout in a file: an escape code on the terminal"
[ "$(pieces "$work/filed.tr" | tr '\n' '|' | sed 's/; [0-9.]* s|$//')" = \
  "ZCreate: Could not read coordinates file demo.coo. Creating new one.|zgl: 2000 icons: 41 converted ($(cat "$work/filed/"*.blk | wc -c) bytes stored), 0 skipped, 1959 not found; 0 warnings" ] \
  || fail "stdout in a file: the terminal shows $(pieces "$work/filed.tr" | tr '\n' '|')"

# --quiet: no titles and no live line, on a terminal or not; the summary stays.
fresh quiet
in_terminal --term xterm "$work/quiet.tr" -- "$zgl" -q create "$work/quiet/demo.zgl"
! grep -q $'\x1b' "$work/quiet.tr" || fail "--quiet: the live line was drawn"
! pieces "$work/quiet.tr" | grep -q 'ZCreate - ' || fail "--quiet: a title was shown"
pieces "$work/quiet.tr" | grep -q '^zgl: 2000 icons: 41 converted' || fail "--quiet: no summary"
expect_status 0 "quiet check" "$zgl" check --quiet "$work/quiet/demo.zgl"
[ ! -s "$work/out" ] || fail "--quiet check printed titles: $(head -n 1 "$work/out")"
grep -qx 'zgl: 2000 icons checked (3000 to 4999): 41 intact, 0 damaged, 1959 without entry; 0 warnings; [0-9.]* s' \
  "$work/err" || fail "--quiet check: $(cat "$work/err")"
expect_status 2 "--quiet with --verbose" "$zgl" -q -v create "$work/quiet/demo.zgl"

# Ctrl-C typed while a run is in the middle of a larger project: the run finishes the icon
# in hand and says which that was; the library holds exactly the icons up to it and checks
# clean. It is typed at the first live line that names a source: the line is redrawn ten
# times a second at most, and the whole run takes a fifth of a second, so waiting for a
# later icon could miss every redraw. On a busy machine the key can still come after the
# run's last icon, or after its end: the library must be whole then as well, and the
# scenario is tried again with a fresh library, up to five times in all.
mkdir -p "$work/big/pcx"
for i in $(seq 3000 3999); do
  cp "$demo/pcx/p3_0_0_0.pcx" "$work/big/pcx/p${i:0:1}_${i:1:1}_${i:2:1}_${i:3:1}.pcx"
done
sed -e 's/^DPAK .*/DPAK 2/' -e 's/^DARC .*/DARC 0/' "$demo/demo.zgl" >"$work/big/big.zgl"
tries=0
middle=0
while [ "$tries" -lt 5 ] && [ "$middle" = 0 ]; do
  tries=$((tries + 1))
  find "$work/big" -maxdepth 1 -type f ! -name big.zgl -delete
  in_terminal --term xterm --interrupt-after '% pcx.p3_' "$work/big.tr" -- "$zgl" create "$work/big/big.zgl"
  status=$?
  last=$(pieces "$work/big.tr" | tail -n 1)
  if [ "$status" -eq 130 ]; then
    icon=$(sed -n 's/^zgl: stopped after icon \([0-9]*\); the library is whole$/\1/p' <<<"$last")
    if [ -z "$icon" ]; then
      fail "Ctrl-C: the last line is $last"
      break
    fi
    [ "$icon" -ge 3000 ] && [ "$icon" -le 4999 ] || fail "Ctrl-C: stopped after icon $icon"
  elif [ "$status" -eq 0 ] && grep -q '^zgl: 2000 icons: 1000 converted' <<<"$last"; then
    icon=4999  # the key came after the run's end
  else
    fail "Ctrl-C: status $status, expected 130: $last"
    break
  fi
  # Sources stand at icons 3000 to 3999: those up to the icon in hand are in the library.
  intact=$(( (icon < 3999 ? icon : 3999) - 2999 ))
  expect_status 0 "check after Ctrl-C" "$zgl" check "$work/big/big.zgl"
  tail -n 1 "$work/err" | grep -q "^zgl: 2000 icons checked (3000 to 4999): $intact intact, 0 damaged, " \
    || fail "Ctrl-C after icon $icon: the library holds other icons: $(tail -n 1 "$work/err")"
  [ ! -e "$work/big/BLTEMP" ] || fail "Ctrl-C: BLTEMP left"
  [ "$icon" -lt 3999 ] && middle=1
done
[ "$middle" = 1 ] || fail "Ctrl-C: the key came after the run's last source in $tries tries"

finish "zgl terminal"
