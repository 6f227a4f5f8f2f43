#!/usr/bin/env bash
# The zgl program from the outside: usage and help, exit statuses, the title and warning line
# formats, and Ctrl-C, SIGTERM and SIGHUP in the middle of a run leaving a consistent library.
#   zgl_console_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"
# Every stdout line a title, every stderr line a message box but the last, zgl's summary.
expect_formats() {
  local what=$1
  if grep -qvE '^ZCreate - .* \(.*\) - -?[0-9]+' "$work/out"; then
    fail "$what: stdout line that is no title: $(grep -vE '^ZCreate - .* \(.*\) - -?[0-9]+' "$work/out" | head -n 1)"
  fi
  if sed '$d' "$work/err" | grep -qvE '^(ZCreate|KZP): '; then
    fail "$what: stderr line that is no message: $(sed '$d' "$work/err" | grep -vE '^(ZCreate|KZP): ' | head -n 1)"
  fi
  tail -n 1 "$work/err" | grep -qE '^zgl: 2000 icons' || fail "$what: no summary at the end: $(tail -n 1 "$work/err")"
}

# Usage.
expect_status 0 "--version" "$zgl" --version
grep -q '^zgl (ZEMLO Creator) ' "$work/out" || fail "--version text"
expect_status 0 "-V" "$zgl" -V
grep -q '^zgl (ZEMLO Creator) ' "$work/out" || fail "-V gives the version"
# zgl help is the command list (the window's help is about its buttons).
expect_status 0 "help" "$zgl" help
grep -q 'To check a ZGL block set' "$work/out" && fail "help gives the window's help"
grep -q '^  create  ' "$work/out" || fail "help lists the commands"
expect_status 0 "help tags" "$zgl" help tags
for tag in FSEP FCOO FOFS FBLK FPCX FLBM FPNG FWAV NSIZ BLKB DBLK DPAK DARC DVIE; do
  grep -q "^  $tag  " "$work/out" || fail "help tags lacks $tag"
done
grep -q 'end every name with a blank' "$work/out" || fail "help tags says how names end"
expect_status 0 "help exit" "$zgl" help exit
for command in create show check save font verify report repair help; do
  grep -q "^$command:" "$work/out" || fail "help exit lacks $command"
done
# Each command's help gives its own exit statuses.
expect_status 0 "verify --help" "$zgl" verify --help
grep -q '^Exit status: 0 no findings, 1 findings' "$work/out" || fail "verify --help exit statuses"
grep -q '1 a warning' "$work/out" && fail "verify --help speaks of warnings"
expect_status 0 "repair --help" "$zgl" repair --help
grep -q '^Exit status: 0 nothing left to repair' "$work/out" || fail "repair --help exit statuses"
grep -q 'PROJECT' "$work/out" || fail "repair --help does not name its PROJECT"
expect_status 0 "font --help" "$zgl" font --help
grep -q 'PROJECT.zgl' "$work/out" && fail "font --help speaks of PROJECT.zgl"
grep -q '^Exit status: 0 built and saved' "$work/out" || fail "font --help exit statuses"
# Help on a topic: what is read and written, or one command's own help.
expect_status 0 "help formats" "$zgl" help formats
grep -q '^  FPNG  PNG pictures' "$work/out" || fail "help formats names the PNG sources"
grep -q '^  show    .*--format png' "$work/out" || fail "help formats names PNG output"
expect_status 0 "help create" "$zgl" help create
grep -q '^Usage: zgl create' "$work/out" || fail "help create gives create's usage"
expect_status 2 "help on no such topic" "$zgl" help crate
grep -q '^zgl: no help on "crate"' "$work/err" || fail "help on no such topic says so"
# Help goes to stdout with status 0, for the program and for each command; usage errors to
# stderr with status 2.
expect_status 0 "--help" "$zgl" --help
grep -q '^Usage: zgl' "$work/out" || fail "--help text on stdout"
for command in create show check save font help; do
  expect_status 0 "$command --help" "$zgl" "$command" --help
  grep -q "^Usage: zgl $command" "$work/out" || fail "$command --help text"
done
expect_status 0 "save --help" "$zgl" save --help
grep -q -- '-f,--force' "$work/out" || fail "save --help names --force"
expect_status 0 "show --help" "$zgl" show --help
grep -q -- '--into DIR' "$work/out" || fail "show --help names --into"
grep -q -- '-f,--force' "$work/out" && grep -q -- '-a,--all' "$work/out" \
  || fail "show --help names --force and --all"
expect_status 2 "no command" "$zgl"
expect_status 2 "unknown command" "$zgl" frobnicate x.zgl
grep -qx 'zgl: unknown command frobnicate' "$work/err" || fail "unknown command message"
# A typo gets the command it was near; a word near none gets no guess.
expect_status 2 "mistyped command" "$zgl" crate x.zgl
grep -qx 'zgl: unknown command crate; did you mean create?' "$work/err" || fail "crate: did you mean create"
expect_status 2 "swapped letters" "$zgl" shwo x.zgl
grep -qx 'zgl: unknown command shwo; did you mean show?' "$work/err" || fail "shwo: did you mean show"
expect_status 2 "unknown option" "$zgl" create --frobnicate x.zgl
grep -q 'frobnicate' "$work/err" || fail "unknown option named"
expect_status 2 "create without project" "$zgl" create
expect_status 2 "create with two projects" "$zgl" create a.zgl b.zgl
expect_status 2 "save with a bad icon" "$zgl" save x.zgl 30000 out.pcx
expect_status 2 "save with an icon that is no number" "$zgl" save x.zgl 3001x out.pcx
expect_status 2 "--into without a folder" "$zgl" show x.zgl --into
expect_status 2 "show with no jobs" "$zgl" show x.zgl --jobs 0

# A missing project is a warning named by its file name.
expect_status 1 "missing project" "$zgl" create "$work/none/nothing.zgl"
grep -qx 'zgl: cannot enter the folder of .*' "$work/err" || fail "missing folder message"
expect_status 1 "missing info file" "$zgl" create "$work/nothing.zgl"
grep -qx 'ZCreate: Could not read file nothing.zgl!' "$work/err" || fail "missing info file message"

# The demo: a new library notes its new coordinates file (no warning: status 0), one line
# per icon, the last title of each (a packed icon's "Verify OK"); the second run skips every
# unchanged source and shows no warning.
mkdir "$work/demo"
cp -R "$demo/." "$work/demo/"
expect_status 0 "first create" "$zgl" create "$work/demo/demo.zgl"
expect_formats "first create"
grep -qx 'ZCreate: Could not read coordinates file demo.coo. Creating new one.' "$work/err" \
  || fail "new coordinates file message"
[ "$(wc -l <"$work/out")" -eq 2000 ] || fail "create printed $(wc -l <"$work/out") lines, not one per icon"
grep -qx 'ZCreate - pcx\\p3_0_0_1.pcx (X-masked) - [0-9]*  -->  KZP [0-9]* ([0-9]*%) Verify OK' \
  "$work/out" || fail "X-masked title"
[ "$(grep -c 'Verify OK' "$work/out")" -eq 41 ] || fail "not every packed icon has its line"
expect_status 0 "verbose create" "$zgl" create --verbose "$work/demo/demo.zgl"
[ "$(wc -l <"$work/out")" -eq 2000 ] || fail "skipping run: one title per icon with --verbose"
rm -f "$work/demo/demo.coo" "$work/demo/demo.ofs"
expect_status 0 "verbose create of a new library" "$zgl" --verbose create "$work/demo/demo.zgl"
[ "$(wc -l <"$work/out")" -ge 2041 ] || fail "--verbose keeps the packer's titles"
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

# A font is never written through a link, dangling or not, --force or not; the link is named.
printf "the user's file" >"$work/victim"
ln -s "$work/victim" "$work/linked.fnt"
ln -s "$work/made.fnt" "$work/dangling.fnt"
for font in linked.fnt dangling.fnt; do
  expect_status 1 "font through $font" bash -c "cd '$work' && '$zgl' font --force '$demo/pcx/p3_0_0_0.pcx' $font"
  grep -qx "ZCreate: Could not save $font: it is a link, and nothing is written through links." \
    "$work/err" || fail "font through $font: $(head -c 300 "$work/err")"
done
[ "$(cat "$work/victim")" = "the user's file" ] && [ ! -e "$work/made.fnt" ] || fail "font written through a link"
expect_status 0 "font" bash -c "cd '$work' && '$zgl' font '$demo/pcx/p3_0_0_0.pcx' new.fnt"
[ -s "$work/new.fnt" ] || fail "font not written"

# Show exports into the tree (a project whose PCX pattern points there).
cp "$work/demo/demo.zgl" "$work/demo/show.zgl"
printf '\nFPCX IFF\\0\\0\\0\\0.pcx \n' >>"$work/demo/show.zgl"
expect_status 0 "show" "$zgl" show "$work/demo/show.zgl"
[ -s "$work/demo/IFF/3/0/0/1.pcx" ] && [ -s "$work/demo/IFF/4/9/9/9.pcx" ] || fail "export tree"
# On one thread and on three: the same files and the same lines.
expect_status 0 "show on one thread" "$zgl" show "$work/demo/show.zgl" --into "$work/one" -j 1
cp "$work/out" "$work/one.out"
expect_status 0 "show on three threads" "$zgl" show "$work/demo/show.zgl" --into "$work/three" -j 3
[ -s "$work/three/IFF/4/9/9/9.pcx" ] && [ -s "$work/one.out" ] || fail "show --jobs 3 export"
diff -r "$work/one" "$work/three" >/dev/null || fail "show --jobs 3 wrote other files"
diff <(sed 1d "$work/one.out") <(sed 1d "$work/out") >/dev/null || fail "show --jobs 3 printed other lines"

# Show never writes over an existing file without --force: in the project's folder the
# pattern names the sources, so the export is refused before anything is written, the first
# such file named; --force writes there the same files that --into writes elsewhere, and
# only for the icons with an entry; --all writes every icon of the range.
snapshot() { (cd "$1" && find . -printf '%p %y %s\n' | sort && find . -type f -exec md5sum {} + | sort); }
mkdir "$work/fresh"
cp -R "$demo/." "$work/fresh/"
"$zgl" create "$work/fresh/demo.zgl" >/dev/null 2>&1
snapshot "$work/fresh" >"$work/fresh.before"
expect_status 1 "show over the sources" "$zgl" show "$work/fresh/demo.zgl"
grep -qx "zgl: $work/fresh/pcx/p3_0_0_0.pcx exists; --force overwrites it, or --into DIR writes the export under DIR; nothing written" \
  "$work/err" || fail "show over the sources: $(head -c 300 "$work/err")"
snapshot "$work/fresh" | diff "$work/fresh.before" - >/dev/null || fail "refused show changed the project folder"
expect_status 0 "show into a folder" "$zgl" show "$work/fresh/demo.zgl" --into "$work/entries"
entries=$(sed -n 's/.* icons exported, \([0-9]*\) with an entry;.*/\1/p' "$work/err")
[ -n "$entries" ] && [ "$entries" -gt 30 ] || fail "show into a folder: no count of entries ($(tail -n 1 "$work/err"))"
grep -q "; $entries PCX files written\$" "$work/err" || fail "show into a folder: $(tail -n 1 "$work/err")"
[ "$(find "$work/entries/pcx" -type f | wc -l)" -eq "$entries" ] \
  || fail "show into a folder wrote $(find "$work/entries/pcx" -type f | wc -l) files for $entries entries"
expect_status 0 "show --force" "$zgl" show --force "$work/fresh/demo.zgl"
for file in "$work/entries/pcx/"*; do
  cmp -s "$file" "$work/fresh/pcx/${file##*/}" || fail "show --force did not write ${file##*/} as --into does"
done
# The sources stay, the icons with an entry from other kinds of source are added; nothing else.
sources=$(ls "$demo/pcx" "$work/entries/pcx" | grep '\.pcx$' | sort -u | wc -l)
[ "$(ls "$work/fresh/pcx" | wc -l)" -eq "$sources" ] || fail "show --force wrote icons without an entry"
expect_status 0 "show --all" "$zgl" show "$work/fresh/demo.zgl" --into "$work/every" --all
[ "$(find "$work/every/pcx" -type f | wc -l)" -eq 2000 ] || fail "show --all did not write 2000 files"
grep -q '; 2000 PCX files written$' "$work/err" || fail "show --all: $(tail -n 1 "$work/err")"

# Ctrl-C, SIGTERM (kill, timeout, a cancelled CI job) and SIGHUP (a closing terminal) in the
# middle of a run: the icon in hand is finished, the block closed, the tables written, no
# temporary file is left; the status tells which signal came; the library checks clean and
# the next run starts. A second signal changes nothing.
mkdir -p "$work/big/pcx"
for i in $(seq 3000 3999); do
  cp "$demo/pcx/p3_0_0_0.pcx" "$work/big/pcx/p${i:0:1}_${i:1:1}_${i:2:1}_${i:3:1}.pcx"
done
sed -e 's/^DPAK .*/DPAK 2/' -e 's/^DARC .*/DARC 0/' "$demo/demo.zgl" >"$work/big/big.zgl"
stop_mid_run() {  # signal, expected status
  local signal=$1 expected=$2
  rm -f "$work/out" "$work/err"
  touch "$work/before"
  "$zgl" create "$work/big/big.zgl" >"$work/out" 2>"$work/err" &
  local pid=$!
  for _ in $(seq 1 200); do
    [ "$(grep -c 'Verify OK' "$work/out" 2>/dev/null)" -gt 40 ] && break
    sleep 0.05
  done
  kill "-$signal" "$pid"
  sleep 0.01
  kill "-$signal" "$pid" 2>/dev/null
  wait "$pid"
  local status=$?
  [ "$status" -eq "$expected" ] || fail "$signal: status $status, expected $expected"
  [ ! -e "$work/big/BLTEMP" ] || fail "$signal: BLTEMP left"
  [ -z "$(find "$work/big" -name '*.zgl-new')" ] || fail "$signal: temporary file left"
  [ "$(stat -c %s "$work/big/demo.coo")" -eq 40000 ] || fail "$signal: coordinates file not written"
  [ "$(stat -c %s "$work/big/demo.ofs")" -eq 40000 ] || fail "$signal: offsets file not written"
  [ "$work/big/demo.coo" -nt "$work/before" ] || fail "$signal: coordinates file not rewritten"
  [ "$work/big/demo.ofs" -nt "$work/before" ] || fail "$signal: offsets file not rewritten"
  local done_icons
  done_icons=$(grep -c 'Verify OK' "$work/out")
  [ "$done_icons" -lt 1000 ] || fail "$signal did not stop the run ($done_icons icons)"
  # Nothing but the note of the new coordinates file, the summary and, last, where the run
  # stopped: the icon whose title line came last, as the run starts at 3000.
  local last_icon=$((3000 + $(wc -l <"$work/out") - 1))
  ! grep -v -e 'Creating new one' -e '^zgl: [0-9]* of 2000 icons: ' -e '^zgl: stopped after icon ' "$work/err" | grep -q . \
    || fail "$signal: $(head -c 300 "$work/err")"
  [ "$(tail -n 1 "$work/err")" = "zgl: stopped after icon $last_icon; the library is whole" ] \
    || fail "$signal: last line $(tail -n 1 "$work/err"), icon $last_icon was the last one finished"
  expect_status 0 "check after $signal" "$zgl" check "$work/big/big.zgl"
}
stop_mid_run INT 130
# The next run starts; its sources are converted again (DARC 0), so the tables change.
stop_mid_run TERM 143
stop_mid_run HUP 129
expect_status 0 "create after the signals" "$zgl" create "$work/big/big.zgl"
[ "$(grep -c 'Verify OK' "$work/out")" -eq 1000 ] || fail "the run after the signals did not finish"

finish "zgl console"
