#!/usr/bin/env bash
# The Wine server that the Windows suites of one build tree share, in the prefix WINEPREFIX:
#   wine_server.sh start WINE-RUN   makes the prefix when it is missing and starts its server
#   wine_server.sh stop             ends the server and the programs left in the prefix
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
    } ;;
  stop)
    wineserver -k 2>/dev/null || true ;;
esac
