#!/usr/bin/env bash
# zgl as installed: `cmake --install` of the build folder into a scratch prefix gives a
# bin/zgl that runs, a manual page that renders without a warning and names every command and
# option, and a bash completion that completes the commands, a command's options and the
# files that fit each argument. What is expected comes from the installed zgl's own help.
#   zgl_install_test.sh CMAKE BUILD_DIR VERSION
set -u
cmake=$1
build=$2
version=$3
. "$(dirname "$0")/../../support/script_checks.sh"

prefix=$work/prefix
if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "FAIL: cmake --install $build" >&2
  exit 1
fi
zgl=$prefix/bin/zgl
page=$prefix/share/man/man1/zgl.1
completion=$prefix/share/bash-completion/completions/zgl
for file in "$zgl" "$page" "$completion"; do
  [ -s "$file" ] || { echo "FAIL: ${file#"$prefix"/} was not installed" >&2; exit 1; }
done

# The program runs from its new place and says the project's version.
expect_status 0 "installed zgl --version" "$zgl" --version
grep -qx "zgl (ZEMLO Creator) $version" "$work/out" || fail "--version: $(cat "$work/out")"
expect_status 0 "installed zgl help tags" "$zgl" help tags
"$zgl" --help >"$work/help"
# The commands and options as the help lists them.
commands=$(awk '/^Subcommands:/ { list = 1; next } list && /^  [a-z]/ { print $1 } list && /^$/ { exit }' "$work/help")
[ "$(wc -w <<<"$commands")" -ge 8 ] || fail "zgl --help lists only: $commands"
# Each command's options, one a line (the program's own under "zgl").
declare -A options
for command in zgl $commands; do
  options[$command]=$(if [ "$command" != zgl ]; then "$zgl" "$command" --help; else cat "$work/help"; fi |
    awk '/^Options:/ { list = 1; next } list && /^  -/ { print $1 } list && /^$/ { exit }' |
    tr ',' '\n')
done
has_line() { [[ $'\n'$2$'\n' == *$'\n'"$1"$'\n'* ]]; }  # line, lines

# The manual page: no warning from groff or man, and every command, option and tag on it.
if ! command -v groff >/dev/null || ! command -v man >/dev/null; then
  echo "FAIL: groff and man are needed (tools/install-deps installs man-db)" >&2
  exit 1
fi
groff -man -ww -z "$page" 2>"$work/groff" || fail "groff failed on the manual page"
[ ! -s "$work/groff" ] || fail "groff warns: $(head -n 5 "$work/groff")"
MANWIDTH=80 man --warnings -l "$page" >"$work/page" 2>"$work/man-warnings" || fail "man -l failed"
[ ! -s "$work/man-warnings" ] || fail "man warns: $(head -n 5 "$work/man-warnings")"
col -b <"$work/page" >"$work/page.txt"
grep -q "^ZEMLO Creator $version" "$work/page.txt" || fail "the page does not name version $version"
for section in NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS TAGS FORMATS "EXIT STATUS" FILES; do
  grep -qx "$section" "$work/page.txt" || fail "the page has no section $section"
done
page_text=$(<"$work/page.txt")
for command in $commands; do
  grep -qx "   $command" "$work/page.txt" || fail "the page has no part on $command"
  grep -q "^       zgl $command" "$work/page.txt" || fail "the synopsis lacks zgl $command"
  for option in ${options[$command]}; do
    [[ $page_text =~ $option[^a-z-] ]] || fail "the page does not name $command $option"
  done
done
for tag in $("$zgl" help tags | awk '/^  [A-Z]{4}  / { print $1 }'); do
  grep -q "^       $tag " "$work/page.txt" || fail "the page does not explain tag $tag"
done

# The completion, sourced as bash does and called as bash would on a Tab.
# shellcheck disable=SC1090
. "$completion"
complete -p zgl 2>/dev/null | grep -q -- '-F _zgl' || fail "the completion is not registered for zgl"
completed() {  # the words of the line, the last one being completed: the candidates, sorted
  COMP_WORDS=(zgl "$@")
  COMP_CWORD=$#
  COMPREPLY=()
  _zgl
  [ ${#COMPREPLY[@]} -eq 0 ] || printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect_completed() {  # description, expected candidates (one string), words...
  local what=$1 expected=$2 got
  shift 2
  got=$(completed "$@" | tr '\n' ' ')
  [ "$got" = "$expected" ] || fail "completion of $what: '$got', expected '$expected'"
}
[ "$(completed '' | tr '\n' ' ')" = "$(sort <<<"$commands" | tr '\n' ' ')" ] ||
  fail "the commands completed are not those of zgl --help: $(completed '' | tr '\n' ' ')"
expect_completed "a command begun" "create " cr
for option in --verbose --version; do
  completed - | grep -qx -- "$option" || fail "zgl - does not offer $option"
done
for command in $commands; do
  offered=$(completed "$command" -)
  for option in ${options[$command]}; do
    has_line "$option" "$offered" || fail "zgl $command - does not offer $option"
  done
  for option in $offered; do
    has_line "$option" "${options[$command]}"$'\n'"${options[zgl]}" ||
      fail "zgl $command - offers $option, which neither help names"
  done
done
expect_completed "--jobs of show begun" "--jobs " show --j

# Files: a project is a *.zgl file (in any case), a picture a PCX (or PNG for save); folders
# are offered to go into; --into takes a folder, --format one of its words.
mkdir -p "$work/files/sub"
cd "$work/files" || exit 1
touch a.zgl B.ZGL c.pcx d.png e.txt zgl.pcx.txt sub/x.zgl
expect_completed "a project" "B.ZGL a.zgl sub " create ''
expect_completed "a project after --verbose" "B.ZGL a.zgl sub " --verbose check ''
expect_completed "a project in a folder" "sub/x.zgl " verify sub/
expect_completed "a project after --jobs N" "B.ZGL a.zgl sub " show --jobs 2 ''
expect_completed "show --into" "sub " show a.zgl --into ''
expect_completed "show --format" "pcx png " show a.zgl --format ''
for format in $(completed show a.zgl --format ''); do
  grep -q -- "--format .*$format" < <("$zgl" show --help) || fail "show --help has no format $format"
done
expect_completed "save's ICON" "" save a.zgl ''
expect_completed "save's OUT" "c.pcx d.png sub " save a.zgl 3000 ''
expect_completed "save's OUT after --force" "c.pcx d.png sub " save a.zgl --force 3000 ''
expect_completed "report's OUTDIR" "sub " report a.zgl ''
expect_completed "font's PICTURE" "c.pcx sub " font ''
for topic in $(completed help ''); do
  "$zgl" help "$topic" >/dev/null 2>&1 || fail "help offers $topic, which zgl help refuses"
done
completed help '' | grep -qx tags || fail "help does not offer tags"
cd / || exit 1

finish "install"
