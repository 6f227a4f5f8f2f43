#!/usr/bin/env bash
# The traps of a project file, from the outside: names whose closing blank an editor
# stripped, a tag misspelt or in lower case, a pattern too short for its number. Each is
# refused before anything is written, or warned about with the tag that was meant; lint
# shows what the file sets and the same findings without touching the library.
#   zgl_project_file_test.sh ZGL DEMO_FOLDER
set -u
zgl=$1
demo=$2
. "$(dirname "$0")/../../support/script_checks.sh"

tree() { (cd "$work/lib" && find . | sort); }
fresh() {  # a copy of the demo without a library
  rm -rf "$work/lib"
  mkdir "$work/lib"
  cp -R "$demo/." "$work/lib/"
  tree >"$work/fresh"
}
nothing_written() {  # what
  local made
  made=$(tree | comm -13 "$work/fresh" - | tr '\n' ' ')
  [ -z "$made" ] || fail "$1: files were made: $made"
}

# Trailing blanks stripped: the names run over the line ends. Refused, the tag named, the
# name shown escaped, nothing made (today's Windows could not make such a file anyway).
fresh
sed -i 's/ $//' "$work/lib/demo.zgl"
expect_status 1 "stripped blanks: create" "$zgl" create "$work/lib/demo.zgl"
grep -qF 'FSEP: the name runs over a line end ("s0_0_0_0.zgi\nFCOO"): end each name with a blank' \
  "$work/err" || fail "stripped blanks: the refusal does not say why: $(head -c 300 "$work/err")"
nothing_written "stripped blanks"
expect_status 1 "stripped blanks: show" "$zgl" show "$work/lib/demo.zgl" --into "$work/x"
grep -qF 'runs over a line end' "$work/err" || fail "stripped blanks: show does not refuse"
[ ! -e "$work/x" ] || fail "stripped blanks: show wrote an export"
expect_status 1 "stripped blanks: lint" "$zgl" lint "$work/lib/demo.zgl"
grep -qF 'runs over a line end' "$work/err" || fail "stripped blanks: lint does not say so"
nothing_written "stripped blanks after lint"

# A pattern too short for the icon number: refused, with where the digits go.
fresh
sed -i 's/^FSEP s0_0_0_0.zgi /FSEP O\\0000.ZGI /' "$work/lib/demo.zgl"
expect_status 1 "short pattern: create" "$zgl" create "$work/lib/demo.zgl"
grep -qF 'FSEP' "$work/err" && grep -qF 's0_0_0_0.zgi' "$work/err" ||
  fail "short pattern: the refusal names neither the tag nor the digits' places: $(head -c 300 "$work/err")"
grep -q 'UNTITLED' "$work/err" && fail "short pattern: a write error per icon instead of a refusal"
nothing_written "short pattern"

# A misspelt tag and one in lower case: the run goes on as the file says, with one warning
# per word naming its line and the tag meant, exit 1.
fresh
sed -i 's/^DPAK 2$/DPACK 2/; s/^DARC 1$/darc 1/' "$work/lib/demo.zgl"
expect_status 1 "near misses: create" "$zgl" create "$work/lib/demo.zgl"
grep -qF '"DPACK" is no tag and was ignored; did you mean DPAK?' "$work/err" ||
  fail "DPACK: no warning: $(head -c 300 "$work/err")"
grep -qF '"darc" is no tag (tags are in capitals) and was ignored; did you mean DARC?' "$work/err" ||
  fail "darc: no warning"
[ -s "$work/lib/demo.ofs" ] || fail "near misses: the warnings stopped the run"
# A word further into a line is a comment, whatever it looks like.
fresh
printf ' note: DPACK and dpak are comments here\n' >>"$work/lib/demo.zgl"
expect_status 0 "comments" "$zgl" create "$work/lib/demo.zgl"

# lint: the settings tag by tag with the defaults marked, a clean project at status 0, and
# nothing touched: no library, no lock.
fresh
expect_status 0 "lint on the demo" "$zgl" lint "$work/lib/demo.zgl"
grep -qE '^  DPAK  2 +every entry is packed$' "$work/out" || fail "lint: DPAK: $(cat "$work/out")"
grep -qE '^  FSEP  s0_0_0_0.zgi +single entry files: s3_0_0_0.zgi for icon 3000$' "$work/out" ||
  fail "lint: FSEP"
grep -qE '^  FPNG  - +default +PNG sources' "$work/out" || fail "lint: FPNG is not marked default"
grep -qE '^  NSIZ  5000 +entries' "$work/out" || fail "lint: NSIZ"
[ "$(grep -cE '^  [A-Z]{4}  ' "$work/out")" -eq 20 ] || fail "lint: not every tag is listed"
grep -qF 'zgl: demo.zgl: no warnings' "$work/err" || fail "lint: no verdict: $(cat "$work/err")"
nothing_written "lint"
sed -i 's/^DPAK 2$/DPACK 2/' "$work/lib/demo.zgl"
expect_status 1 "lint with a near miss" "$zgl" lint "$work/lib/demo.zgl"
grep -qF 'did you mean DPAK?' "$work/err" || fail "lint: the near miss is not named"
grep -qE '^  DPAK  0 +default +no entry is packed$' "$work/out" ||
  fail "lint: the misspelt DPAK should leave the default"
grep -qF 'zgl: demo.zgl: 1 warning' "$work/err" || fail "lint: no count: $(cat "$work/err")"
# The file holds more than is read.
fresh
head -c 5000 /dev/zero | tr '\0' ' ' >>"$work/lib/demo.zgl"
expect_status 1 "lint on a long file" "$zgl" lint "$work/lib/demo.zgl"
grep -qF 'only its first 4096 bytes are read' "$work/err" || fail "lint: the long file"
expect_status 1 "lint without a file" "$zgl" lint "$work/lib/none.zgl"
expect_status 2 "lint without a name" "$zgl" lint
expect_status 0 "lint --help" "$zgl" lint --help
grep -q 'Exit status: 0 the project can be used' "$work/out" || fail "lint --help: no exit statuses"

finish "project file"
