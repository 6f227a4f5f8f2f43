#!/usr/bin/env bash
# The Wine server that the Windows suites of one build tree share, in the prefix WINEPREFIX:
#   wine_server.sh start WINE-RUN   makes the prefix when it is missing and starts its server
#   wine_server.sh stop             ends the server and the programs left in the prefix
# The prefix's temporary folder, where every suite makes its libraries, is put on tmpfs where
# the machine has one that keeps extended attributes (Wine keeps the archive attribute in
# one): on a disk, creating and deleting thousands of small files costs Wine's server more
# than the suites' own work.
# Wine's helper programs start with the server and live as long as it does; started here, they
# hold no suite's output open (ctest would wait for them). The server also ends by itself ten
# minutes after its last program, should the suites be cut short.
set -eu
case "$1" in
  start)
    mkdir -p "$WINEPREFIX"
    log=$WINEPREFIX/start.log
    { wineserver -p600 && "$2" wineboot --init; } </dev/null >"$log" 2>&1 || {
      cat "$log"
      exit 1
    }
    temp=$WINEPREFIX/drive_c/users/$(id -un)/Temp
    shm=/dev/shm/zgl-wine-temp-$(printf %s "$WINEPREFIX" | md5sum | cut -c1-12)
    if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] && mkdir -p "$shm" &&
       touch "$shm/.probe" && setfattr -n user.zgl -v 1 "$shm/.probe" 2>/dev/null; then
      # What earlier suites left in the folder on disk is of no further use.
      [ -L "$temp" ] || rm -rf "$temp"
      ln -sfn "$shm" "$temp"
    elif [ -L "$temp" ]; then
      rm -f "$temp" && mkdir -p "$temp"
    fi
    rm -f "$shm/.probe" ;;
  stop)
    wineserver -k 2>/dev/null || true ;;
esac
