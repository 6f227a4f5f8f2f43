#!/usr/bin/env bash
# The README against the program it describes: it opens with the two commands for a fresh
# machine; its tag table has a row for every tag the parser knows and no other; its synopsis
# names every command zgl has; and every link in it and in docs/ reaches a file.
#   zgl_docs_test.sh ZGL SOURCE_DIR
set -u
zgl=$1
root=$2
. "$(dirname "$0")/../../support/script_checks.sh"
readme="$root/README.md"

# The first block: exactly the two commands, the demo's and the tests'.
first=$(awk '/^```/{n++; next} n==1' "$readme" | sed 's/ *#.*//' | grep -v '^$')
[ "$first" = $'tools/run-demo\ntools/test-all' ] || fail "the README does not open with the two commands: $first"
[ -x "$root/tools/run-demo" ] && [ -x "$root/tools/test-all" ] || fail "the two commands are not programs"

# Tags: lint lists every tag the parser knows (on the demo, which gives a valid project).
cp -R "$root/examples/demo/." "$work/"
"$zgl" lint "$work/demo.zgl" >"$work/lint" 2>/dev/null || fail "lint on the demo"
known=$(grep -oE '^  [A-Z]{4}  ' "$work/lint" | tr -d ' ' | sort)
[ "$(echo "$known" | wc -l)" -ge 20 ] || fail "lint listed too few tags: $known"
table=$(grep -oE '^\| `[A-Z]{4}` \|' "$readme" | tr -dc 'A-Z\n' | sort)
[ "$known" = "$table" ] || fail "README tag table against the parser's tags: $(diff <(echo "$known") <(echo "$table") | tr '\n' ' ')"
for tag in $known; do
  "$zgl" help tags | grep -q "$tag" || fail "zgl help tags does not name $tag"
done

# Commands: every command zgl has is in the README's synopsis.
commands=$("$zgl" --help | awk '/^Subcommands:/{on=1; next} on && /^  [a-z]/{print $1}')
[ -n "$commands" ] || fail "zgl --help listed no commands"
for command in $commands; do
  grep -qE "^zgl( \[[^]]*\])* $command( |$)" "$readme" || fail "the README's synopsis lacks $command"
done

# Links to files of the repository, from the README and from docs/.
for doc in "$readme" "$root"/docs/*.md; do
  for link in $(grep -oE '\]\([^)#:]+\)' "$doc" | sed 's/^](//; s/)$//'); do
    [ -e "$(dirname "$doc")/$link" ] || fail "$(basename "$doc"): the link $link reaches nothing"
  done
done

finish "documentation"
