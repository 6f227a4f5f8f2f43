#!/usr/bin/env bash
# ZCreate.exe driven like a user would, under Wine on a virtual X display:
#   gui_test.sh ZCreate.exe gui_driver.exe zgl.exe SOURCE_DIR ARTIFACT_DIR [window_parts_tests.exe]
# Checks the window at start-up, "Create ZGL" against `zgl create` byte for byte, "Integrity
# check", "Show ZGL" against `zgl show` with the viewer keys and the go-to dialog, "Save as PCX"
# and "Help", "Stop" during a run with a pixel check of the painted picture and its crop lines,
# and closing the window during a run. Screenshots and logs stay in ARTIFACT_DIR.
set -eu
abs() { echo "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; }
zcreate=$(abs "$1") driver=$(abs "$2") zgl=$(abs "$3") src=$(abs "$4") art=$(abs "$5")
parts=${6:+$(abs "$6")}
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
check="$py $here/gui_check.py"
# Wine with the loader that fits the programs (32-bit or 64-bit); one wineserver serves both.
wine=$(cd "$here/../../../tools" && pwd)/wine-run

rm -rf "$art"
mkdir -p "$art"
work=$art/work
log=$art/driver.log
: >"$log"

# A Wine prefix of its own: ending its server afterwards touches no other test's programs.
export WINEPREFIX=${GUI_WINEPREFIX:-$(dirname "$art")/gui-wineprefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

xvfb_pid=
zc_pid=
cleanup() {
  set +e
  [ -n "$zc_pid" ] && kill "$zc_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb :$n -screen 0 1024x768x24 -nolisten tcp >"$art/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -e /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
  export DISPLAY=:$n
fi
echo "display $DISPLAY, prefix $WINEPREFIX"

fail() { echo "FAIL: $*"; exit 1; }
# Windows path of a file here (Wine maps / as drive Z:).
winpath() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
# The driver's output goes through a file, not a pipe: a Wine helper process started along
# with it would inherit a pipe and keep it open for good.
drive() {
  echo "+ driver $*" >>"$log"
  local code=0
  "$wine" "$driver" "$@" </dev/null >"$art/step.out" 2>&1 || code=$?
  tr -d '\r' <"$art/step.out" | tee -a "$log"
  return "$code"
}
shot() {
  import -window root "$art/$1.png"
  echo "screenshot $art/$1.png"
}
# Starts ZCreate.exe in folder $1 and waits for its window.
start_zcreate() {
  (cd "$1" && exec "$wine" "$zcreate") </dev/null >>"$art/zcreate.log" 2>&1 &
  zc_pid=$!
  drive timeout 60000 wait-window
}
# Waits for ZCreate.exe to end after its window closed; its exit code must be 0.
wait_zcreate_end() {
  local code=0
  wait "$zc_pid" || code=$?
  zc_pid=
  [ "$code" -eq 0 ] || fail "ZCreate.exe ended with $code"
}

# One persistent server for the whole test, with its helper processes started here, out of
# the way of the steps' output; the first start makes the prefix (slow).
mkdir -p "$WINEPREFIX"
wineserver -p
"$wine" "$driver" sleep 0 </dev/null >/dev/null 2>&1 || true
# A prefix whose making was cut short (it happened once, under a loaded CI machine) has its
# registry but not its system files, and every later start fails: it is made again, once.
if [ ! -e "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ]; then
  echo "the prefix was not made whole; making it again"
  wineserver -k 2>/dev/null
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineserver -p
  "$wine" "$driver" sleep 0 </dev/null >/dev/null 2>&1 || true
fi

# ---- the window's parts on their own ------------------------------------------------------
if [ -n "$parts" ]; then
  "$wine" "$parts" </dev/null >"$art/window_parts.log" 2>&1 ||
    fail "window parts: $(tr -d '\r' <"$art/window_parts.log" | grep -E 'Failure|FAILED|error' | head -5)"
  tr -d '\r' <"$art/window_parts.log" | grep -E '^\[  PASSED' || true
fi

# ---- projects --------------------------------------------------------------------------
if [ -f "$src/examples/demo/demo.zgl" ]; then
  demo_src=$src/examples/demo
  project=demo.zgl
else
  demo_src=$art/generated-fast
  $check make-project "$demo_src" fast
  project=gui.zgl
fi
echo "project $demo_src/$project"
mkdir -p "$work"
for d in create reference; do cp -a "$demo_src" "$work/$d"; done
$check make-project "$work/stop" slow
cp -a "$work/stop" "$work/close"

info() { $check info "$1" "$2"; }
fcoo=$(info "$work/create/$project" FCOO)
fofs=$(info "$work/create/$project" FOFS)
dsta=$(info "$work/create/$project" DSTA)
coords_msg=()
[ -e "$work/create/$fcoo" ] || coords_msg=(message "Could not read coordinates file")

# ---- start-up, "Create ZGL" ---------------------------------------------------------------
start_zcreate "$work/create"
drive check-startup
shot startup
drive click "Create ZGL" open-file "$(winpath "$work/create/$project")" "${coords_msg[@]}" \
      timeout 900000 confirm-until-idle | tee "$art/create-messages.log"
drive expect-buttons "Create ZGL=on,Show ZGL=on,Integrity check=on,Stop=off,Font=on,Save as PCX=on,Help=on" \
      expect-progress 100 wait-title "ZCreate - "
shot after-create
# Cancelling "Show ZGL" still switches the viewer on: the left arrow leaves the run's end.
read -r _ before_end < <($check neighbours "$work/create/$fofs" 5000)
drive click "Show ZGL" cancel-file key 37 wait-title-end " - $before_end"

# The console program on a pristine copy must write the very same files.
(cd "$work/reference" && "$wine" "$zgl" create "$project") >"$art/zgl-create.log" 2>&1 || true
diff -r "$work/create" "$work/reference" >"$art/create-diff.log" 2>&1 ||
  fail "ZCreate and zgl create wrote different files: $(head -5 "$art/create-diff.log")"
ls "$work/create" | grep -q . || fail "no files"
echo "create: library identical to zgl create ($(ls "$work/create" | wc -l) files)"
[ ! -e "$work/create/BLTEMP" ] || fail "BLTEMP left after the run"

# ---- "Integrity check" ------------------------------------------------------------------------
drive click "Integrity check" open-file "$(winpath "$work/create/$project")" \
      timeout 600000 confirm-until-idle | tee "$art/check-messages.log"
drive expect-progress 24 expect-buttons "Create ZGL=on,Stop=off,Help=on" wait-title "ZCreate - "
# Every warning box the console's check shows, the window shows too.
(cd "$work/reference" && "$wine" "$zgl" check "$project") >"$art/zgl-check.log" 2>&1 || true
$check warnings "$art/check-messages.log" "$art/zgl-check.log" ||
  fail "the window's integrity check warned otherwise than zgl check"
drive close
wait_zcreate_end

# ---- "Show ZGL", the viewer keys, F1, "Save as PCX", "Help" -------------------------------------
cp -a "$work/create" "$work/show"
cp -a "$work/create" "$work/show-reference"
start_zcreate "$work/show"
# The export runs on the window's thread: once the title names the first icon, the window
# answers again only when all 2,000 icons are written.
drive remember-title click "Show ZGL" open-file "$(winpath "$work/show/$project")" \
      timeout 900000 wait-title-changed wait-responsive expect-buttons "Create ZGL=on,Show ZGL=on,Stop=off"
[ -d "$work/show/IFF/4/9/9" ] || fail "export tree missing"
[ "$(find "$work/show/IFF" -type d | wc -l)" -eq 223 ] || fail "export tree is not 223 folders"
# The window writes every icon over what is there; the console does so only when asked.
(cd "$work/show-reference" && "$wine" "$zgl" show --force --all "$project") >"$art/zgl-show.log" 2>&1 || true
diff -r "$work/show" "$work/show-reference" >"$art/show-diff.log" 2>&1 ||
  fail "Show ZGL and zgl show exported different files: $(head -5 "$art/show-diff.log")"
echo "show: export identical to zgl show"

read -r right left < <($check neighbours "$work/show/$fofs" 3000)
echo "viewer: right arrow from 3000 goes to $right, left arrow back to $left"
drive key 39 wait-title-end " - $right"
drive key 37 wait-title-end " - $left"
# Keys the viewer does not know change nothing.
drive key 65 sleep 500 wait-title-end " - $left"
goto=$(( right > 4999 ? 3000 : right ))
drive key 112 goto "$((dsta & 0xFFFF))" "$goto" wait-title-end " - $goto"
shot viewer
drive click "Save as PCX" open-file "$(winpath "$work/saved.pcx")" message "extracted."
exported=$($check stamp "$(info "$work/show/$project" FPCX)" "$goto")
cmp "$work/saved.pcx" "$work/show/$exported" || fail "the saved picture differs from its export"
drive click "Help" message "Browse the graphics set with cursor left/right keys"
# "Font": picture in, font out, the same bytes as the console's font command.
$check font-picture "$work/font.pcx"
drive click "Font" open-file "$(winpath "$work/font.pcx")" open-file "$(winpath "$work/gui.fnt")" \
      no-message 300
shot font
"$wine" "$zgl" font "$(winpath "$work/font.pcx")" "$(winpath "$work/zgl.fnt")" >"$art/zgl-font.log" 2>&1 ||
  fail "zgl font failed: $(cat "$art/zgl-font.log")"
cmp "$work/gui.fnt" "$work/zgl.fnt" || fail "Font and zgl font built different files"
echo "font: $(stat -c %s "$work/gui.fnt") bytes, identical to zgl font"
drive close
wait_zcreate_end

# ---- "Stop" during a run; the painted picture and its crop lines --------------------------------
start_zcreate "$work/stop"
drive click "Create ZGL" open-file "$(winpath "$work/stop/gui.zgl")" \
      message "Could not read coordinates file" \
      expect-buttons "Stop=on,Create ZGL=off,Show ZGL=off,Integrity check=off,Font=off,Save as PCX=off,Help=off" \
      force-command 3 no-file-dialog 1000 \
      click "Stop" timeout 300000 \
      expect-buttons "Stop=off,Create ZGL=on,Show ZGL=on,Integrity check=on,Font=on,Save as PCX=on,Help=on" \
      no-message 200 client-origin | tee "$art/stop.log"
position=$(drive print-progress | sed -n 's/^progress //p')
[ -n "$position" ] && [ "$position" -lt 15 ] || fail "the run was not stopped early (progress $position)"
echo "stop: run ended at progress $position"
[ ! -e "$work/stop/BLTEMP" ] || fail "BLTEMP left after Stop"
[ -s "$work/stop/gui.coo" ] || fail "no coordinates file after Stop"
read -r _ ox oy < <(grep '^client-origin' "$art/stop.log")
shot stopped
$check shot "$art/stopped.png" "$ox" "$oy" "$work/stop/pcx_3_0_0_0.pcx" | tee "$art/shot-check.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || fail "the painted picture or its crop lines are wrong"
drive close
wait_zcreate_end

# ---- closing the window while a run works ------------------------------------------------------
start_zcreate "$work/close"
drive click "Create ZGL" open-file "$(winpath "$work/close/gui.zgl")" \
      message "Could not read coordinates file" expect-buttons "Stop=on" sleep 1500 \
      timeout 300000 close
wait_zcreate_end
[ ! -e "$work/close/BLTEMP" ] || fail "BLTEMP left after closing during a run"
[ -s "$work/close/gui.coo" ] || fail "no coordinates file after closing during a run"
# The run ended early: the first icon is stored, the last source's icon was never reached.
[ "$($check length "$work/close/gui.ofs" 3000)" -gt 0 ] || fail "icon 3000 not stored"
[ "$($check length "$work/close/gui.ofs" 3599)" -eq 0 ] || fail "closing did not stop the run"
echo "close: the run stopped and finished its files before the process ended"

echo "PASS"
