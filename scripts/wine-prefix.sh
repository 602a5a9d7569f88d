#!/usr/bin/env bash
# Prepares, starts and stops the Wine prefix of a build folder.
#   wine-prefix.sh up BUILD_DIR [PREFIX]    boot the prefix once, then keep its server alive
#   wine-prefix.sh down BUILD_DIR [PREFIX]  stop the services we started and end the server
# The prefix is PREFIX, by default BUILD_DIR/wineprefix (the tests'); never ~/.wine.
set -euo pipefail
cmd=${1:?up or down}
build=$(cd "${2:?build folder}" && pwd)
export WINEPREFIX="${3:-$build/wineprefix}" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case "$cmd" in
  up)
    # The server and the system processes it starts outlive this script: they must not
    # keep a build tool's descriptors open (ninja watches one to see a job end, and the
    # bench target would wait for them forever). Bash reads this script through fd 255.
    for fd in /proc/$$/fd/*; do
      fd=${fd##*/}
      if [ "$fd" -gt 2 ] && [ "$fd" -ne 255 ]; then eval "exec $fd>&-"; fi
    done
    if [ ! -f "$WINEPREFIX/.kv-ready" ]; then
      rm -rf "$WINEPREFIX"
      # Boot first, let it settle, then the persistent server: the other order has
      # been seen to leave duplicate system processes behind.
      timeout 120 wineboot -i </dev/null >/dev/null 2>&1
      timeout 60 wineserver -w
      timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
      timeout 60 wineserver -w
      touch "$WINEPREFIX/.kv-ready"
    fi
    # Without a persistent server Wine ends services and drivers silently once the
    # last ordinary program exits. Has no effect when a server already runs. Detached
    # from our standard streams: the server and the system processes it starts outlive
    # this script, and a caller reading our output (a build tool, a pipe) would wait for
    # them forever.
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
    # Make sure the server answers (and its system processes run) before we go on.
    timeout 60 wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
    ;;
  down)
    [ -d "$WINEPREFIX" ] || exit 0
    if [ -z "${3:-}" ] && [ -f "$build/wine-services.txt" ]; then
      while read -r svc; do
        [ -n "$svc" ] && timeout 30 wine net stop "$svc" </dev/null >/dev/null 2>&1 || true
      done < "$build/wine-services.txt"
    fi
    timeout 30 wineserver -k 2>/dev/null || true
    ;;
  *) echo "usage: $0 up|down BUILD_DIR" >&2; exit 2 ;;
esac
