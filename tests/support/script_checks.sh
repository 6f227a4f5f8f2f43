# What the scripted tests of zgl share, sourced at their start: a scratch folder $work
# (removed on exit), failures counted by fail, a command's exit status checked by
# expect_status (its output left in $work/out and $work/err), and the verdict: finish NAME.
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
finish() {  # what was checked
  if [ "$failures" -gt 0 ]; then
    echo "$failures failure(s)" >&2
    exit 1
  fi
  echo "all $1 checks passed"
}
